// The fake agents' output and files driven through a state monitor and a usage watcher wired the
// way a session wires them.
#include "app/NotificationNames.h"
#include "core/MainThread.h"
#include "core/NotificationCenter.h"
#include "observe/ClaudeTranscripts.h"
#include "observe/CodexUsageWatcher.h"
#include "observe/SessionJSONLWatcher.h"
#include "observe/SessionObservation.h"
#include "observe/StateMonitors.h"

#include "ObserveTestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

using S = SessionState;

// The observation half of a session: the state callback, the fed bytes and the snapshot rules.
class ObservedSession {
public:
    using MakeWatcher = std::function<std::shared_ptr<UsageWatching>(const QString&, UsageWatching::Update)>;

    ObservedSession(std::shared_ptr<AgentStateMonitor> monitor, std::function<void()> refreshLimits)
        : monitor_(std::move(monitor)), refreshLimits_(std::move(refreshLimits)) {
        monitor_->setOnStateChange([this, alive = std::weak_ptr<int>(alive_)](S next) {
            if (alive.expired()) return;
            const S old = state;
            state = next;
            states.append(next);
            if (endsAgentTurn(old, next)) refreshLimits_();
            runOnMain([this, alive] {
                if (!alive.expired()) post(kSessionStateDidChange);
            });
        });
    }
    ~ObservedSession() {
        if (watcher_) watcher_->stop();
        monitor_->stop();
    }

    void feed(const QByteArray& bytes) { monitor_->feed(bytes); }

    void start(const QString& directory, const MakeWatcher& makeWatcher) {
        monitor_->start(directory);
        watcher_ = makeWatcher(directory, [this, alive = std::weak_ptr<int>(alive_)](const UsageSnapshot& s) {
            if (alive.expired()) return;
            if (applyUsageSnapshot({model, tokensIn, tokensOut, limits, contextPercent, agentSessionID,
                                    agentTranscriptPath},
                                   s)
                    .agentSessionChanged)
                ++saves;
            post(kSessionUsageDidChange);
        });
    }

    bool confirmMenu() const { return monitor_->attentionIsConfirmMenu(); }

    QObject manager;
    QUuid id = QUuid::createUuid();
    S state = S::idle;
    QList<S> states;
    QString model;
    qint64 tokensIn = 0, tokensOut = 0;
    std::optional<AgentLimits> limits;
    std::optional<double> contextPercent;
    std::optional<QString> agentSessionID, agentTranscriptPath;
    int saves = 0;

private:
    void post(const char* name) {
        NotificationCenter::shared().post(name, &manager, {{QString::fromLatin1(kSessionIDKey), QVariant::fromValue(id)}});
    }

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::shared_ptr<AgentStateMonitor> monitor_;
    std::shared_ptr<UsageWatching> watcher_;
    std::function<void()> refreshLimits_;
};

// Counts the session notifications for one session of one manager.
struct NotificationCounts {
    NotificationCounts(ObservedSession& session) {
        for (const char* name : {kSessionStateDidChange, kSessionUsageDidChange}) {
            NotificationCenter::shared().observe(
                name, &context,
                [this, &session, name](const Notification& n) {
                    if (n.userInfo.value(QString::fromLatin1(kSessionIDKey)).value<QUuid>() != session.id) return;
                    ++(QByteArray(name) == kSessionStateDidChange ? state : usage);
                },
                &session.manager);
        }
    }
    QObject context;
    int state = 0;
    int usage = 0;
};

// A fake agent run stepwise: each go() lets it take its next step.
class FakeAgent {
public:
    FakeAgent(const QString& name, const QString& home, const QString& directory, const QString& sessionId,
              std::function<void(const QByteArray&)> onOutput) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("FAKE_AGENT_STEPPED", "1");
        env.insert("FAKE_SESSION_ID", sessionId);
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(directory);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_,
                         [this, onOutput] { onOutput(process_.readAllStandardOutput()); });
        process_.start(QStringLiteral(VARNIX_FIXTURES "/agents/") + name, {});
    }
    ~FakeAgent() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) process_.kill();
    }
    bool started() { return process_.waitForStarted(10000); }
    void go() { process_.write("\n"); }
    bool finished() { return process_.state() == QProcess::NotRunning; }
    int exitCode() const { return process_.exitCode(); }

private:
    QProcess process_;
};

}  // namespace

