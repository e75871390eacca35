#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Picks a name for a new session: the user's priority names first, then a random name from the
// built-in pool, then "session-<ordinal>".
class SessionNamer {
public:
    using RandomPick = std::function<std::optional<QString>(const QStringList& candidates)>;

    static QString next(const QSet<QString>& taken, int ordinal, const QStringList& priority,
                        const RandomPick& randomPick = uniformPick);

    // The 24 built-in names, in their fixed order.
    static const QStringList& builtInPool();
    // Used when the user configured no priority names.
    static const QStringList& defaultPriority();
    // The "VRNXSessionNames" preference: comma-separated, each piece trimmed of spaces and tabs,
    // empty pieces dropped; the default list when nothing remains or it is absent.
    static QStringList priorityNames(const std::optional<QString>& preference);
    // A uniformly random element; none for an empty list.
    static std::optional<QString> uniformPick(const QStringList& candidates);
};
