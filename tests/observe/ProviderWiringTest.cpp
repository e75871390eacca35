// The providers hand out the observation pieces of their agent.
#include "observe/ClaudeTranscripts.h"
#include "observe/CodexRollouts.h"
#include "observe/CodexUsageWatcher.h"
#include "observe/SessionJSONLWatcher.h"
#include "observe/StateMonitors.h"
#include "sessions/AgentProvider.h"

#include "ObserveTestSupport.h"

#include <QDate>
#include <QTest>
#include <gtest/gtest.h>

TEST(ProviderWiring, ClaudeWatchesTheScreenAndTheTranscript) {
    TempHome home;
    ClaudeProvider claude;
    auto monitor = claude.makeStateMonitor();
    ASSERT_TRUE(std::dynamic_pointer_cast<ClaudeStateMonitor>(monitor));
    QList<SessionState> states;
    monitor->setOnStateChange([&](SessionState s) { states.append(s); });
    monitor->setScreenProvider([] { return QStringLiteral("Overwrite? [y/N]"); });
    monitor->start("/w/p");
    monitor->feed("x");
    ASSERT_TRUE(waitUntil([&] { return !states.isEmpty(); }, kWaitMs));
    EXPECT_EQ(states.first(), SessionState::needsAttention);

    SnapshotLog log;
    auto watcher = claude.makeUsageWatcher("/w/p", log.callback());
    ASSERT_TRUE(std::dynamic_pointer_cast<SessionJSONLWatcher>(watcher));
    ASSERT_TRUE(writeTextFile(ClaudeTranscriptLocator::transcriptDirectory("/w/p") + "/s.jsonl", "{\"sessionId\":\"s\"}\n"));
    EXPECT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.sessionID == "s"; }));
    watcher->stop();
}

TEST(ProviderWiring, CodexWatchesTheRollout) {
    TempHome home;
    CodexProvider codex;
    auto monitor = codex.makeStateMonitor();
    ASSERT_TRUE(std::dynamic_pointer_cast<CodexStateMonitor>(monitor));
    QList<SessionState> states;
    monitor->setOnStateChange([&](SessionState s) { states.append(s); });
    monitor->start("/w/q");
    SnapshotLog log;
    auto watcher = codex.makeUsageWatcher("/w/q", log.callback());
    ASSERT_TRUE(std::dynamic_pointer_cast<CodexUsageWatcher>(watcher));

    QTest::qWait(20);
    const QString path = CodexRolloutLocator::dayDirs(CodexRolloutLocator::sessionsRoot(), QDateTime::currentDateTime(),
                                                      QDateTime::currentDateTime())
                             .first() +
                         "/rollout-x.jsonl";
    ASSERT_TRUE(writeTextFile(path, "{\"type\":\"session_meta\",\"payload\":{\"id\":\"x\",\"cwd\":\"/w/q\"}}\n"
                                    "{\"type\":\"event_msg\",\"payload\":{\"type\":\"task_started\"}}\n"));
    EXPECT_TRUE(log.waitFor([](const UsageSnapshot& s) { return s.sessionID == "x"; }));
    ASSERT_TRUE(waitUntil([&] { return !states.isEmpty(); }, kWaitMs));
    EXPECT_EQ(states.first(), SessionState::generating);
    monitor->stop();
    watcher->stop();
}
