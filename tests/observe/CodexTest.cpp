#include "observe/CodexRollouts.h"
#include "observe/CodexUsageWatcher.h"
#include "observe/StateMonitors.h"

#include "ObserveTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using S = SessionState;

QByteArray meta(const QString& id, const QString& cwd) {
    return QStringLiteral("{\"timestamp\":\"2025-01-01T00:00:00Z\",\"type\":\"session_meta\",\"payload\":{\"id\":\"%1\","
                          "\"cwd\":\"%2\",\"originator\":\"codex_cli\"}}\n")
        .arg(id, cwd)
        .toUtf8();
}

QByteArray event(const char* type) {
    return QByteArray("{\"type\":\"event_msg\",\"payload\":{\"type\":\"") + type + "\"}}\n";
}

QByteArray tokenCount(int in, int out, int reasoning, std::optional<double> window, std::optional<int> lastTotal) {
    QByteArray info = "\"total_token_usage\":{\"input_tokens\":" + QByteArray::number(in) +
                      ",\"output_tokens\":" + QByteArray::number(out) +
                      ",\"reasoning_output_tokens\":" + QByteArray::number(reasoning) + "}";
    if (lastTotal) info += ",\"last_token_usage\":{\"total_tokens\":" + QByteArray::number(*lastTotal) + "}";
    if (window) info += ",\"model_context_window\":" + QByteArray::number(*window);
    return "{\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":{" + info + "}}}\n";
}

QString dayDir(const QString& root, const QDate& day) {
    return QStringLiteral("%1/%2/%3/%4")
        .arg(root)
        .arg(day.year(), 4, 10, QLatin1Char('0'))
        .arg(day.month(), 2, 10, QLatin1Char('0'))
        .arg(day.day(), 2, 10, QLatin1Char('0'));
}

// Writes a rollout into the day directory of `modified` and dates it so.
QString writeRollout(const QString& root, const QString& name, const QByteArray& content, const QDateTime& modified) {
    const QString path = dayDir(root, modified.date()) + "/" + name;
    if (!writeTextFile(path, content) || !setModified(path, modified)) return {};
    return path;
}

}  // namespace

TEST(CodexRolloutLocator, DayDirectoriesCoverEveryLocalDayInclusive) {
    const QDateTime late(QDate(2024, 12, 31), QTime(23, 59, 50));
    const QDateTime early(QDate(2025, 1, 2), QTime(0, 0, 10));
    EXPECT_EQ(CodexRolloutLocator::dayDirs("/r", late, early),
              (QStringList{"/r/2024/12/31", "/r/2025/01/01", "/r/2025/01/02"}));
    EXPECT_EQ(CodexRolloutLocator::dayDirs("/r", early, late).size(), 3);
    EXPECT_EQ(CodexRolloutLocator::dayDirs("/r", early, early), QStringList{"/r/2025/01/02"});
    TempHome home;
    EXPECT_EQ(CodexRolloutLocator::sessionsRoot(), home.path() + "/.codex/sessions");
}

TEST(CodexRolloutLocator, MetaRecordGivesCwdAndId) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rollout-1.jsonl");
    ASSERT_TRUE(writeTextFile(path, "\n{\"type\":\"other\"}\n{\"type\":\"session_meta\",\"payload\":[]}\n" +
                                        meta("conv-9", "/w/x") + meta("conv-10", "/w/y")));
    EXPECT_EQ(CodexRolloutLocator::cwd(path), "/w/x");
    EXPECT_EQ(CodexRolloutLocator::sessionID(path), "conv-9");
    // Only the first 64 KiB are read.
    ASSERT_TRUE(writeTextFile(path, "{\"pad\":\"" + QByteArray(65536, 'p') + "\"}\n" + meta("late", "/w/x")));
    EXPECT_EQ(CodexRolloutLocator::cwd(path), std::nullopt);
    EXPECT_EQ(CodexRolloutLocator::sessionID(dir.filePath("missing.jsonl")), std::nullopt);
}

