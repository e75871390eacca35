#include "observe/ClaudeTranscripts.h"
#include "observe/SessionJSONLWatcher.h"

#include "ObserveTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray assistant(const char* model, int in, int out, int create, int read) {
    return QStringLiteral("{\"type\":\"assistant\",\"sessionId\":\"conv-1\",\"message\":{\"model\":\"%1\",\"usage\":"
                          "{\"input_tokens\":%2,\"output_tokens\":%3,\"cache_creation_input_tokens\":%4,"
                          "\"cache_read_input_tokens\":%5}}}\n")
        .arg(QLatin1String(model))
        .arg(in)
        .arg(out)
        .arg(create)
        .arg(read)
        .toUtf8();
}

// A projects root with the transcript directory of /w/proj.
struct Projects {
    QTemporaryDir root;
    QString dir() const { return ClaudeTranscriptLocator::transcriptDirectory("/w/proj", root.path()); }
    QString file(const QString& name) const { return dir() + "/" + name; }
    SessionJSONLWatcher::Options options() const {
        SessionJSONLWatcher::Options o;
        o.projectsRoot = root.path();
        o.resolveIntervalMs = 100;
        o.tailer.pollIntervalMs = 200;
        return o;
    }
};

}  // namespace

TEST(SessionJSONLWatcher, FollowsTheTranscriptWithTokensModelIdAndLimits) {
    Projects projects;
    ASSERT_TRUE(QDir().mkpath(projects.dir()));
    auto limits = FakeLimitsService::make(limitsWithFiveHour(42));
    SnapshotLog log;
    auto watcher = std::make_unique<SessionJSONLWatcher>("/w/proj", limits, log.callback(), projects.options());

    // The limits arrive before any transcript exists.
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.limits.has_value(); }));
    EXPECT_EQ(log.last()->limits->fiveHour->usedPercent, 42);
    EXPECT_EQ(log.last()->transcriptPath, std::nullopt);

    const QString path = projects.file("conv-1.jsonl");
    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"user\",\"sessionId\":\"conv-1\"}\n"));
    ASSERT_TRUE(log.waitFor([&](const UsageSnapshot& s) { return s.sessionID == "conv-1"; }));
    EXPECT_EQ(log.last()->transcriptPath, path);
    EXPECT_EQ(log.last()->tokensIn, 0);

    ASSERT_TRUE(appendToFile(path, assistant("claude-opus-4-1", 100, 10, 50, 5) + assistant("claude-opus-4-1", 20, 3, 0, 0)));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.tokensIn == 175; }));
    const UsageSnapshot s = *log.last();
    EXPECT_EQ(s.tokensOut, 13);
    EXPECT_EQ(s.model, "opus");
    EXPECT_EQ(s.contextPercent, std::nullopt);  // transcripts do not tell the context fill
    ASSERT_TRUE(s.limits);
    EXPECT_EQ(s.limits->fiveHour->usedPercent, 42);

    // A limits change reaches the session with the usage unchanged.
    limits->setLimits(limitsWithFiveHour(77));
    limits->refreshNow();
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.limits && s.limits->fiveHour->usedPercent == 77; }));
    EXPECT_EQ(log.last()->tokensIn, 175);
    // Empty limits count as none.
    limits->setLimits(AgentLimits{});
    limits->refreshNow();
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return !s.limits.has_value(); }));
    EXPECT_TRUE(log.allOnMain());
}

TEST(SessionJSONLWatcher, IgnoresTranscriptsOlderThanItsStartWindowUntilWrittenAgain) {
    Projects projects;
    const QString old = projects.file("old.jsonl");
    ASSERT_TRUE(writeTextFile(old, "{\"sessionId\":\"old\"}\n" + assistant("claude-sonnet-4", 1, 1, 0, 0)));
    ASSERT_TRUE(setModified(old, QDateTime::currentDateTime().addSecs(-11)));
    SnapshotLog log;
    SessionJSONLWatcher watcher("/w/proj", nullptr, log.callback(), projects.options());
    QTest::qWait(600);
    EXPECT_TRUE(log.values().isEmpty());

    ASSERT_TRUE(appendToFile(old, assistant("claude-sonnet-4", 2, 2, 0, 0)));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.tokensIn == 3; }));
    EXPECT_EQ(log.last()->sessionID, "old");
    EXPECT_EQ(log.last()->model, "sonnet");
    watcher.stop();
}

TEST(SessionJSONLWatcher, SwitchesToANewerTranscriptAndRestartsTheCounts) {
    Projects projects;
    SnapshotLog log;
    SessionJSONLWatcher watcher("/w/proj", nullptr, log.callback(), projects.options());
    const QString first = projects.file("a.jsonl");
    ASSERT_TRUE(writeTextFile(first, "{\"sessionId\":\"a\"}\n" + assistant("claude-opus-4", 10, 1, 0, 0)));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.tokensIn == 10; }));

    const QString second = projects.file("b.jsonl");
    ASSERT_TRUE(writeTextFile(second, "{\"type\":\"user\",\"sessionId\":\"b\"}\n"));
    ASSERT_TRUE(setModified(second, QDateTime::currentDateTime().addSecs(5)));
    ASSERT_TRUE(log.waitFor([&](const UsageSnapshot& s) { return s.transcriptPath == second; }));
    EXPECT_EQ(log.last()->sessionID, "b");
    EXPECT_EQ(log.last()->tokensIn, 0);
    EXPECT_EQ(log.last()->model, "opus");  // kept until a record names another

    // Sub-agent records add tokens without changing the model.
    ASSERT_TRUE(appendToFile(second, "{\"type\":\"assistant\",\"isSidechain\":true,\"message\":{\"model\":\"claude-haiku\","
                                     "\"usage\":{\"input_tokens\":4,\"output_tokens\":1}}}\n"));
    ASSERT_TRUE(setModified(second, QDateTime::currentDateTime().addSecs(6)));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.tokensIn == 4; }));
    EXPECT_EQ(log.last()->model, "opus");
}

TEST(SessionJSONLWatcher, StoppedOrDiscardedWatchersDeliverNothingMore) {
    Projects projects;
    auto limits = FakeLimitsService::make(limitsWithFiveHour(10));
    SnapshotLog log;
    auto watcher = std::make_unique<SessionJSONLWatcher>("/w/proj", limits, log.callback(), projects.options());
    const QString path = projects.file("c.jsonl");
    ASSERT_TRUE(writeTextFile(path, "{\"sessionId\":\"c\"}\n"));
    ASSERT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.sessionID == "c"; }));
    watcher->stop();
    QTest::qWait(200);
    const qsizetype before = log.values().size();
    ASSERT_TRUE(appendToFile(path, assistant("claude-opus-4", 1, 1, 0, 0)));
    limits->setLimits(limitsWithFiveHour(11));
    limits->refreshNow();
    QTest::qWait(800);
    EXPECT_EQ(log.values().size(), before);

    // Discarding before queued snapshots are delivered drops them.
    SnapshotLog log2;
    auto second = std::make_unique<SessionJSONLWatcher>("/w/proj", limits, log2.callback(), projects.options());
    second.reset();
    QTest::qWait(500);
    EXPECT_TRUE(log2.values().isEmpty());
}
