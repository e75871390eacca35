#include "limits/AgentLimits.h"

bool operator==(const LimitWindow& a, const LimitWindow& b) {
    if (!(a.usedPercent == b.usedPercent)) return false;
    if (a.resetsAt.has_value() != b.resetsAt.has_value()) return false;
    // QDateTime equality is by instant, whatever the zone each carries.
    return !a.resetsAt || a.resetsAt->toMSecsSinceEpoch() == b.resetsAt->toMSecsSinceEpoch();
}