TEST(CodexRolloutLocator, FindsTheNewestMatchingRolloutAcrossMidnight) {
    QTemporaryDir sessions;
    const QString root = sessions.path();
    // A session started just before midnight, its rollout in yesterday's directory.
    const QDateTime now(QDate(2025, 3, 10), QTime(0, 0, 30));
    const QDateTime after(QDate(2025, 3, 9), QTime(23, 59, 50));
    const QString match = writeRollout(root, "rollout-a.jsonl", meta("a", "/w/repo/"), after.addSecs(5));
    ASSERT_FALSE(match.isEmpty());
    ASSERT_FALSE(writeRollout(root, "rollout-other.jsonl", meta("o", "/w/elsewhere"), now).isEmpty());
    ASSERT_FALSE(writeRollout(root, "rollout-before.jsonl", meta("b", "/w/repo"), after.addSecs(-1)).isEmpty());
    ASSERT_FALSE(writeRollout(root, "notarollout.jsonl", meta("n", "/w/repo"), now).isEmpty());
    using CodexRolloutLocator::findLatestRollout;
    // The trailing "/" in the recorded cwd does not matter.
    EXPECT_EQ(findLatestRollout("/w/repo", after, root, now), match);
    EXPECT_EQ(findLatestRollout("/w/repo/", after, root, now), match);

    // The newest of several matches wins; without `after` the last day counts, whatever the age.
    const QString newer = writeRollout(root, "rollout-c.jsonl", meta("c", "/w/repo"), now.addSecs(-2));
    EXPECT_EQ(findLatestRollout("/w/repo", after, root, now), newer);
    const QString older = dayDir(root, QDate(2025, 3, 9)) + "/rollout-before.jsonl";
    ASSERT_TRUE(QFile::remove(match) && QFile::remove(newer));
    EXPECT_EQ(findLatestRollout("/w/repo", after, root, now), std::nullopt);
    EXPECT_EQ(findLatestRollout("/w/repo", std::nullopt, root, now), older);
    // Two days back is outside the default range.
    EXPECT_EQ(findLatestRollout("/w/repo", std::nullopt, root, now.addDays(2)), std::nullopt);
}

TEST(CodexRolloutLocator, ResolvesSymbolicLinksOnBothSides) {
    QTemporaryDir sessions, work;
    const QString real = work.filePath("real");
    const QString link = work.filePath("link");
    ASSERT_TRUE(QDir().mkpath(real));
    ASSERT_TRUE(QFile::link(real, link));
    const QDateTime now = QDateTime::currentDateTime();
    const QString path = writeRollout(sessions.path(), "rollout-l.jsonl", meta("l", link + "/"), now);
    EXPECT_EQ(CodexRolloutLocator::findLatestRollout(real, now.addSecs(-60), sessions.path(), now.addSecs(1)), path);
    EXPECT_EQ(CodexRolloutLocator::findLatestRollout(link, now.addSecs(-60), sessions.path(), now.addSecs(1)), path);
    EXPECT_EQ(CodexRolloutLocator::normalizedDirectory("/"), "/");
    EXPECT_EQ(CodexRolloutLocator::normalizedDirectory("/no/such/dir/"), "/no/such/dir");
}

TEST(CodexUsage, CumulativeTokensContextFillAndModel) {
    CodexUsageState state;
    EXPECT_EQ(state.latestModel, "gpt-5");
    EXPECT_FALSE(CodexUsage::applyLine(state, QString::fromUtf8(
        "{\"type\":\"turn_context\",\"payload\":{\"model\":\"openai/GPT-5-Codex \"}}")));
    EXPECT_EQ(state.latestModel, "gpt-5-codex");

    EXPECT_TRUE(CodexUsage::applyLine(state, QString::fromUtf8(tokenCount(1000, 200, 50, 272000, 68000))));
    EXPECT_EQ(state.totalTokensIn, 1000);
    EXPECT_EQ(state.totalTokensOut, 250);
    EXPECT_EQ(state.latestContextPercent, 25.0);
    // Totals replace; a window of 0 or none leaves the percentage as it was.
    EXPECT_TRUE(CodexUsage::applyLine(state, QString::fromUtf8(tokenCount(1500, 300, 0, 0, 90000))));
    EXPECT_EQ(state.totalTokensIn, 1500);
    EXPECT_EQ(state.totalTokensOut, 300);
    EXPECT_EQ(state.latestContextPercent, 25.0);
    EXPECT_TRUE(CodexUsage::applyLine(state, QString::fromUtf8(tokenCount(1600, 300, 0, std::nullopt, 90000))));
    EXPECT_EQ(state.latestContextPercent, 25.0);
    // No clamping.
    EXPECT_TRUE(CodexUsage::applyLine(state, QString::fromUtf8(tokenCount(1700, 300, 0, 1000.0, 1500))));
    EXPECT_EQ(state.latestContextPercent, 150.0);

    // Records that change nothing.
    for (const char* line : {"{\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":null}}",
                             "{\"type\":\"event_msg\",\"payload\":{\"type\":\"token_count\",\"info\":{}}}",
                             "{\"type\":\"event_msg\",\"payload\":{\"type\":\"agent_message\"}}",
                             "{\"type\":\"turn_context\",\"payload\":{\"model\":\"\"}}",
                             "{\"type\":\"turn_context\",\"payload\":\"token_count\"}", "token_count"}) {
        EXPECT_FALSE(CodexUsage::applyLine(state, QString::fromUtf8(line))) << line;
    }
    EXPECT_EQ(state.totalTokensIn, 1700);
    EXPECT_EQ(state.latestModel, "gpt-5-codex");
    EXPECT_EQ(CodexUsage::normalizeModel("GPT-5"), "gpt-5");
}

