// The view: selection, clipboard, keyboard and mouse routing, frames and pixels.
#include "sessions/terminal/TerminalWidget.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

namespace {

class View : public TerminalWidget {
public:
    QByteArray sent;
    int paints = 0;
    View(int cols, int rows) {
        QFont f(QStringLiteral("DejaVu Sans Mono"));
        f.setPixelSize(14);
        setTerminalFont(f);
        resize(sizeForCells(cols, rows));
        show();
        surface()->onSent = [this](QByteArrayView b) { sent.append(b.data(), b.size()); };
        waitUntil([&] { return surface()->columns() == cols && surface()->rows() == rows; });
    }
    void feed(const QByteArray& bytes) { surface()->feed(bytes); }
    QPoint cellPoint(int col, int row, int dx = 0) const {
        const QRect a = terminalRect();
        return {a.left() + col * cellSize().width() + cellSize().width() / 2 + dx,
                a.top() + row * cellSize().height() + cellSize().height() / 2};
    }
    // The left edge of a cell (a selection boundary).
    QPoint edgePoint(int col, int row) const { return cellPoint(col, row, -cellSize().width() / 2 + 1); }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, QPointF(pos), mapToGlobal(QPointF(pos)), button, buttons, mods);
        QApplication::sendEvent(this, &e);
    }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, mods);
        mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, mods);
        mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, mods);
    }
    void wheel(QPoint pos, int angle) {
        QWheelEvent e(QPointF(pos), mapToGlobal(QPointF(pos)), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(this, &e);
    }
    QImage frame() {
        QTest::qWait(40);
        return grab().toImage();
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return TerminalWidget::event(e);
    }
};

}  // namespace

TEST(TerminalWidget, SelectionAcrossWrappedLinesAndWideCharacters) {
    View v(10, 4);
    v.feed("abcdefghijklmno\r\nxyz \xE6\xBC\xA2\xE5\xAD\x97 q");
    // Row 0 wraps into row 1: the copied text has no line break there.
    v.drag(v.edgePoint(3, 0), v.edgePoint(3, 2));
    EXPECT_EQ(v.selectedText(), QStringLiteral("defghijklmno\nxyz"));

    // Dragging over the two wide characters of row 2 gives both, once each.
    v.drag(v.edgePoint(4, 2), v.edgePoint(8, 2));
    EXPECT_EQ(v.selectedText(), QString::fromUtf8("漢字"));

    // Double-click selects a word (the wide characters form one), triple-click the whole
    // logical line even when it starts on the row above.
    QTest::mouseDClick(&v, Qt::LeftButton, Qt::NoModifier, v.cellPoint(7, 2));
    EXPECT_EQ(v.selectedText(), QString::fromUtf8("漢字"));
    QTest::mouseDClick(&v, Qt::LeftButton, Qt::NoModifier, v.cellPoint(2, 1));
    QTest::mousePress(&v, Qt::LeftButton, Qt::NoModifier, v.cellPoint(2, 1));
    QTest::mouseRelease(&v, Qt::LeftButton, Qt::NoModifier, v.cellPoint(2, 1));
    EXPECT_EQ(v.selectedText(), QStringLiteral("abcdefghijklmno"));

    // A plain click clears it; Ctrl+Shift+C copies what is selected.
    v.drag(v.edgePoint(0, 2), v.edgePoint(3, 2));
    QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("xyz"));
    EXPECT_TRUE(v.sent.isEmpty()) << "the copy chord is not sent to the child";
    v.drag(v.cellPoint(1, 3), v.cellPoint(1, 3));
    EXPECT_FALSE(v.hasSelection());

    // Overwriting selected text drops the selection.
    v.drag(v.edgePoint(0, 2), v.edgePoint(3, 2));
    ASSERT_TRUE(v.hasSelection());
    v.feed("\x1b[3;1HXYZ");
    EXPECT_TRUE(waitUntil([&] { return !v.hasSelection(); }));
}

TEST(TerminalWidget, KeysAndPasteReachTheChild) {
    View v(20, 4);
    QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&v, Qt::Key_Tab);
    QTest::keyClick(&v, Qt::Key_Up);
    EXPECT_EQ(v.sent, QByteArray("\x03\t\x1b[A"));

    v.sent.clear();
    v.feed("\x1b[?2004h");
    QApplication::clipboard()->setText(QStringLiteral("echo hi\n"));
    QTest::keyClick(&v, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(v.sent, QByteArray("\x1b[200~echo hi\r\x1b[201~"));
}

