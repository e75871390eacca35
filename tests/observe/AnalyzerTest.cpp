#include "observe/PTYStreamAnalyzer.h"
#include "observe/StateMonitors.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QList>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using S = SessionState;

struct TailCase {
    const char* name;
    QString screen;
    S current;
    std::optional<S> expected;
    bool confirmMenu;
};

// Records every state the analyser reports.
struct Recorder {
    QList<S> states;
    PTYStreamAnalyzer::StateCallback callback() {
        return [this](S s) { states.append(s); };
    }
};

}  // namespace

TEST(PTYStreamAnalyzer, RuleTableOverScreenTails) {
    const QString lots = QStringLiteral("output line\n").repeated(20);
    const QList<TailCase> cases{
        {"numbered confirmation menu", u"Do you want to proceed?\n\u276F 1. Yes\n  2. No\n"_qs, S::idle,
         S::needsAttention, true},
        {"tab to amend", u"Edit file\n  tab to amend"_qs, S::generating, S::needsAttention, true},
        {"allow all edits", u"2. Yes, allow all edits during this session"_qs, S::idle, S::needsAttention, true},
        {"don't ask again", u"Yes, and don't ask again for git"_qs, S::idle, S::needsAttention, true},
        {"do you want to without the menu", u"Do you want to continue?"_qs, S::generating, std::nullopt, false},
        {"yes/no prompt is lower-cased", u"Overwrite? [y/N]"_qs, S::idle, S::needsAttention, false},
        {"(y/n)", u"Proceed (Y/N)"_qs, S::idle, S::needsAttention, false},
        {"allow and deny", u"Allow this tool?\n  Allow   Deny"_qs, S::idle, S::needsAttention, false},
        {"thinking", u"\u273B Thinking\u2026 (esc to interrupt)"_qs, S::idle, S::thinking, false},
        {"generating", u"\u00B7 Writing\u2026 (ESC to interrupt)"_qs, S::idle, S::generating, false},
        {"esc to cancel", u"running tool (esc to cancel)"_qs, S::userInput, S::generating, false},
        {"menu wins over generating", u"esc to interrupt\n[y/n]"_qs, S::generating, S::needsAttention, false},
        {"prompt box", u"\u256D\u2500\u2500\u256E\n\u2502 > \u2502\n? for shortcuts"_qs, S::generating,
         S::userInput, false},
        {"effort hint", u"/effort to change"_qs, S::idle, S::userInput, false},
        {"mode hint", u"\u23F5\u23F5 accept edits on (shift+tab to cycle)"_qs, S::idle, S::userInput, false},
        {"shell prompt", u"done\nann@box:~/repo$ "_qs, S::generating, S::idle, false},
        {"zsh prompt", u"ann@box repo % "_qs, S::generating, S::idle, false},
        {"heavy angle prompt", u"~/repo \u276F "_qs, S::userInput, S::idle, false},
        {"prompt sign not at the end", u"$ ls\nfile.txt"_qs, S::generating, std::nullopt, false},
        {"nothing while generating", u"some output"_qs, S::generating, std::nullopt, false},
        {"nothing after a question", u"some output"_qs, S::needsAttention, S::userInput, false},
        {"marker beyond the last 15 lines", u"esc to interrupt\n"_qs + lots, S::idle, std::nullopt, false},
        {"blank lines do not count", u"esc to interrupt\n"_qs + u"  \t\n"_qs.repeated(30) + lots.left(14 * 12),
         S::idle, S::generating, false},
    };
    for (const TailCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decision = PTYStreamAnalyzer::decide(PTYStreamAnalyzer::tailOf(c.screen), c.current);
        EXPECT_EQ(decision.state, c.expected);
        EXPECT_EQ(decision.confirmMenu, c.confirmMenu);
    }
}

TEST(PTYStreamAnalyzer, TailKeepsTheLastFifteenNonBlankLinesUntrimmedAndLowerCased) {
    QString screen;
    for (int i = 1; i <= 20; ++i) screen += QStringLiteral("Line %1\n   \n").arg(i);
    screen += QStringLiteral("  Prompt $ ");
    const QString tail = PTYStreamAnalyzer::tailOf(screen);
    const QStringList lines = tail.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 15);
    EXPECT_EQ(lines.first(), "line 7");
    EXPECT_EQ(lines.last(), "  prompt $ ");
}

