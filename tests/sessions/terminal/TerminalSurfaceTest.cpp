// The emulator fed raw bytes, with no child process and no widget.
#include "sessions/terminal/TerminalSurface.h"

#include <gtest/gtest.h>

namespace {

struct Term {
    TerminalSurface s;
    QByteArray sent;
    Term(int cols = 20, int rows = 5) : s(cols, rows) {
        s.onSent = [this](QByteArrayView b) { sent.append(b.data(), b.size()); };
    }
    void feed(const QByteArray& bytes) { s.feed(bytes); }
    QString row(int r) const { return s.rowText(r); }
    const TermCell& cell(int r, int c) const { return s.screenRow(r).cells[size_t(c)]; }
    QString scrollbackLine(int index) const {
        TermRow row;
        s.scrollback().decode(index, row, s.columns());
        std::u32string text;
        for (int c = 0; c < row.usedLength(); ++c) row.appendText(c, text);
        while (!text.empty() && text.back() == U' ') text.pop_back();
        return QString::fromUcs4(text.data(), qsizetype(text.size()));
    }
};

QByteArray lines(int from, int to) {
    QByteArray out;
    for (int i = from; i <= to; ++i) out += "line" + QByteArray::number(i) + "\r\n";
    return out;
}

}  // namespace

TEST(TerminalSurface, SequencesSplitAtEveryByteGiveTheSameScreen) {
    // UTF-8, SGR with true colour, cursor addressing and an OSC title, cut at every position.
    const QByteArray stream = "h\xC3\xA9llo \xE6\xBC\xA2\x1b[1;38;2;10;20;30mX\x1b[0m\x1b[3;4HZ\x1b]2;t\xC3\xADtle\x07!";
    Term whole;
    whole.feed(stream);
    ASSERT_EQ(whole.row(0), QString::fromUtf8("héllo 漢X"));
    ASSERT_EQ(whole.row(2), QStringLiteral("   Z!"));
    ASSERT_EQ(whole.s.title(), QString::fromUtf8("títle"));
    const TermCell& x = whole.cell(0, 8);
    ASSERT_EQ(x.ch(), uint32_t('X'));
    EXPECT_EQ(x.fg, TermColor::rgb(10, 20, 30));
    EXPECT_TRUE(x.attrs() & TermCell::kBold);

    for (int cut = 1; cut < stream.size(); ++cut) {
        Term split;
        split.feed(stream.left(cut));
        split.feed(stream.mid(cut));
        SCOPED_TRACE(cut);
        EXPECT_EQ(split.s.screenText(), whole.s.screenText());
        EXPECT_EQ(split.s.title(), whole.s.title());
        EXPECT_EQ(split.cell(0, 8), x);
    }
}

TEST(TerminalSurface, OverlongStringsAreSkippedWhole) {
    // A 100 KB clipboard write (OSC 52) arriving in reads of 4 KB: nothing of it shows.
    QByteArray stream = "before\x1b]52;c;" + QByteArray(100000, 'A') + "\x07" "after";
    Term t(20, 3);
    for (qsizetype i = 0; i < stream.size(); i += 4096) t.feed(stream.mid(i, 4096));
    EXPECT_EQ(t.row(0), QStringLiteral("beforeafter"));
}

TEST(TerminalSurface, QueriesAreAnsweredEvenWhenSplit) {
    Term t;
    t.feed("ab\x1b[6n");
    EXPECT_EQ(t.sent, QByteArray("\x1b[1;3R"));
    t.sent.clear();
    t.s.setDefaultColors(0xC0C0C0, 0x102030, 0xFFFFFF);
    t.feed("\x1b]11");
    t.feed(";?\x1b");
    EXPECT_TRUE(t.sent.isEmpty());
    t.feed("\\");
    EXPECT_EQ(t.sent, QByteArray("\x1b]11;rgb:1010/2020/3030\x1b\\"));
    t.sent.clear();
    t.feed("\x1b]4;1;?\x07");
    EXPECT_EQ(t.sent, QByteArray("\x1b]4;1;rgb:cdcd/3131/3131\x1b\\"));
}

