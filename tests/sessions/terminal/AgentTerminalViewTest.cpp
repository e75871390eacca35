// The session's terminal view: output tap, exit hook, screen text, wheel forwarding, motion
// suppression, the tmux card, file drops.
#include "sessions/terminal/AgentTerminalView.h"
#include "sessions/terminal/TmuxCheatsheet.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>

namespace {

// Tracing off in this binary whatever the caller's environment (the flag is read once).
const bool kTraceUnset = (qunsetenv("VRNX_INPUT_TRACE"), true);

QFont testFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setPixelSize(14);
    return f;
}

// Records what the view sends to the child through the outgoing hook.
class View : public AgentTerminalView {
public:
    QByteArray sent;
    explicit View(int cols = 40, int rows = 10) {
        setTerminalFont(testFont());
        resize(sizeForCells(cols, rows));
        show();
        waitUntil([&] { return surface()->columns() == cols && surface()->rows() == rows; });
    }
    void feed(const QByteArray& bytes) { surface()->feed(bytes); }
    QPoint cellPoint(int col, int row) const {
        const QRect a = terminalRect();
        return {a.left() + col * cellSize().width() + cellSize().width() / 2,
                a.top() + row * cellSize().height() + cellSize().height() / 2};
    }
    void wheel(QPoint pos, int angle, Qt::KeyboardModifiers mods = Qt::NoModifier, QPoint pixels = {},
               QWidget* target = nullptr) {
        QWidget* to = target ? target : this;
        const QPointF at = target ? QPointF(target->mapFrom(this, pos)) : QPointF(pos);
        QWheelEvent e(at, to->mapToGlobal(at), pixels, QPoint(0, angle), Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(to, &e);
    }
    void mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(pos), mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(this, &e);
    }
    QScrollBar* scrollBar() const { return findChild<QScrollBar*>(); }

protected:
    void dataSent(QByteArrayView bytes) override {
        sent.append(bytes.data(), bytes.size());
        AgentTerminalView::dataSent(bytes);
    }
};

// A plain terminal widget, to show what the agent view changes.
class PlainView : public TerminalWidget {
public:
    QByteArray sent;
    PlainView() {
        setTerminalFont(testFont());
        resize(sizeForCells(40, 10));
        show();
    }

protected:
    void dataSent(QByteArrayView bytes) override { sent.append(bytes.data(), bytes.size()); }
};

QByteArray x10Wheel(int button, int col, int row) {
    return QByteArray("\x1b[M") + char(32 + 64 + (button - 4)) + char(32 + col + 1) + char(32 + row + 1);
}

QByteArray repeat(const QByteArray& bytes, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) out += bytes;
    return out;
}

}  // namespace

TEST(AgentTerminalView, ScreenTextIsOneLinePerRowWithoutTrailingBlanks) {
    View v(20, 5);
    v.feed("abc   \r\n\r\n  x  \x1b[41m   \x1b[0m\r\n\xE6\xBC\xA2\xE5\xAD\x97  ");
    EXPECT_EQ(v.currentScreenText(), QString::fromUtf8("abc\n\n  x\n漢字\n"));
    // Text that fills the row to its last column keeps it.
    v.feed("\x1b[5;1H01234567890123456789");
    EXPECT_EQ(v.currentScreenText().split('\n').last(), QStringLiteral("01234567890123456789"));
}

// ---- Wheel forwarding