TEST(PTYStreamAnalyzer, FramesAreJudgedOnceOutputPauses) {
    PTYStreamAnalyzer analyzer;
    Recorder recorder;
    analyzer.setOnStateChange(recorder.callback());
    analyzer.feed("\x1b[2m\xe2\x9c\xbb Thinking\xe2\x80\xa6 (esc to interrupt)\x1b[0m\r\n");
    // Nothing is judged inside the chunk itself.
    EXPECT_EQ(analyzer.state(), S::idle);
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::thinking; }));
    EXPECT_EQ(analyzer.recentText(), " Thinking (esc to interrupt)\n");

    analyzer.feed("Overwrite main.c? [y/N] ");
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::needsAttention; }));
    EXPECT_EQ(recorder.states, (QList<S>{S::thinking, S::needsAttention}));
}

TEST(PTYStreamAnalyzer, ScreenProviderIsJudgedInsteadOfTheRecentText) {
    PTYStreamAnalyzer analyzer;
    QString screen = u"Do you want to proceed?\n\u276F 1. Yes\n  2. No"_qs;
    analyzer.setScreenProvider([&] { return screen; });
    analyzer.feed("x");
    analyzer.analyzeFrame();
    EXPECT_EQ(analyzer.state(), S::needsAttention);
    EXPECT_TRUE(analyzer.attentionIsConfirmMenu());

    // The answer was given: the menu is gone and nothing else matches, so the agent waits.
    screen = QStringLiteral("Edited file.txt");
    analyzer.analyzeFrame();
    EXPECT_EQ(analyzer.state(), S::userInput);
    EXPECT_FALSE(analyzer.attentionIsConfirmMenu());

    screen = QStringLiteral("Overwrite? [y/N]");
    analyzer.analyzeFrame();
    EXPECT_EQ(analyzer.state(), S::needsAttention);
    EXPECT_FALSE(analyzer.attentionIsConfirmMenu());
}

TEST(PTYStreamAnalyzer, LeavingTheAlternateScreenIsIdleAtOnceEvenWhenSplit) {
    for (const QList<QByteArray>& chunks :
         {QList<QByteArray>{"\x1b[?1049l"}, QList<QByteArray>{"\x1b", "[?10", "49", "l"}}) {
        PTYStreamAnalyzer analyzer;
        Recorder recorder;
        analyzer.setOnStateChange(recorder.callback());
        analyzer.feed("esc to interrupt\n");
        analyzer.analyzeFrame();
        ASSERT_EQ(analyzer.state(), S::generating);
        for (const QByteArray& chunk : chunks) analyzer.feed(chunk);
        EXPECT_EQ(analyzer.state(), S::idle);
        EXPECT_EQ(recorder.states, (QList<S>{S::generating, S::idle}));
    }
    // Entering it, or other private modes, change nothing.
    PTYStreamAnalyzer analyzer;
    analyzer.feed("esc to interrupt\n");
    analyzer.analyzeFrame();
    analyzer.feed("\x1b[?1049h\x1b[?25l\x1b[1049l\x1b[?1049;1l");
    EXPECT_EQ(analyzer.state(), S::generating);
}

TEST(PTYStreamAnalyzer, EscapeSequencesNeverReachTheTextAndMaySplitAnywhere) {
    // CSI, OSC ended by BEL and by ESC \, and two-byte escapes: ESC ( ends at "(", so the
    // designator "B" after it is text.
    const QByteArray stream =
        "a\x1b[38;2;10;20;30mb\x1b]0;window title\x07" "c\x1b]8;;http://x\x1b\\d\x1b(Be\x1b" "7f\r\n\tg\xc3\xa9h";
    PTYStreamAnalyzer whole;
    whole.feed(stream);
    EXPECT_EQ(whole.recentText(), "abcdBef\ngh");
    // Every split point gives the same text.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        PTYStreamAnalyzer split;
        split.feed(QByteArrayView(stream).first(cut));
        split.feed(QByteArrayView(stream).sliced(cut));
        EXPECT_EQ(split.recentText(), "abcdBef\ngh") << "cut at " << cut;
    }
}