TEST(CodexStateMonitor, EventMappingAndTheBatchRule) {
    const QList<std::pair<const char*, std::optional<S>>> table{
        {"task_started", S::generating},
        {"agent_reasoning", S::thinking},
        {"agent_message", S::generating},
        {"exec_command_end", S::generating},
        {"patch_apply_end", S::generating},
        {"web_search_end", S::generating},
        {"mcp_tool_call_end", S::generating},
        {"exec_approval_request", S::needsAttention},
        {"apply_patch_approval_request", S::needsAttention},
        {"task_complete", S::userInput},
        {"turn_aborted", S::idle},
        {"token_count", std::nullopt},
        {"user_message", std::nullopt},
    };
    for (const auto& [type, expected] : table)
        EXPECT_EQ(CodexStateMonitor::stateForRolloutLine(QString::fromUtf8(event(type)).trimmed()), expected) << type;
    for (const char* line : {"{\"type\":\"response_item\",\"payload\":{\"type\":\"task_started\"}}",
                             "{\"type\":\"event_msg\",\"payload\":\"task_started\"}", "event_msg", "[]"})
        EXPECT_EQ(CodexStateMonitor::stateForRolloutLine(QString::fromUtf8(line)), std::nullopt) << line;

    const QStringList batch{QString::fromUtf8(event("task_started")), QString::fromUtf8(event("token_count")),
                            QString::fromUtf8(event("task_complete"))};
    EXPECT_EQ(CodexStateMonitor::stateAfterBatch(S::idle, batch), S::userInput);
    EXPECT_EQ(CodexStateMonitor::stateAfterBatch(S::thinking, {QString::fromUtf8(event("token_count"))}), S::thinking);
}

TEST(CodexStateMonitor, FollowsTheRolloutOfItsDirectoryOnly) {
    TempHome home;
    const QString root = CodexRolloutLocator::sessionsRoot();
    // A rollout of the same directory from before the start is never taken.
    ASSERT_FALSE(writeRollout(root, "rollout-old.jsonl", meta("old", "/w/c") + event("task_started"),
                              QDateTime::currentDateTime().addSecs(-30)).isEmpty());
    CodexStateMonitor::Options options;
    options.resolver.pollIntervalMs = 100;
    options.tailer.pollIntervalMs = 200;
    CodexStateMonitor monitor(options);
    QList<S> states;
    bool offMain = false;
    monitor.setOnStateChange([&](S s) {
        offMain = offMain || !isMainThread();
        states.append(s);
    });
    monitor.feed("ignored bytes");
    EXPECT_FALSE(monitor.attentionIsConfirmMenu());
    monitor.start("/w/c");
    QTest::qWait(400);
    EXPECT_TRUE(states.isEmpty());

    QTest::qWait(20);  // file times can trail the clock by a tick
    const QString path = QStringLiteral("%1/rollout-new.jsonl").arg(dayDir(root, QDate::currentDate()));
    ASSERT_TRUE(writeTextFile(path, meta("new", "/w/c") + event("task_started") + event("task_complete")));
    ASSERT_TRUE(waitUntil([&] { return !states.isEmpty(); }, kWaitMs));
    EXPECT_EQ(states, QList<S>{S::userInput});  // one batch reports its final state only

    ASSERT_TRUE(appendToFile(path, event("task_started") + event("agent_reasoning")));
    ASSERT_TRUE(waitUntil([&] { return states.size() >= 2; }, kWaitMs));
    ASSERT_TRUE(appendToFile(path, event("exec_approval_request")));
    ASSERT_TRUE(waitUntil([&] { return states.size() >= 3; }, kWaitMs));
    ASSERT_TRUE(appendToFile(path, event("token_count")));  // no state: no report
    ASSERT_TRUE(appendToFile(path, event("turn_aborted")));
    ASSERT_TRUE(waitUntil([&] { return states.size() >= 4; }, kWaitMs));
    EXPECT_EQ(states, (QList<S>{S::userInput, S::thinking, S::needsAttention, S::idle}));
    EXPECT_FALSE(offMain);

    monitor.stop();
    QTest::qWait(300);
    ASSERT_TRUE(appendToFile(path, event("task_started")));
    QTest::qWait(600);
    EXPECT_EQ(states.size(), 4);
}

