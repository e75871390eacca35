// What the emulator sends to the child for keys, mouse reports and pastes, in the modes that
// change them.
#include "sessions/terminal/TerminalSurface.h"

#include <gtest/gtest.h>

namespace {

struct Term {
    TerminalSurface s{40, 10};
    QByteArray sent;
    Term() {
        s.onSent = [this](QByteArrayView b) { sent.append(b.data(), b.size()); };
    }
    QByteArray key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        sent.clear();
        s.sendKey(key, mods, text);
        return sent;
    }
};

struct KeyCase {
    const char* modes;  // fed before the key
    int key;
    Qt::KeyboardModifiers mods;
    const char* text;
    QByteArray expected;
};

}  // namespace

TEST(TerminalInput, KeysEncodeAsXtermDoes) {
    const Qt::KeyboardModifiers C = Qt::ControlModifier, A = Qt::AltModifier, S = Qt::ShiftModifier,
                                K = Qt::KeypadModifier, N = Qt::NoModifier;
    const KeyCase cases[] = {
        {"", Qt::Key_Up, N, "", "\x1b[A"},
        {"\x1b[?1h", Qt::Key_Up, N, "", "\x1bOA"},  // application cursor keys
        {"\x1b[?1h", Qt::Key_Home, N, "", "\x1bOH"},
        {"", Qt::Key_Home, N, "", "\x1b[H"},
        {"", Qt::Key_Up, C, "", "\x1b[1;5A"},
        {"\x1b[?1h", Qt::Key_Left, S, "", "\x1b[1;2D"},
        {"", Qt::Key_F1, N, "", "\x1bOP"},
        {"", Qt::Key_F5, N, "", "\x1b[15~"},
        {"", Qt::Key_Delete, N, "", "\x1b[3~"},
        {"", Qt::Key_PageUp, N, "", "\x1b[5~"},
        {"", Qt::Key_Return, N, "\r", "\r"},
        {"", Qt::Key_Return, S, "\r", "\r"},
        {"", Qt::Key_Return, A, "\r", "\x1b\r"},
        {"\x1b[20h", Qt::Key_Return, N, "\r", "\r\n"},  // newline mode
        {"", Qt::Key_Backspace, N, "\x7f", "\x7f"},
        {"", Qt::Key_Backspace, C, "", "\x08"},
        {"", Qt::Key_Backspace, A, "", "\x1b\x7f"},
        {"", Qt::Key_Tab, N, "\t", "\t"},
        {"", Qt::Key_Backtab, S, "", "\x1b[Z"},
        {"", Qt::Key_Escape, N, "\x1b", "\x1b"},
        {"", Qt::Key_A, C, "\x01", "\x01"},
        {"", Qt::Key_J, C, "\n", "\n"},
        {"", Qt::Key_BracketLeft, C, "\x1b", "\x1b"},
        {"", Qt::Key_Backslash, C, "\x1c", "\x1c"},
        {"", Qt::Key_Space, C, "", QByteArray("\0", 1)},
        {"", Qt::Key_Slash, C, "", "\x1f"},
        {"", Qt::Key_D, C | A, "", "\x1b\x04"},
        {"", Qt::Key_B, A, "b", "\x1b" "b"},
        {"", Qt::Key_B, A, "", "\x1b" "b"},
        {"", Qt::Key_Period, A, ".", "\x1b."},
        {"", Qt::Key_E, N, "\xC3\xA9", "\xC3\xA9"},
        {"", Qt::Key_1, K, "1", "1"},
        {"\x1b=", Qt::Key_1, K, "1", "\x1bOq"},  // application keypad
        {"\x1b=", Qt::Key_Enter, K, "\r", "\x1bOM"},
    };
    for (const KeyCase& c : cases) {
        Term t;
        t.s.feed(c.modes);
        SCOPED_TRACE(QStringLiteral("key %1 mods %2 modes %3")
                         .arg(c.key, 0, 16)
                         .arg(int(c.mods), 0, 16)
                         .arg(QString::fromLatin1(QByteArray(c.modes).toHex()))
                         .toStdString());
        EXPECT_EQ(t.key(c.key, c.mods, QString::fromUtf8(c.text)).toHex(), c.expected.toHex());
    }
    Term t;
    EXPECT_TRUE(t.key(Qt::Key_Shift, Qt::ShiftModifier).isEmpty());
}

TEST(TerminalInput, MouseReportsFollowTheProgramsMode) {
    Term t;
    t.s.sendMouseReport(4, false, false, false, false, 2, 3);
    EXPECT_TRUE(t.sent.isEmpty()) << "no tracking, no report";

    t.s.feed("\x1b[?1000h");
    t.s.sendMouseReport(4, false, false, false, false, 2, 3);
    EXPECT_EQ(t.sent, QByteArray("\x1b[M") + char(32 + 64) + char(33 + 2) + char(33 + 3));

    t.s.feed("\x1b[?1006h");  // SGR encoding
    t.sent.clear();
    t.s.sendMouseReport(5, false, true, false, true, 7, 1);
    EXPECT_EQ(t.sent, QByteArray("\x1b[<" + QByteArray::number(65 + 4 + 16) + ";8;2M"));

    t.sent.clear();
    t.s.sendMouseReport(1, false, false, true, false, 0, 0);
    t.s.sendMouseReport(1, true, false, true, false, 0, 0);
    EXPECT_EQ(t.sent, QByteArray("\x1b[<8;1;1M\x1b[<8;1;1m"));

    // In any-event mode, placing the report does not send a motion report first.
    t.s.feed("\x1b[?1003h");
    t.sent.clear();
    t.s.sendMouseReport(4, false, false, false, false, 30, 9);
    EXPECT_EQ(t.sent, QByteArray("\x1b[<64;31;10M"));
    // Real pointer motion is reported in that mode.
    t.sent.clear();
    t.s.mouseMove(5, 5, Qt::NoModifier);
    EXPECT_EQ(t.sent, QByteArray("\x1b[<35;6;6M"));
    // Cells outside the screen are clamped.
    t.sent.clear();
    t.s.sendMouseReport(4, false, false, false, false, 500, -3);
    EXPECT_EQ(t.sent, QByteArray("\x1b[<64;40;1M"));
}

TEST(TerminalInput, PasteIsBracketedAndCleaned) {
    Term t;
    t.s.paste(QStringLiteral("one\ntwo\r\nthree\x1b[201~rm -rf x\x07\ttab"));
    EXPECT_EQ(t.sent, QByteArray("one\rtwo\rthree[201~rm -rf x\ttab"));

    t.s.feed("\x1b[?2004h");
    t.sent.clear();
    t.s.paste(QString::fromUtf8("ünïcode\n"));
    EXPECT_EQ(t.sent, QByteArray("\x1b[200~\xC3\xBCn\xC3\xAF" "code\r\x1b[201~"));

    t.sent.clear();
    t.s.paste(QStringLiteral("\x1b\x1b"));
    EXPECT_TRUE(t.sent.isEmpty()) << "nothing left to paste";
}

TEST(TerminalInput, FocusReportsOnlyWhenAsked) {
    Term t;
    t.s.setFocused(true);
    EXPECT_TRUE(t.sent.isEmpty());
    t.s.feed("\x1b[?1004h");
    t.s.setFocused(false);
    t.s.setFocused(true);
    EXPECT_EQ(t.sent, QByteArray("\x1b[O\x1b[I"));
}
