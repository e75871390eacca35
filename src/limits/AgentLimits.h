#pragma once

#include <QDateTime>
#include <optional>

// One allowance window as the provider reported it.
struct LimitWindow {
    double usedPercent = 0;            // 0-100, unscaled and unclamped
    std::optional<QDateTime> resetsAt;  // absent when not given or unparsable

    // Same percentage (as doubles) and the same reset instant, or no reset time in both.
    friend bool operator==(const LimitWindow& a, const LimitWindow& b);
};

// The plan limits of one provider.
struct AgentLimits {
    std::optional<LimitWindow> fiveHour;
    std::optional<LimitWindow> weekly;
    std::optional<LimitWindow> weeklyOpus;    // Claude only
    std::optional<LimitWindow> weeklySonnet;  // Claude only
    // The last attempt could not authenticate, so these values are out of date.
    bool stale = false;

    // No window at all; `stale` does not count.
    bool isEmpty() const { return !fiveHour && !weekly && !weeklyOpus && !weeklySonnet; }

    friend bool operator==(const AgentLimits& a, const AgentLimits& b) = default;
};