TEST(TerminalSurface, WideAndCombiningCharacters) {
    Term t(10, 3);
    t.feed("a\xE6\xBC\xA2" "b");  // a, 漢 (two cells), b
    EXPECT_EQ(t.cell(0, 1).ch(), 0x6F22u);
    EXPECT_TRUE(t.cell(0, 1).attrs() & TermCell::kWide);
    EXPECT_TRUE(t.cell(0, 2).isTail());
    EXPECT_EQ(t.cell(0, 3).ch(), uint32_t('b'));
    EXPECT_EQ(t.s.cursorColumn(), 4);

    // A combining accent arriving in a later write joins the previous cell.
    t.feed("\r\ne");
    t.feed("\xCC\x81x");
    EXPECT_EQ(t.row(1), QString::fromUtf8("e\xCC\x81x"));
    EXPECT_EQ(t.cell(1, 1).ch(), uint32_t('x'));

    // Overwriting the right half of a wide character blanks its left half.
    t.feed("\x1b[1;3Hy");
    EXPECT_EQ(t.row(0), QStringLiteral("a yb"));
    EXPECT_FALSE(t.cell(0, 1).attrs() & TermCell::kWide);

    // A wide character that does not fit in the last column wraps whole.
    Term edge(5, 2);
    edge.feed("abcd\xE6\xBC\xA2");
    EXPECT_EQ(edge.row(0), QStringLiteral("abcd"));
    EXPECT_EQ(edge.row(1), QString::fromUtf8("漢"));
}

TEST(TerminalSurface, FaintAndColours) {
    Term t;
    t.feed("\x1b[2mA\x1b[22mB\x1b[38;2;2;2;2mC\x1b[1;2mD\x1b[0mE\x1b[2;22mF\x1b[38;5;2;2mG\x1b[48;5;200mH");
    EXPECT_TRUE(t.cell(0, 0).attrs() & TermCell::kDim);
    EXPECT_FALSE(t.cell(0, 1).attrs() & TermCell::kDim);
    EXPECT_FALSE(t.cell(0, 2).attrs() & TermCell::kDim) << "the 2 inside a colour is not SGR 2";
    EXPECT_EQ(t.cell(0, 2).fg, TermColor::rgb(2, 2, 2));
    EXPECT_TRUE(t.cell(0, 3).attrs() & TermCell::kDim);
    EXPECT_TRUE(t.cell(0, 3).attrs() & TermCell::kBold);
    EXPECT_EQ(t.cell(0, 4).attrs(), 0u);
    EXPECT_FALSE(t.cell(0, 5).attrs() & TermCell::kDim);
    EXPECT_TRUE(t.cell(0, 6).attrs() & TermCell::kDim);
    EXPECT_EQ(t.cell(0, 6).fg, TermColor::indexed(2));
    EXPECT_EQ(t.cell(0, 7).bg, TermColor::indexed(200));
    EXPECT_EQ(t.s.resolve(TermColor::indexed(200), false), 0xFF00D7u);
    EXPECT_EQ(t.s.resolve(TermColor::indexed(244), true), 0x808080u);
}

TEST(TerminalSurface, SoftWrapsAreRemembered) {
    Term t(5, 4);
    t.feed("abcdefg\r\nhijkl\r\nmn");
    EXPECT_TRUE(t.s.screenRow(0).wrapped);
    EXPECT_FALSE(t.s.screenRow(1).wrapped);
    EXPECT_FALSE(t.s.screenRow(2).wrapped) << "a line that exactly fills the row ends with CR LF";
    // Wrapping at the bottom scrolls, and the flag travels with the row into the scroll-back.
    t.feed("opq\r\nrstuvwxyz");
    ASSERT_EQ(t.s.scrollback().size(), 2);
    EXPECT_TRUE(t.s.scrollback().isWrapped(0));
    EXPECT_FALSE(t.s.scrollback().isWrapped(1));
    EXPECT_FALSE(t.s.screenRow(1).wrapped);
    EXPECT_TRUE(t.s.screenRow(2).wrapped);
    EXPECT_EQ(t.row(3), QStringLiteral("wxyz"));
}

TEST(TerminalSurface, ScrollingRegions) {
    Term t(10, 6);
    t.feed("top\r\n1\r\n2\r\n3\r\n4\r\nbottom");
    t.feed("\x1b[2;5r\x1b[5;1H\n\nX");  // region rows 2-5; two line feeds at its bottom
    EXPECT_EQ(t.row(0), QStringLiteral("top"));
    EXPECT_EQ(t.row(1), QStringLiteral("3"));
    EXPECT_EQ(t.row(2), QStringLiteral("4"));
    EXPECT_EQ(t.row(3), QString());
    EXPECT_EQ(t.row(4), QStringLiteral("X"));
    EXPECT_EQ(t.row(5), QStringLiteral("bottom"));
    EXPECT_EQ(t.s.scrollback().size(), 0) << "a region below the top keeps its lines";

    // Reverse index at the region's top scrolls it down.
    t.feed("\x1b[2;1H\x1bM\x1bMY");
    EXPECT_EQ(t.row(1), QStringLiteral("Y"));
    EXPECT_EQ(t.row(3), QStringLiteral("3"));
    EXPECT_EQ(t.row(5), QStringLiteral("bottom"));

    // A region at the top of the screen sends what leaves it to the scroll-back.
    t.feed("\x1b[1;3r\x1b[3;1H\n");
    EXPECT_EQ(t.s.scrollback().size(), 1);
    EXPECT_EQ(t.scrollbackLine(0), QStringLiteral("top"));
    EXPECT_EQ(t.row(5), QStringLiteral("bottom"));

    // Insert and delete characters shift cells within the row.
    Term c(10, 2);
    c.feed("abcdef\x1b[1;2H\x1b[2P\x1b[1;1H\x1b[1@");
    EXPECT_EQ(c.row(0), QStringLiteral(" adef"));
}

