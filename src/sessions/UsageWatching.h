#pragma once

#include "limits/AgentLimits.h"

#include <QString>
#include <functional>
#include <optional>

// What a usage watcher learned from the agent's transcript or rollout.
struct UsageSnapshot {
    qint64 tokensIn = 0;
    qint64 tokensOut = 0;
    std::optional<QString> model;
    std::optional<AgentLimits> limits;
    std::optional<double> contextPercent;  // share of the context window in use, 0-100
    std::optional<QString> sessionID;      // the agent's own conversation id
    std::optional<QString> transcriptPath;
};

// A usage watcher; it delivers snapshots on the main thread until stopped.
class UsageWatching {
public:
    using Update = std::function<void(const UsageSnapshot&)>;
    virtual ~UsageWatching() = default;
    virtual void stop() = 0;
};