TEST(AgentTerminalView, WheelGoesToTheProgramOnlyWithMouseReportingOrTheAlternateScreen) {
    struct Case {
        const char* name;
        QByteArray modes;
        bool allowed;
        int angle;
        QByteArray expected;  // empty: the scroll-back scrolls instead
    };
    const int col = 5, row = 3;
    const Case cases[] = {
        {"normal screen, no mouse", "", true, 120, ""},
        {"X10 reads as off", "\x1b[?9h", true, 120, ""},
        {"mouse reporting not allowed", "\x1b[?1000h", false, 120, ""},
        {"alternate screen, cursor keys", "\x1b[?1049h", true, 120, "\x1b[A"},
        {"alternate screen, application cursor keys", "\x1b[?1049h\x1b[?1h", true, 120, "\x1bOA"},
        {"alternate screen, two steps down", "\x1b[?1049h", true, -240, "\x1b[B\x1b[B"},
        {"alternate screen decides alone without reporting", "\x1b[?1049h\x1b[?1000h", false, 120, "\x1b[A"},
        {"normal tracking, X10 bytes", "\x1b[?1000h", true, 120, x10Wheel(4, col, row)},
        {"button-event tracking, down", "\x1b[?1002h", true, -120, x10Wheel(5, col, row)},
        {"any-event tracking on the alternate screen", "\x1b[?1049h\x1b[?1003h", true, 120, x10Wheel(4, col, row)},
        {"SGR encoding, three steps", "\x1b[?1000h\x1b[?1006h", true, 360, repeat("\x1b[<64;6;4M", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        View v(40, 10);
        for (int i = 0; i < 30; ++i) v.feed("line " + QByteArray::number(i) + "\r\n");
        v.feed(c.modes);
        v.setMouseReportingAllowed(c.allowed);
        v.sent.clear();
        v.wheel(v.cellPoint(col, row), c.angle);
        EXPECT_EQ(v.sent, c.expected);
        if (c.expected.isEmpty()) EXPECT_GT(v.scrollbackOffset(), 0) << "scroll-back scrolled";
        else EXPECT_EQ(v.scrollbackOffset(), 0);
    }
}

TEST(AgentTerminalView, WheelReportsCarryModifiersAndTrackpadDeltasAccumulate) {
    View v(40, 10);
    v.feed("\x1b[?1000h\x1b[?1006h");
    // Shift, Alt (the Option key) and Control: 4 + 8 + 16 on top of button 4.
    v.wheel(v.cellPoint(0, 0), 120, Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<92;1;1M"));

    // Trackpad deltas go through the accumulator with the view's height per row.
    v.sent.clear();
    const double rowHeight = double(v.height()) / 10;
    const int small = int(rowHeight / 3);
    v.wheel(v.cellPoint(2, 2), 0, Qt::NoModifier, QPoint(0, small));
    EXPECT_TRUE(v.sent.isEmpty()) << "less than a row is kept for later";
    EXPECT_DOUBLE_EQ(v.wheelAccumulator().accumulated, small);
    v.wheel(v.cellPoint(2, 2), 0, Qt::NoModifier, QPoint(0, int(rowHeight * 2)));
    EXPECT_EQ(v.sent, repeat("\x1b[<64;3;3M", 2));
    // Reversing drops what was left and scrolls down.
    v.sent.clear();
    v.wheel(v.cellPoint(2, 2), 0, Qt::NoModifier, QPoint(0, -int(rowHeight + 1)));
    EXPECT_EQ(v.sent, QByteArray("\x1b[<65;3;3M"));
    EXPECT_LT(v.wheelAccumulator().accumulated, 0);
}

TEST(AgentTerminalView, FractionsOfAWheelStepAddUpToOneLine) {
    View v(40, 10);
    v.feed("\x1b[?1049h");
    // A high-resolution wheel: eight events of an eighth of a step each.
    for (int i = 0; i < 7; ++i) v.wheel(v.cellPoint(1, 1), 15);
    EXPECT_TRUE(v.sent.isEmpty());
    v.wheel(v.cellPoint(1, 1), 15);
    EXPECT_EQ(v.sent, QByteArray("\x1b[A"));
    // Whole steps keep the classic rule, and Alt+wheel (horizontal on X11) still scrolls.
    v.sent.clear();
    v.wheel(v.cellPoint(1, 1), -120);
    EXPECT_EQ(v.sent, QByteArray("\x1b[B"));
    v.feed("\x1b[?1000h\x1b[?1006h");
    v.sent.clear();
    QWheelEvent alt(QPointF(v.cellPoint(1, 1)), QPointF(), QPoint(), QPoint(120, 0), Qt::NoButton, Qt::AltModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(&v, &alt);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<72;2;2M"));
}

TEST(AgentTerminalView, WheelOverTheScrollBarConcernsTheView) {
    View v(40, 10);
    for (int i = 0; i < 30; ++i) v.feed("line " + QByteArray::number(i) + "\r\n");
    QScrollBar* bar = v.scrollBar();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(v.isPointerTarget(bar));
    EXPECT_TRUE(v.isPointerTarget(&v));
    QWidget other;
    EXPECT_FALSE(v.isPointerTarget(&other));
    EXPECT_FALSE(v.isPointerTarget(nullptr));

    v.feed("\x1b[?1000h");
    v.sent.clear();
    v.wheel(QPoint(v.width() - 2, v.cellPoint(0, 4).y()), 120, Qt::NoModifier, {}, bar);
    EXPECT_TRUE(v.sent.startsWith("\x1b[M`")) << v.sent.toHex().toStdString();
    EXPECT_EQ(v.scrollbackOffset(), 0);
}

// ---- Pointer motion

TEST(AgentTerminalView, MotionWithoutButtonsIsNotReportedInAnyEventTracking) {
    View v;
    PlainView plain;
    for (auto* feedTo : {v.surface(), plain.surface()}) feedTo->feed("\x1b[?1003h\x1b[?1006h");
    // Qt hands buttonless motion only to widgets that track the pointer; with tracking on, the
    // plain widget reports the pointer passing over and the agent view does not.
    v.setMouseTracking(true);
    plain.setMouseTracking(true);
    QMouseEvent move(QEvent::MouseMove, QPointF(v.cellPoint(3, 2)), QPointF(), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&plain, &move);
    EXPECT_FALSE(plain.sent.isEmpty());
    QApplication::sendEvent(&v, &move);
    EXPECT_TRUE(v.sent.isEmpty());

    // Dragging with a button is still reported.
    v.mouse(QEvent::MouseButtonPress, v.cellPoint(1, 1), Qt::LeftButton, Qt::LeftButton);
    v.mouse(QEvent::MouseMove, v.cellPoint(4, 1), Qt::NoButton, Qt::LeftButton);
    v.mouse(QEvent::MouseButtonRelease, v.cellPoint(4, 1), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(v.sent.endsWith("\x1b[<0;2;2M\x1b[<32;5;2M\x1b[<0;5;2m")) << v.sent.toStdString();

    // In button-event tracking the view changes nothing.
    v.sent.clear();
    v.feed("\x1b[?1003l\x1b[?1002h");
    v.mouse(QEvent::MouseButtonPress, v.cellPoint(1, 1), Qt::LeftButton, Qt::LeftButton);
    v.mouse(QEvent::MouseMove, v.cellPoint(2, 1), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(v.sent, QByteArray("\x1b[<0;2;2M\x1b[<32;3;2M"));
}

// ---- The tmux card

TEST(AgentTerminalView, CtrlBShowsTheCardOnlyWithTheKeyMonitorAndStillReachesTheProgram) {
    View v;
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(v.sent, QByteArray("\x02"));
    EXPECT_FALSE(v.cheatsheet()) << "no card without the monitor";

    v.installKeyMonitor();
    v.installKeyMonitor();
    EXPECT_TRUE(v.hasKeyMonitor());
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(v.isCheatsheetShown()) << "Ctrl+Shift+B is not the chord";
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(v.isCheatsheetShown());

    v.sent.clear();
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(v.sent, QByteArray("\x02"));
    ASSERT_TRUE(v.isCheatsheetShown());
    VRNXTmuxCheatsheet* card = v.cheatsheet();
    EXPECT_EQ(card->parentWidget(), &v);
    // Bottom-right corner, 14 points in from both edges.
    EXPECT_EQ(card->geometry().right() + 1, v.width() - 14);
    EXPECT_EQ(card->geometry().bottom() + 1, v.height() - 14);
    EXPECT_TRUE(v.isCheatsheetTimerActive());
    EXPECT_GT(v.cheatsheetRemainingMillis(), 3000);
    EXPECT_LE(v.cheatsheetRemainingMillis(), 3500);

    // It follows the view's corner when the view is resized.
    const QSize larger = v.size() + QSize(60, 40);
    v.resize(larger);
    ASSERT_TRUE(waitUntil([&] { return v.size() == larger; }));
    EXPECT_EQ(card->geometry().right() + 1, v.width() - 14);
    EXPECT_EQ(card->geometry().bottom() + 1, v.height() - 14);

    // Ctrl+B again restarts the 3.5 seconds; Ctrl on its own changes nothing.
    ASSERT_TRUE(waitUntil([&] { return v.cheatsheetRemainingMillis() < 3200; }));
    QTest::keyClick(&v, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_TRUE(v.isCheatsheetShown());
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    EXPECT_GT(v.cheatsheetRemainingMillis(), 3200);

    // Any other key fades it out (and still reaches the program).
    v.sent.clear();
    QTest::keyClick(&v, Qt::Key_X);
    EXPECT_EQ(v.sent, QByteArray("x"));
    EXPECT_FALSE(v.isCheatsheetTimerActive());
    EXPECT_TRUE(waitUntil([&] { return !v.isCheatsheetShown(); }));
    EXPECT_EQ(v.cheatsheet(), card) << "the card is kept for next time";

    // Shown again, it is opaque again.
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(v.isCheatsheetShown());
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(card->graphicsEffect());
    ASSERT_TRUE(effect);
    EXPECT_DOUBLE_EQ(effect->opacity(), 1.0);
}

TEST(AgentTerminalView, TheCardHidesByItselfAndCtrlBDuringTheFadeKeepsIt) {
    View v;
    v.installKeyMonitor();
    v.setCheatsheetDuration(60);
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    ASSERT_TRUE(v.isCheatsheetShown());
    EXPECT_TRUE(waitUntil([&] { return !v.isCheatsheetShown(); }));

    // Caught mid-fade by another Ctrl+B, the card stays, fully opaque, with a new timer.
    v.setCheatsheetDuration(AgentTerminalView::kCheatsheetMillis);
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    QTest::keyClick(&v, Qt::Key_Q);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(v.cheatsheet()->graphicsEffect());
    ASSERT_TRUE(waitUntil([&] { return effect->opacity() < 1.0; }));
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    QTest::qWait(AgentTerminalView::kCheatsheetFadeMillis * 3);
    EXPECT_TRUE(v.isCheatsheetShown());
    EXPECT_DOUBLE_EQ(effect->opacity(), 1.0);
    EXPECT_TRUE(v.isCheatsheetTimerActive());
}

TEST(AgentTerminalView, TheCardListsTheTmuxKeys) {
    VRNXTmuxCheatsheet card;
    QStringList texts;
    for (QLabel* label : card.findChildren<QLabel*>()) texts << label->text();
    ASSERT_EQ(texts.size(), 1 + 2 * 13);
    EXPECT_EQ(texts[0], QString::fromUtf8("tmux — Ctrl+B then…"));
    EXPECT_EQ(texts[1], "c");
    EXPECT_EQ(texts[2], "new window");
    EXPECT_EQ(texts[5], QString::fromUtf8("0–9"));
    EXPECT_EQ(texts[7], "\"");
    EXPECT_EQ(texts[8], "split top/bottom");
    EXPECT_EQ(texts[11], QString::fromUtf8("← ↑ ↓ →"));
    EXPECT_EQ(texts[25], "?");
    EXPECT_EQ(texts[26], "all keys");
    // Every key sits in a 78-point column and every row is 16 points high.
    for (QLabel* label : card.findChildren<QLabel*>()) {
        if (label->text() == "c" || label->text() == "?") {
            EXPECT_EQ(label->width(), 78);
            EXPECT_EQ(label->parentWidget()->height(), 16);
        }
    }
}

// ---- File drops

TEST(AgentTerminalView, DropTextQuotesPathsWithBlanks) {
    const std::pair<QStringList, QString> cases[] = {
        {{"/tmp/My File.txt", "/tmp/b.txt"}, "'/tmp/My File.txt' /tmp/b.txt"},
        {{"/tmp/a.png"}, "/tmp/a.png"},
        {{"/tmp/it's here"}, "'/tmp/it'\\''s here'"},
        {{"/tmp/it's"}, "'/tmp/it'\\''s'"},
        {{"/tmp/evil\nrm -rf ~\n.txt", "/tmp/ok"}, "/tmp/ok"},
        {{}, ""},
    };
    for (const auto& [paths, text] : cases) EXPECT_EQ(AgentTerminalView::dropText(paths), text) << paths.join('|').toStdString();
}

TEST(AgentTerminalView, DroppedFilesAreTypedAndOtherDragsRefused) {
    View v;
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(v.cellPoint(1, 1), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&v, &enter);
        QDropEvent dropEvent(QPointF(v.cellPoint(1, 1)), Qt::CopyAction | Qt::LinkAction, &mime, Qt::LeftButton,
                             Qt::NoModifier);
        QApplication::sendEvent(&v, &dropEvent);
        return std::pair{enter.isAccepted(), dropEvent.isAccepted()};
    };
    EXPECT_TRUE(v.acceptDrops());

    auto [entered, dropped] = drop({QUrl::fromLocalFile("/tmp/My File.txt"), QUrl::fromLocalFile("/tmp/b.txt")});
    EXPECT_TRUE(entered);
    EXPECT_TRUE(dropped);
    EXPECT_EQ(v.sent, QByteArray("'/tmp/My File.txt' /tmp/b.txt")) << "no trailing blank, no Enter";

    v.sent.clear();
    std::tie(entered, dropped) = drop({QUrl("https://example.com/a.txt")});
    EXPECT_FALSE(entered);
    EXPECT_FALSE(dropped);
    EXPECT_TRUE(v.sent.isEmpty());

    std::tie(entered, dropped) = drop({QUrl("https://example.com/a.txt"), QUrl::fromLocalFile("/tmp/c d")});
    EXPECT_TRUE(dropped);
    EXPECT_EQ(v.sent, QByteArray("'/tmp/c d'"));
}

// ---- With a child process

TEST(AgentTerminalView, TheTapSeesOutputBeforeTheScreenAndTheExitIsLogged) {
    LogCapture log;
    View v;
    QByteArray tapped;
    bool screenHadItFirst = false;
    v.onPtyData = [&](QByteArrayView bytes) {
        tapped.append(bytes.data(), bytes.size());
        if (bytes.contains(QByteArrayView("hi")) && v.currentScreenText().contains("hi")) screenHadItFirst = true;
    };
    std::optional<std::optional<int>> ended;
    v.onProcessTerminated = [&](std::optional<int> code) { ended = code; };
    ASSERT_TRUE(v.startProcess("/bin/sh", {"-c", "printf hi; exit 3"}));
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }, 20000));
    EXPECT_EQ(*ended, std::optional<int>(3));
    EXPECT_TRUE(tapped.contains("hi"));
    EXPECT_FALSE(screenHadItFirst) << "the tap runs before the emulator";
    EXPECT_TRUE(v.currentScreenText().startsWith("hi"));
    EXPECT_TRUE(log.lines().contains("[AgentTerminalView] processTerminated exitCode=3")) << log.lines().join('\n').toStdString();
}

TEST(AgentTerminalView, AChildKilledBySignalEndsWithoutACode) {
    LogCapture log;
    View v;
    std::optional<std::optional<int>> ended;
    v.onProcessTerminated = [&](std::optional<int> code) { ended = code; };
    ASSERT_TRUE(v.startProcess("/bin/sh", {"-c", "kill -KILL $$"}));
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }, 20000));
    EXPECT_EQ(*ended, std::nullopt);
    EXPECT_TRUE(log.lines().contains("[AgentTerminalView] processTerminated exitCode=nil"));
}