TEST(CodexUsageWatcher, ResolvesThenReportsUsageWithDefaultsAndLimits) {
    TempHome home;
    auto limits = FakeLimitsService::make(limitsWithFiveHour(12));
    CodexUsageWatcher::Options options;
    options.resolver.pollIntervalMs = 100;
    options.tailer.pollIntervalMs = 200;
    SnapshotLog log;
    auto watcher = std::make_unique<CodexUsageWatcher>("/w/c", limits, log.callback(), options);
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.limits.has_value(); }));
    // Before any token count: the default model and zero tokens.
    EXPECT_EQ(log.last()->model, "gpt-5");
    EXPECT_EQ(log.last()->tokensIn, 0);
    EXPECT_EQ(log.last()->transcriptPath, std::nullopt);

    QTest::qWait(20);
    const QString path = QStringLiteral("%1/rollout-w.jsonl").arg(dayDir(CodexRolloutLocator::sessionsRoot(), QDate::currentDate()));
    ASSERT_TRUE(writeTextFile(path, meta("conv-w", "/w/c")));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.sessionID == "conv-w"; }));
    EXPECT_EQ(log.last()->transcriptPath, path);
    EXPECT_EQ(log.last()->tokensIn, 0);
    EXPECT_EQ(log.last()->limits->fiveHour->usedPercent, 12);

    const qsizetype before = log.values().size();
    ASSERT_TRUE(appendToFile(path, "{\"type\":\"turn_context\",\"payload\":{\"model\":\"gpt-5-codex\"}}\n"));
    QTest::qWait(500);
    EXPECT_EQ(log.values().size(), before);  // a model alone is not reported
    ASSERT_TRUE(appendToFile(path, tokenCount(1000, 200, 50, 272000, 68000) + tokenCount(1500, 200, 50, 272000, 68000)));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.tokensIn == 1500; }));
    const UsageSnapshot s = *log.last();
    EXPECT_EQ(log.values().size(), before + 1);  // one snapshot per batch
    EXPECT_EQ(s.tokensOut, 250);
    EXPECT_EQ(s.model, "gpt-5-codex");
    EXPECT_EQ(s.contextPercent, 25.0);
    EXPECT_EQ(s.sessionID, "conv-w");
    EXPECT_TRUE(log.allOnMain());

    // It stays with its rollout: a newer one of the same directory is not taken.
    const QString other = QStringLiteral("%1/rollout-z.jsonl").arg(dayDir(CodexRolloutLocator::sessionsRoot(), QDate::currentDate()));
    ASSERT_TRUE(writeTextFile(other, meta("conv-z", "/w/c") + tokenCount(9, 9, 9, 100, 1)));
    QTest::qWait(500);
    EXPECT_EQ(log.last()->sessionID, "conv-w");

    watcher->stop();
    QTest::qWait(300);
    const qsizetype stopped = log.values().size();
    ASSERT_TRUE(appendToFile(path, tokenCount(2000, 1, 1, 100, 1)));
    QTest::qWait(600);
    EXPECT_EQ(log.values().size(), stopped);
}
