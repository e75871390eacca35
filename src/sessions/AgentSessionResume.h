#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class AgentProvider;

// How a saved agent session starts again: resuming its conversation when the agent's own store
// still has it, opening the agent's picker when the conversation runs elsewhere, or fresh.
struct AgentSessionResume {
    // The arguments and banner handed to session creation as its launch arguments and banner.
    struct LaunchPlan {
        QStringList args;
        std::optional<QString> banner;
        bool isEmpty() const { return args.isEmpty() && !banner; }
        bool operator==(const LaunchPlan&) const = default;
    };

    // Conversations running elsewhere; none when the provider cannot tell.
    using LiveSessionProbe = std::function<std::optional<QSet<QString>>(const AgentProvider&)>;

    QString claudeProjectsRoot;
    QString codexSessionsRoot;
    LiveSessionProbe liveSessionProbe;

    // The user's stores under the current home, and each provider's own live-session probe.
    static AgentSessionResume standard();

    LaunchPlan launchPlan(const AgentProvider& agent, const std::optional<QString>& sessionID,
                          const std::optional<QString>& transcriptPath, const QString& workingDirectory) const;

    // "Session <first 8 characters> is still running in the background — pick it below to attach."
    static QString runningElsewhereBanner(const QString& sessionID);
};
