#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

// Which Claude Code conversations are running elsewhere right now (background agents), from
// `claude agents --json`. The last answer is kept for five seconds, "cannot tell" included.
class ClaudeLiveSessionProbe {
public:
    // None when the program is not found, cannot start, times out or fails.
    static std::optional<QSet<QString>> liveSessionIDs(double timeoutSeconds);
    // A list of objects, or an object whose "agents" is one; the non-empty "sessionId" texts.
    static std::optional<QSet<QString>> parseSessionIDs(const QByteArray& json);

    // Where a local install of Claude Code keeps its launcher: ~/.claude/local/claude.
    static QString localInstallPath();

    static constexpr qint64 kCacheMs = 5000;

    // Test seams: a clock in milliseconds (null restores the monotonic one) and a cache reset.
    using Clock = std::function<qint64()>;
    static void setClock(Clock clock);
    static void reset();
};
