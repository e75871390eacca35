#pragma once

#include <QPoint>

// The arithmetic that turns wheel deltas into whole lines for programs inside the terminal.
// Positive deltas and line counts mean upward (towards older content).
namespace TerminalWheelScroll {

// Left-over distance of precise (trackpad) scrolling between events.
struct DeltaAccumulator {
    double accumulated = 0;

    // Whole lines in `delta` points plus what was left over; the remainder keeps its sign. A
    // reversal drops the remainder of the previous direction.
    int add(double delta, double cellHeight);
};

// Whole lines for a coarse (mouse-wheel) delta: rounded half away from zero, at least one
// line whenever the delta is not zero.
int lines(double legacyDelta);

// The cell (column, row) under a pointer at x from the left and yUp from the bottom of a
// view of width x height showing columns x rows cells; rows count from the top. (0, 0) when
// the view has no size.
QPoint cellAt(double x, double yUp, double width, double height, int columns, int rows);

}  // namespace TerminalWheelScroll