TEST(TerminalSurface, AlternateScreenKeepsThePrimaryAndTheScrollback) {
    Term t(10, 3);
    t.feed("one\r\ntwo\r\nthree");
    t.feed("\x1b[?1049h");
    EXPECT_TRUE(t.s.isAlternateScreen());
    EXPECT_EQ(t.s.screenText(), QStringLiteral("\n\n"));
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    EXPECT_EQ(t.s.scrollback().size(), 0);
    t.feed("\x1b[?1049l");
    EXPECT_FALSE(t.s.isAlternateScreen());
    EXPECT_EQ(t.s.screenText(), QStringLiteral("one\ntwo\nthree"));
    EXPECT_EQ(t.s.cursorRow(), 2);
    EXPECT_EQ(t.s.cursorColumn(), 5);

    // A full reset from inside the alternate screen lands on a clean primary screen.
    t.feed("\x1b[?1049h\x1b[?1002hfull\x1b" "c");
    EXPECT_FALSE(t.s.isAlternateScreen());
    EXPECT_EQ(t.s.mouseTracking(), TerminalSurface::MouseTracking::Off);
    EXPECT_EQ(t.s.screenText(), QStringLiteral("\n\n"));
}

TEST(TerminalSurface, ScrollbackKeepsOrderUpToItsLimit) {
    Term t(20, 3);
    t.s.setScrollbackLimit(10);
    t.feed(lines(1, 50));
    ASSERT_EQ(t.s.scrollback().size(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(t.scrollbackLine(i), QStringLiteral("line%1").arg(39 + i));
    EXPECT_EQ(t.row(0), QStringLiteral("line49"));
    EXPECT_EQ(t.s.linesPushed(), 48);

    // Attributes survive the trip into the scroll-back.
    Term c(10, 1);
    c.feed("\x1b[1;31mred\x1b[0m \x1b[4mul\x1b[0m\xE6\xBC\xA2\r\n");
    TermRow row;
    c.s.scrollback().decode(0, row, 10);
    EXPECT_EQ(row.cells[0].fg, TermColor::indexed(1));
    EXPECT_TRUE(row.cells[2].attrs() & TermCell::kBold);
    EXPECT_EQ(row.cells[3].attrs(), 0u);
    EXPECT_EQ(row.cells[4].underline(), 1);
    EXPECT_TRUE(row.cells[6].attrs() & TermCell::kWide);
    EXPECT_TRUE(row.cells[7].isTail());

    // Shrinking the limit keeps the newest lines.
    t.s.setScrollbackLimit(3);
    ASSERT_EQ(t.s.scrollback().size(), 3);
    EXPECT_EQ(t.scrollbackLine(0), QStringLiteral("line46"));
}

TEST(TerminalSurface, ScrollbackOfTenThousandLinesIsCompact) {
    Term t(80, 24);
    QByteArray text;
    for (int i = 0; i < 10100; ++i) {
        QByteArray line = QByteArray::number(i).rightJustified(6, '0') + ' ';
        while (line.size() < 80) line += "lorem ipsum dolor sit amet ";
        text += line.left(80) + "\r\n";
    }
    t.feed(text);
    ASSERT_EQ(t.s.scrollback().size(), TerminalSurface::kDefaultScrollback);
    // 80 cells of 12 bytes would be 9.6 MB; trimmed UTF-8 with attribute runs is far less.
    EXPECT_LT(t.s.scrollback().memoryBytes(), size_t(2.5 * 1024 * 1024));
    EXPECT_TRUE(t.scrollbackLine(0).startsWith(QStringLiteral("000077 lorem")));
}

TEST(TerminalSurface, ResizeKeepsContent) {
    Term t(10, 5);
    t.feed("a\r\nb\r\nc\r\nd\r\ne");
    // Fewer rows: lines above the cursor move into the scroll-back.
    t.s.resize(10, 3);
    EXPECT_EQ(t.s.screenText(), QStringLiteral("c\nd\ne"));
    EXPECT_EQ(t.s.scrollback().size(), 2);
    EXPECT_EQ(t.s.cursorRow(), 2);
    // More rows: they come back.
    t.s.resize(10, 5);
    EXPECT_EQ(t.s.screenText(), QStringLiteral("a\nb\nc\nd\ne"));
    EXPECT_EQ(t.s.scrollback().size(), 0);
    EXPECT_EQ(t.s.cursorRow(), 4);

    // Blank rows below the cursor go before any content does.
    Term u(10, 5);
    u.feed("x\r\ny");
    u.s.resize(10, 2);
    EXPECT_EQ(u.s.screenText(), QStringLiteral("x\ny"));
    EXPECT_EQ(u.s.scrollback().size(), 0);

    // Narrower then wider: the screen is cut, the scroll-back is not reflowed or cut.
    Term w(12, 2);
    w.feed("0123456789AB\r\nsecond\r\nthird");
    w.s.resize(6, 2);
    EXPECT_EQ(w.row(0), QStringLiteral("second"));
    TermRow row;
    w.s.scrollback().decode(0, row, 6);
    EXPECT_EQ(row.usedLength(), 6);
    w.s.resize(12, 2);
    EXPECT_EQ(w.scrollbackLine(0), QStringLiteral("0123456789AB"));

    // A wide character cut by the new right edge does not leave half of itself.
    Term v(4, 1);
    v.feed("a\xE6\xBC\xA2");
    v.s.resize(2, 1);
    EXPECT_EQ(v.row(0), QStringLiteral("a"));
}

TEST(TerminalSurface, DamageTracksRowsAndScrolls) {
    Term t(10, 4);
    int notified = 0;
    t.s.onDamage = [&] { ++notified; };
    t.s.takeDamage();
    t.feed("\x1b[3;1Hx");
    EXPECT_EQ(notified, 1);
    t.feed("yz");
    EXPECT_EQ(notified, 1) << "one notification until the damage is taken";
    EXPECT_TRUE(t.s.damage()[2] & TerminalSurface::kContentChanged);
    EXPECT_TRUE(t.s.damage()[0] & TerminalSurface::kRepaint) << "the cursor left it";
    EXPECT_FALSE(t.s.damage()[1] & TerminalSurface::kRepaint);
    t.s.takeDamage();
    t.feed("\r\n\n\n");
    EXPECT_EQ(t.s.scrolledSinceDamage(), 2);
    EXPECT_TRUE(t.s.damage()[0] & TerminalSurface::kRepaint);
    EXPECT_FALSE(t.s.damage()[0] & TerminalSurface::kContentChanged) << "moved, not rewritten";
    EXPECT_TRUE(t.s.damage()[3] & TerminalSurface::kContentChanged);
}

TEST(TerminalSurface, TerminalStateQueries) {
    Term t;
    QString title;
    t.s.onTitleChanged = [&](const QString& s) { title = s; };
    using MT = TerminalSurface::MouseTracking;
    EXPECT_EQ(t.s.mouseTracking(), MT::Off);
    t.feed("\x1b[?1000h");
    EXPECT_EQ(t.s.mouseTracking(), MT::Normal);
    t.feed("\x1b[?1002h");
    EXPECT_EQ(t.s.mouseTracking(), MT::ButtonEvent);
    t.feed("\x1b[?1003h");
    EXPECT_EQ(t.s.mouseTracking(), MT::AnyEvent);
    t.feed("\x1b[?1003l");
    EXPECT_EQ(t.s.mouseTracking(), MT::Off);

    EXPECT_FALSE(t.s.applicationCursorKeys());
    t.feed("\x1b[?1h");
    EXPECT_TRUE(t.s.applicationCursorKeys());
    EXPECT_TRUE(t.sent.isEmpty()) << "asking must not send anything";
    t.feed("\x1b" "c");  // full reset
    EXPECT_FALSE(t.s.applicationCursorKeys());

    EXPECT_FALSE(t.s.bracketedPaste());
    t.feed("\x1b[?2004h");
    EXPECT_TRUE(t.s.bracketedPaste());

    t.feed("\x1b]0;my title\x1b\\\x1b[4 q\x1b[?25l");
    EXPECT_EQ(title, QStringLiteral("my title"));
    EXPECT_EQ(t.s.cursorShape(), TerminalSurface::CursorShape::Underline);
    EXPECT_FALSE(t.s.cursorVisible());
    // Synchronized updates, which libvterm does not know, are tracked and reported.
    t.sent.clear();
    t.feed("\x1b[?2026$p\x1b[?25;2026h");
    EXPECT_TRUE(t.s.synchronizedUpdate());
    t.feed("\x1b[?2026$p\x1b[?2026l");
    EXPECT_FALSE(t.s.synchronizedUpdate());
    EXPECT_EQ(t.sent, QByteArray("\x1b[?2026;2$y\x1b[?2026;1$y"));
    EXPECT_TRUE(t.s.cursorVisible()) << "the other modes of the list still apply";
    t.sent.clear();

    EXPECT_EQ(t.s.rowText(-1), QString());
    EXPECT_EQ(t.s.rowText(99), QString());
    EXPECT_TRUE(t.sent.isEmpty());
}
