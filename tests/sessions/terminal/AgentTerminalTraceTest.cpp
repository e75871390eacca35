// The input trace, switched on by VRNX_INPUT_TRACE even when it is empty.
#include "sessions/terminal/AgentTerminalView.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>

namespace {

// Before anything reads the flag: present, with an empty value.
const bool kTraceOn = (qputenv("VRNX_INPUT_TRACE", QByteArray("")), true);

class View : public AgentTerminalView {
public:
    View() {
        resize(sizeForCells(40, 10));
        show();
    }
};

// The trace lines of `log`, their uptime stamp checked and taken out.
QStringList traceLines(const LogCapture& log) {
    static const QRegularExpression stamp(QStringLiteral("^\\[VRNX-INPUT \\d+\\.\\d{4}\\] "));
    QStringList out;
    for (const QString& line : log.lines()) {
        if (!line.startsWith("[VRNX-INPUT")) continue;
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        out << QString(line).remove(stamp);
    }
    return out;
}

}  // namespace

TEST(InputTrace, OutgoingEnterAndArrowsAreNamed) {
    const std::pair<QByteArray, QString> cases[] = {
        {"\r", QString::fromUtf8("send→PTY ENTER  bytes=0d")},
        {"\n", QString::fromUtf8("send→PTY ENTER  bytes=0a")},
        {"\x1b[A", QString::fromUtf8("send→PTY up  bytes=1b 5b 41")},
        {"\x1bOB", QString::fromUtf8("send→PTY down  bytes=1b 4f 42")},
        {"\x1b[C", QString::fromUtf8("send→PTY right  bytes=1b 5b 43")},
        {"\x1bOD", QString::fromUtf8("send→PTY left  bytes=1b 4f 44")},
        {"\r\n", ""},
        {"a", ""},
        {"\x1b[E", ""},
        {"\x1b[1;5A", ""},
        {"\x1bxA", ""},
        {"", ""},
    };
    for (const auto& [bytes, message] : cases)
        EXPECT_EQ(AgentTerminalView::outgoingTraceMessage(bytes), message) << bytes.toHex().toStdString();
}

TEST(InputTrace, AnEmptyVariableTurnsItOnAndKeysAreTracedBothWays) {
    ASSERT_TRUE(kTraceOn);
    EXPECT_TRUE(AgentTerminalView::inputTraceEnabled());

    LogCapture log;
    View v;
    QTest::keyClick(&v, Qt::Key_Up);
    QTest::keyClick(&v, Qt::Key_A);
    QTest::keyClick(&v, Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&v, &repeat);
    EXPECT_EQ(traceLines(log), (QStringList{
                                   "term keyDown up",
                                   QString::fromUtf8("term send→PTY up  bytes=1b 5b 41"),
                                   QString::fromUtf8("term send→PTY ENTER  bytes=0d"),
                                   "term keyDown left (repeat)",
                                   QString::fromUtf8("term send→PTY left  bytes=1b 5b 44"),
                               }));

    // The session's label names the view; the application cursor form is traced as well.
    LogCapture labelled;
    v.inputTraceLabel = QString::fromUtf8("👑 Yaga");
    v.surface()->feed("\x1b[?1h");
    QTest::keyClick(&v, Qt::Key_Down);
    EXPECT_EQ(traceLines(labelled), (QStringList{QString::fromUtf8("👑 Yaga keyDown down"),
                                                 QString::fromUtf8("👑 Yaga send→PTY down  bytes=1b 4f 42")}));
}