TEST(EndToEnd, FakeClaudeMovesThroughItsStatesAndUsage) {
    TempHome home;
    QTemporaryDir work;
    const QString directory = QFileInfo(work.path()).canonicalFilePath();
    auto limits = FakeLimitsService::make(limitsWithFiveHour(30));
    int refreshes = 0;
    ObservedSession session(std::make_shared<ClaudeStateMonitor>(), [&] {
        ++refreshes;
        limits->refreshNow();
    });
    NotificationCounts counts(session);
    session.start(directory, [&](const QString& dir, UsageWatching::Update update) {
        return std::make_shared<SessionJSONLWatcher>(dir, limits, std::move(update));
    });
    const QString sid = QStringLiteral("11111111-2222-4333-8444-555555555555");
    FakeAgent agent("claude", home.path(), directory, sid, [&](const QByteArray& bytes) { session.feed(bytes); });
    ASSERT_TRUE(agent.started());

    auto waitState = [&](S s) { return waitUntil([&] { return session.state == s; }, kWaitMs); };
    ASSERT_TRUE(waitState(S::userInput));
    ASSERT_TRUE(waitUntil([&] { return session.agentSessionID == sid; }, kWaitMs));
    EXPECT_EQ(session.agentTranscriptPath,
              ClaudeTranscriptLocator::transcriptDirectory(directory) + "/" + sid + ".jsonl");
    EXPECT_EQ(session.saves, 1);
    agent.go();
    ASSERT_TRUE(waitState(S::thinking));
    agent.go();
    ASSERT_TRUE(waitState(S::generating));
    ASSERT_TRUE(waitUntil([&] { return session.tokensIn == 155; }, kWaitMs));
    EXPECT_EQ(session.model, "opus");
    agent.go();
    ASSERT_TRUE(waitState(S::needsAttention));
    EXPECT_TRUE(session.confirmMenu());
    agent.go();
    ASSERT_TRUE(waitState(S::generating));
    EXPECT_FALSE(session.confirmMenu());
    agent.go();
    ASSERT_TRUE(waitState(S::userInput));
    ASSERT_TRUE(waitUntil([&] { return session.tokensIn == 175 && session.tokensOut == 13; }, kWaitMs));
    agent.go();
    ASSERT_TRUE(waitState(S::idle));  // left the alternate screen
    ASSERT_TRUE(waitUntil([&] { return agent.finished(); }, kWaitMs));
    EXPECT_EQ(agent.exitCode(), 0);

    EXPECT_EQ(session.states, (QList<S>{S::userInput, S::thinking, S::generating, S::needsAttention, S::generating,
                                        S::userInput, S::idle}));
    EXPECT_EQ(refreshes, 1);  // one turn ended
    ASSERT_TRUE(session.limits);
    EXPECT_EQ(session.limits->fiveHour->usedPercent, 30);
    EXPECT_EQ(session.contextPercent, std::nullopt);
    EXPECT_EQ(session.saves, 1);
    ASSERT_TRUE(waitUntil([&] { return counts.state == 7; }, kWaitMs));
    EXPECT_GE(counts.usage, 3);  // limits, id, and the two turns' tokens (some may share a snapshot)
}

TEST(EndToEnd, FakeCodexMovesThroughItsStatesAndUsage) {
    TempHome home;
    QTemporaryDir work;
    const QString directory = QFileInfo(work.path()).canonicalFilePath();
    auto limits = FakeLimitsService::make(limitsWithFiveHour(55));
    int refreshes = 0;
    ObservedSession session(std::make_shared<CodexStateMonitor>(), [&] {
        ++refreshes;
        limits->refreshNow();
    });
    NotificationCounts counts(session);
    session.start(directory, [&](const QString& dir, UsageWatching::Update update) {
        return std::make_shared<CodexUsageWatcher>(dir, limits, std::move(update));
    });
    const QString sid = QStringLiteral("0199a213-81c0-7800-8aa1-bbab2a035a53");
    FakeAgent agent("codex", home.path(), directory, sid, [&](const QByteArray& bytes) { session.feed(bytes); });
    ASSERT_TRUE(agent.started());

    ASSERT_TRUE(waitUntil([&] { return session.agentSessionID == sid; }, kWaitMs));
    ASSERT_TRUE(session.agentTranscriptPath);
    EXPECT_TRUE(session.agentTranscriptPath->startsWith(home.path() + "/.codex/sessions/"));
    EXPECT_EQ(session.model, "gpt-5");  // nothing counted yet
    EXPECT_EQ(session.state, S::idle);

    auto waitState = [&](S s) { return waitUntil([&] { return session.state == s; }, kWaitMs); };
    agent.go();
    ASSERT_TRUE(waitState(S::generating));
    agent.go();
    ASSERT_TRUE(waitState(S::thinking));
    agent.go();
    ASSERT_TRUE(waitState(S::generating));
    ASSERT_TRUE(waitUntil([&] { return session.tokensIn == 1000; }, kWaitMs));
    EXPECT_EQ(session.tokensOut, 250);
    EXPECT_EQ(session.model, "gpt-5-codex");
    EXPECT_EQ(session.contextPercent, 25.0);
    agent.go();
    ASSERT_TRUE(waitState(S::needsAttention));
    EXPECT_FALSE(session.confirmMenu());
    agent.go();
    ASSERT_TRUE(waitState(S::generating));
    agent.go();
    ASSERT_TRUE(waitState(S::userInput));
    ASSERT_TRUE(waitUntil([&] { return session.tokensIn == 1500; }, kWaitMs));
    EXPECT_EQ(session.tokensOut, 320);
    EXPECT_EQ(session.contextPercent, 5.0);
    agent.go();
    ASSERT_TRUE(waitUntil([&] { return agent.finished(); }, kWaitMs));

    EXPECT_EQ(session.states, (QList<S>{S::generating, S::thinking, S::generating, S::needsAttention, S::generating,
                                        S::userInput}));
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(session.limits->fiveHour->usedPercent, 55);
    EXPECT_EQ(session.saves, 1);
    ASSERT_TRUE(waitUntil([&] { return counts.state == 6; }, kWaitMs));
    EXPECT_GE(counts.usage, 3);
}
