#pragma once

#include "limits/AgentLimits.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// A session's usage as read from the agent's own files, merged with its plan limits.
struct UsageSnapshot {
    qint64 tokensIn = 0;
    qint64 tokensOut = 0;
    std::optional<QString> model;
    std::optional<AgentLimits> limits;
    std::optional<double> contextPercent;
    std::optional<QString> sessionID;       // the agent's own conversation id
    std::optional<QString> transcriptPath;  // its transcript or rollout file

    friend bool operator==(const UsageSnapshot&, const UsageSnapshot&) = default;
};