TEST(AgentTerminalView, CtrlBReachesTheChildWhileTheCardShows) {
    View v;
    v.installKeyMonitor();
    bool ended = false;
    v.onProcessTerminated = [&](std::optional<int>) { ended = true; };
    // The child reads one raw byte and prints it in hexadecimal.
    ASSERT_TRUE(v.startProcess("/bin/sh", {"-c", "stty raw -echo; printf ready; head -c 1 | od -An -tx1"}));
    ASSERT_TRUE(waitUntil([&] { return v.currentScreenText().contains("ready"); }, 20000));
    QTest::keyClick(&v, Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(v.isCheatsheetShown());
    ASSERT_TRUE(waitUntil([&] { return ended; }, 20000));
    EXPECT_TRUE(v.currentScreenText().contains("02")) << v.currentScreenText().toStdString();
}

TEST(AgentTerminalView, ATranslucentSelectionTintsTheBackground) {
    View v(20, 4);
    v.setBackgroundColor(QColor(0, 0, 0));
    QColor selection(0, 0, 255);
    selection.setAlphaF(0.55f);
    v.setSelectionColor(selection);
    v.feed("selected text");
    // The text's frame first: new text under a selection would clear it.
    ASSERT_TRUE(waitUntil([&] {
        const auto& damage = v.surface()->damage();
        return std::all_of(damage.begin(), damage.end(), [](uint8_t bits) { return bits == 0; });
    }));
    v.selectAll();
    ASSERT_TRUE(v.hasSelection());
    const QImage img = v.grab().toImage();
    const QRect a = v.terminalRect();
    // Cell 9 holds the blank between the words: only background there.
    const QRgb px = img.pixel(a.left() + 8 * v.cellSize().width() + 1, a.top() + 1);
    EXPECT_EQ(qRed(px), 0);
    EXPECT_NEAR(qBlue(px), 140, 3) << "blue at 0.55 over black";
}
