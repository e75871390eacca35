#include "sessions/terminal/TerminalWheelScroll.h"

#include <algorithm>
#include <cmath>

namespace TerminalWheelScroll {

int DeltaAccumulator::add(double delta, double cellHeight) {
    if (!(cellHeight > 0) || delta == 0 || !std::isfinite(delta)) return 0;
    const bool reversal = accumulated != 0 && (accumulated < 0) != (delta < 0);
    const double total = reversal ? delta : delta + accumulated;
    const double whole = std::trunc(total / cellHeight);
    // A delta far beyond any real gesture must not overflow the line count.
    const int lines = int(std::clamp(whole, -1e6, 1e6));
    accumulated = total - cellHeight * lines;
    return lines;
}

int lines(double legacyDelta) {
    if (legacyDelta == 0 || !std::isfinite(legacyDelta)) return 0;
    const double rounded = std::round(legacyDelta);  // halves away from zero
    if (rounded == 0) return legacyDelta > 0 ? 1 : -1;
    return int(std::clamp(rounded, -1e6, 1e6));
}

QPoint cellAt(double x, double yUp, double width, double height, int columns, int rows) {
    if (!(width > 0) || !(height > 0)) return {0, 0};
    auto index = [](double position, double cell, int count) {
        if (count < 2) return 0;
        const double i = std::trunc(position / cell);
        return int(std::clamp(i, 0.0, double(count - 1)));
    };
    const int column = index(x, width / std::max(columns, 1), columns);
    const int row = index(height - yUp, height / std::max(rows, 1), rows);
    return {column, row};
}

}  // namespace TerminalWheelScroll