TEST(PTYStreamAnalyzer, UnterminatedOscIsAbandonedAtItsTwoHundredFiftySeventhByte) {
    // ESC ] and 254 more bytes make 256: still inside; the next byte is the 257th and is swallowed.
    PTYStreamAnalyzer analyzer;
    analyzer.feed(QByteArray("\x1b]") + QByteArray(254, 'x'));
    EXPECT_TRUE(analyzer.inEscape());
    EXPECT_EQ(analyzer.recentText(), "");
    analyzer.feed("ABC more");
    EXPECT_FALSE(analyzer.inEscape());
    EXPECT_EQ(analyzer.recentText(), "BC more");

    // One byte shorter and terminated: a normal command.
    PTYStreamAnalyzer terminated;
    terminated.feed(QByteArray("\x1b]") + QByteArray(253, 'x') + "\x07" + "ABC");
    EXPECT_EQ(terminated.recentText(), "ABC");
}

TEST(PTYStreamAnalyzer, ControlSequencesHaveNoLengthBound) {
    PTYStreamAnalyzer analyzer;
    analyzer.feed(QByteArray("\x1b[") + QByteArray(100000, '1') + "mok");
    EXPECT_EQ(analyzer.recentText(), "ok");
}

TEST(PTYStreamAnalyzer, RecentTextIsBoundedToItsLastTwoThousandCharacters) {
    PTYStreamAnalyzer analyzer;
    QByteArray big;
    for (int i = 0; i < 200000; ++i) big += QByteArray::number(i % 10);
    analyzer.feed(big);
    EXPECT_EQ(analyzer.recentText().size(), 2000);
    EXPECT_EQ(analyzer.recentText(), QString::fromLatin1(big.right(2000)));
    // Small chunks that cross the bound keep the newest characters too.
    for (int i = 0; i < 3000; ++i) analyzer.feed("ab\x1b[0m");
    EXPECT_EQ(analyzer.recentText(), QStringLiteral("ab").repeated(1000));
}

TEST(PTYStreamAnalyzer, GeneratingStaysThroughOutputAndEndsAfterSilence) {
    PTYStreamAnalyzer analyzer;
    analyzer.setIdleTimeoutMs(1500);
    Recorder recorder;
    analyzer.setOnStateChange(recorder.callback());
    analyzer.feed("Working (esc to interrupt)\n");
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::generating; }));
    // Output that matches nothing keeps the state, and keeps putting the idle timer off.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2500) {
        analyzer.feed("more text\n");
        QTest::qWait(100);
        ASSERT_EQ(analyzer.state(), S::generating);
    }
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::userInput; }));
    EXPECT_EQ(recorder.states, (QList<S>{S::generating, S::userInput}));

    // Silence does nothing to other states.
    analyzer.feed("ann@box:~$ ");
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::idle; }));
    QTest::qWait(2000);
    EXPECT_EQ(analyzer.state(), S::idle);
}

TEST(PTYStreamAnalyzer, EightSecondsOfSilenceEndATurnByDefault) {
    PTYStreamAnalyzer analyzer;
    analyzer.feed("Thinking (esc to interrupt)\n");
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::thinking; }));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return analyzer.state() == S::userInput; }, 30000));
    EXPECT_GE(clock.elapsed(), 7500);
}

TEST(ClaudeStateMonitor, PassesBytesScreenAndCallbackToItsAnalyser) {
    ClaudeStateMonitor monitor;
    QList<S> states;
    monitor.setOnStateChange([&](S s) { states.append(s); });
    monitor.setScreenProvider([] { return u"Do you want to make this edit?\n\u276F 1. Yes\n  2. No"_qs; });
    monitor.start(QStringLiteral("/nowhere"));
    monitor.feed("anything");
    ASSERT_TRUE(waitUntil([&] { return !states.isEmpty(); }));
    EXPECT_EQ(states, QList<S>{S::needsAttention});
    EXPECT_TRUE(monitor.attentionIsConfirmMenu());
    monitor.stop();
}