TEST(TerminalWidget, MouseGoesToTheProgramOnlyWhenItAsksAndIsAllowed) {
    View v(20, 4);
    v.feed("hello world");
    v.feed("\x1b[?1000h\x1b[?1006h");
    v.mouse(QEvent::MouseButtonPress, v.cellPoint(2, 1), Qt::LeftButton, Qt::LeftButton);
    v.mouse(QEvent::MouseButtonRelease, v.cellPoint(2, 1), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<0;3;2M\x1b[<0;3;2m"));

    // Shift selects instead, as does a view that does not allow reporting.
    v.sent.clear();
    v.drag(v.edgePoint(0, 0), v.edgePoint(5, 0), Qt::ShiftModifier);
    EXPECT_TRUE(v.sent.isEmpty());
    EXPECT_EQ(v.selectedText(), QStringLiteral("hello"));
    v.setMouseReportingAllowed(false);
    v.drag(v.edgePoint(6, 0), v.edgePoint(11, 0));
    EXPECT_TRUE(v.sent.isEmpty());
    EXPECT_EQ(v.selectedText(), QStringLiteral("world"));
    v.setMouseReportingAllowed(true);

    v.wheel(v.cellPoint(4, 2), 120);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<64;5;3M"));

    // Any-event tracking reports plain pointer motion, once per cell.
    v.feed("\x1b[?1003h");
    EXPECT_TRUE(waitUntil([&] { return v.hasMouseTracking(); }));
    v.sent.clear();
    v.mouse(QEvent::MouseMove, v.cellPoint(6, 1), Qt::NoButton, Qt::NoButton);
    v.mouse(QEvent::MouseMove, v.cellPoint(6, 1, 2), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<35;7;2M"));
}

TEST(TerminalWidget, WheelScrollsTheScrollbackOrSendsCursorKeys) {
    View v(20, 4);
    for (int i = 0; i < 30; ++i) v.feed("line " + QByteArray::number(i) + "\r\n");
    v.wheel(v.cellPoint(1, 1), 120);
    const int step = QApplication::wheelScrollLines();
    EXPECT_EQ(v.scrollbackOffset(), step);
    EXPECT_TRUE(v.sent.isEmpty());

    // A scrolled-back view stays on its lines while output continues, and typing returns it.
    v.feed("more\r\n");
    EXPECT_TRUE(waitUntil([&] { return v.scrollbackOffset() == step + 1; }));
    QTest::keyClick(&v, Qt::Key_A);
    EXPECT_EQ(v.scrollbackOffset(), 0);

    // Full-screen programs without the mouse get cursor keys, in their cursor-key mode.
    v.feed("\x1b[?1049h\x1b[?1h");
    v.sent.clear();
    v.wheel(v.cellPoint(1, 1), 120);
    QByteArray expected;
    for (int i = 0; i < step; ++i) expected += "\x1bOA";
    EXPECT_EQ(v.sent, expected);
    EXPECT_EQ(v.scrollbackOffset(), 0);
}

TEST(TerminalWidget, OnePaintForAnyNumberOfWritesPerFrame) {
    View v(40, 10);
    v.frame();
    v.paints = 0;
    for (int i = 0; i < 2000; ++i) v.feed("\x1b[" + QByteArray::number(i % 10 + 1) + ";1Hrow " + QByteArray::number(i));
    QTest::qWait(150);
    EXPECT_EQ(v.paints, 1);
    EXPECT_EQ(v.surface()->rowText(9), QStringLiteral("row 1999"));

    // A synchronized update shows nothing until it ends.
    v.paints = 0;
    v.feed("\x1b[?2026h\x1b[1;1Hhalf");
    QTest::qWait(60);
    EXPECT_EQ(v.paints, 0);
    v.feed("done\x1b[?2026l");
    EXPECT_TRUE(waitUntil([&] { return v.paints == 1; }));
}

TEST(TerminalWidget, DrawsColoursBoxesAndWideCells) {
    View v(12, 5);
    v.setBackgroundColor(QColor(0x10, 0x20, 0x30));
    v.setSelectionColor(QColor(0x00, 0x00, 0xFF));
    v.setAnsiColor(1, QColor(0xFF, 0x00, 0x00));
    v.setAnsiColor(2, QColor(0x00, 0xFF, 0x00));
    v.feed("\x1b[31m");
    for (int i = 0; i < 10; ++i) v.feed("\xE2\x94\x80");  // ─
    v.feed("\r\n\xE2\x94\x82\r\n\xE2\x94\x82\x1b[0m \x1b[42m\xE6\xBC\xA2\x1b[0m \x1b[7m \x1b[0m");
    const QImage img = v.frame();
    const QRect a = v.terminalRect();
    const int cw = v.cellSize().width(), ch = v.cellSize().height();
    const QRgb red = qRgb(0xFF, 0, 0);

    EXPECT_EQ(img.pixel(a.left() + 11 * cw + 2, a.top() + 4 * ch + 2), qRgb(0x10, 0x20, 0x30));

    // The horizontal line is unbroken across all ten cells.
    int lineY = -1;
    for (int y = a.top(); y < a.top() + ch && lineY < 0; ++y)
        if (img.pixel(a.left() + cw / 2, y) == red) lineY = y;
    ASSERT_GE(lineY, 0);
    for (int x = a.left(); x < a.left() + 10 * cw; ++x) ASSERT_EQ(img.pixel(x, lineY), red) << "gap at x=" << x;
    // The vertical line is unbroken across rows 1 and 2, and meets nothing in between.
    int lineX = -1;
    for (int x = a.left(); x < a.left() + cw && lineX < 0; ++x)
        if (img.pixel(x, a.top() + ch + ch / 2) == red) lineX = x;
    ASSERT_GE(lineX, 0);
    for (int y = a.top() + ch; y < a.top() + 3 * ch; ++y) ASSERT_EQ(img.pixel(lineX, y), red) << "gap at y=" << y;

    // The wide character's background covers both of its cells; reverse video swaps colours.
    EXPECT_EQ(img.pixel(a.left() + 2 * cw + 1, a.top() + 3 * ch - 2), qRgb(0, 0xFF, 0));
    EXPECT_EQ(img.pixel(a.left() + 3 * cw + cw - 2, a.top() + 3 * ch - 2), qRgb(0, 0xFF, 0));
    EXPECT_EQ(img.pixel(a.left() + 5 * cw + 1, a.top() + 2 * ch + 1), v.foregroundColor().rgb());

    // A focused view draws a steady block cursor in the cursor colour; an unfocused one an outline.
    v.setCursorColor(QColor(0xFF, 0x80, 0x00));
    v.feed("\x1b[2 q\x1b[5;3H");
    QApplication::setActiveWindow(&v);
    v.setFocus();
    ASSERT_TRUE(waitUntil([&] { return v.hasFocus(); }));
    const QImage focused = v.frame();
    EXPECT_EQ(focused.pixel(a.left() + 2 * cw + cw / 2, a.top() + 4 * ch + ch / 2), qRgb(0xFF, 0x80, 0x00));
    v.clearFocus();
    const QImage unfocused = v.frame();
    EXPECT_EQ(unfocused.pixel(a.left() + 2 * cw + cw / 2, a.top() + 4 * ch + ch / 2), qRgb(0x10, 0x20, 0x30));
    EXPECT_EQ(unfocused.pixel(a.left() + 2 * cw, a.top() + 4 * ch + ch / 2), qRgb(0xFF, 0x80, 0x00));

    // The selection colour shows behind selected cells.
    v.selectAll();
    const QImage selected = v.frame();
    EXPECT_EQ(selected.pixel(a.left() + 11 * cw + 2, a.top() + 4 * ch + 2), qRgb(0, 0, 0xFF));
}

TEST(TerminalWidget, FontDecidesTheCellGrid) {
    View v(20, 5);
    const QSize before = v.cellSize();
    QFont big(QStringLiteral("DejaVu Sans Mono"));
    big.setPixelSize(28);
    v.setTerminalFont(big);
    EXPECT_GT(v.cellSize().width(), before.width());
    EXPECT_LT(v.surface()->columns(), 20);
    v.resize(v.sizeForCells(30, 7));
    EXPECT_TRUE(waitUntil([&] { return v.surface()->columns() == 30 && v.surface()->rows() == 7; }));
}
