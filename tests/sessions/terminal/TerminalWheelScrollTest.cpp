// Wheel deltas into whole lines, and the cell under the pointer.
#include "sessions/terminal/TerminalWheelScroll.h"

#include <gtest/gtest.h>

TEST(TerminalWheelScroll, TrackpadDeltasAccumulateAndAReversalDropsTheRemainder) {
    TerminalWheelScroll::DeltaAccumulator acc;
    struct Step {
        double delta;
        int lines;
        double left;
    };
    // Cell height 17: three small deltas gather, the fourth crosses a line, a reversal starts over.
    const Step steps[] = {{5, 0, 5}, {5, 0, 10}, {5, 0, 15}, {5, 1, 3}, {-2, 0, -2},
                          {-40, -2, -8}, {-9, -1, 0}, {3.5, 0, 3.5}, {100, 6, 1.5}};
    for (const Step& s : steps) {
        EXPECT_EQ(acc.add(s.delta, 17), s.lines) << "delta " << s.delta;
        EXPECT_DOUBLE_EQ(acc.accumulated, s.left) << "delta " << s.delta;
    }
    // No cell height or no delta: nothing, and the remainder stays.
    EXPECT_EQ(acc.add(50, 0), 0);
    EXPECT_EQ(acc.add(50, -3), 0);
    EXPECT_EQ(acc.add(0, 17), 0);
    EXPECT_DOUBLE_EQ(acc.accumulated, 1.5);
}

TEST(TerminalWheelScroll, CoarseStepsMoveAtLeastOneLine) {
    const std::pair<double, int> cases[] = {{0, 0},  {0.3, 1}, {-0.3, -1}, {2.5, 3}, {-2.5, -3},
                                            {1, 1},  {1.49, 1}, {0.5, 1},  {-0.5, -1}, {7.6, 8}};
    for (auto [delta, lines] : cases) EXPECT_EQ(TerminalWheelScroll::lines(delta), lines) << delta;
}

TEST(TerminalWheelScroll, CellUnderThePointerCountsRowsFromTheTop) {
    struct Case {
        double x, yUp, w, h;
        int cols, rows;
        QPoint cell;
    };
    const Case cases[] = {
        {0, 480, 800, 480, 80, 24, {0, 0}},        // top-left corner
        {799, 1, 800, 480, 80, 24, {79, 23}},      // bottom-right
        {15, 460, 800, 480, 80, 24, {1, 1}},       // 10 px cells, 20 px rows: y from top = 20
        {-30, 900, 800, 480, 80, 24, {0, 0}},      // outside: clamped
        {5000, -50, 800, 480, 80, 24, {79, 23}},
        {400, 240, 800, 480, 1, 1, {0, 0}},        // a single cell
        {400, 240, 800, 480, 0, 0, {0, 0}},        // no cells at all
        {400, 240, 0, 480, 80, 24, {0, 0}},        // a view with no size reports at (0, 0)
        {400, 240, 800, 0, 80, 24, {0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalWheelScroll::cellAt(c.x, c.yUp, c.w, c.h, c.cols, c.rows), c.cell) << c.x << "," << c.yUp;
}
