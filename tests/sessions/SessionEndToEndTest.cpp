// Real sessions running the stand-in agents on their terminals: the output analyser or the rollout
// monitor moves the session through its states, the transcript or rollout watcher brings its
// usage, and the session posts what the views listen to.
#include "observe/ClaudeTranscripts.h"
#include "observe/CodexUsageWatcher.h"
#include "observe/SessionJSONLWatcher.h"
#include "observe/StateMonitors.h"

#include "SessionTestSupport.h"
#include "observe/ObserveTestSupport.h"
#include "QtPrinters.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

using S = SessionState;

// Records the states a real monitor reports, on their way to the session.
class RecordingMonitor final : public AgentStateMonitor {
public:
    RecordingMonitor(std::shared_ptr<AgentStateMonitor> inner, std::shared_ptr<QList<S>> states)
        : inner_(std::move(inner)), states_(std::move(states)) {}
    void setOnStateChange(StateCallback callback) override {
        inner_->setOnStateChange([states = states_, callback](S s) {
            states->append(s);
            callback(s);
        });
    }
    bool attentionIsConfirmMenu() const override { return inner_->attentionIsConfirmMenu(); }
    void feed(QByteArrayView bytes) override { inner_->feed(bytes); }
    void start(const QString& directory) override { inner_->start(directory); }
    void stop() override { inner_->stop(); }
    void setScreenProvider(ScreenProvider provider) override { inner_->setScreenProvider(std::move(provider)); }

private:
    std::shared_ptr<AgentStateMonitor> inner_;
    std::shared_ptr<QList<S>> states_;
};

// The real Claude or Codex provider, launching a stand-in and answering limits from a fake service.
class ObservedProvider final : public AgentProvider {
public:
    ObservedProvider(AgentProviderRef real, QString launch, std::shared_ptr<FakeLimitsService> limits)
        : real_(std::move(real)), launch_(std::move(launch)), limits_(std::move(limits)) {}

    QString id() const override { return real_->id(); }
    QString displayName() const override { return real_->displayName(); }
    QColor accentColor() const override { return real_->accentColor(); }
    QStringList selectableModels() const override { return real_->selectableModels(); }
    QString resolveLaunchCommand(const QString&) const override { return launch_; }
    QStringList resumeArguments(const QString& id) const override { return real_->resumeArguments(id); }
    std::optional<QSet<QString>> liveSessionIDs() const override { return std::nullopt; }
    QStringList attachArguments() const override { return real_->attachArguments(); }
    std::shared_ptr<AgentStateMonitor> makeStateMonitor() const override {
        return std::make_shared<RecordingMonitor>(real_->makeStateMonitor(), states);
    }
    std::shared_ptr<UsageWatching> makeUsageWatcher(const QString& directory,
                                                    UsageWatching::Update onUpdate) const override {
        if (real_->id() == QLatin1String("codex"))
            return std::make_shared<CodexUsageWatcher>(directory, limits_, std::move(onUpdate));
        return std::make_shared<SessionJSONLWatcher>(directory, limits_, std::move(onUpdate));
    }
    void refreshLimits() const override {
        ++*refreshes;
        limits_->refreshNow();
    }

    std::shared_ptr<QList<S>> states = std::make_shared<QList<S>>();
    std::shared_ptr<int> refreshes = std::make_shared<int>(0);

private:
    AgentProviderRef real_;
    QString launch_;
    std::shared_ptr<FakeLimitsService> limits_;
};

class SessionEndToEnd : public SessionTestBase, public ::testing::Test {
protected:
    ~SessionEndToEnd() override {
        while (!manager.sessions.isEmpty()) manager.closeSession(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The stand-in agent, taking one step per Enter.
    QString steppedAgent(const QString& name, const QString& conversation) {
        return writeScript(scripts_, "stepped-" + name,
                           "export FAKE_AGENT_STEPPED=1 FAKE_SESSION_ID=" + conversation.toUtf8() +
                               "\nexec " VARNIX_FIXTURES "/agents/" + name.toUtf8() + "\n");
    }
    void go(const SessionRef& s) { s->terminalView->sendBytes("\r"); }
    bool waitState(const SessionRef& s, S state) {
        return waitUntil([&] { return s->state == state; }, kWaitMs);
    }

    QTemporaryDir work_;
    QString directory_ = QFileInfo(work_.path()).canonicalFilePath();
    SessionManager manager;
};

TEST_F(SessionEndToEnd, ClaudeSessionFollowsTheScreenAndTheTranscript) {
    const QString sid = QStringLiteral("11111111-2222-4333-8444-555555555555");
    auto limits = FakeLimitsService::make(limitsWithFiveHour(30));
    auto claude = std::make_shared<ObservedProvider>(AgentRegistry::provider("claude"), steppedAgent("claude", sid),
                                                     limits);
    manager.projectDir = directory_;
    AutosaveCount autosaves;
    Posted posted(&manager);
    const SessionRef s = manager.createSession({.agent = claude});
    ASSERT_TRUE(std::dynamic_pointer_cast<SessionJSONLWatcher>(s->usageWatcher));

    ASSERT_TRUE(waitState(s, S::userInput));
    ASSERT_TRUE(waitUntil([&] { return s->agentSessionID == sid; }, kWaitMs));
    EXPECT_EQ(s->agentTranscriptPath, ClaudeTranscriptLocator::transcriptDirectory(directory_) + "/" + sid + ".jsonl");
    EXPECT_EQ(autosaves.count(), 2);  // created, then the conversation became known

    go(s);
    ASSERT_TRUE(waitState(s, S::thinking));
    go(s);
    ASSERT_TRUE(waitState(s, S::generating));
    ASSERT_TRUE(waitUntil([&] { return s->tokensIn == 155; }, kWaitMs));
    EXPECT_EQ(s->model, "opus");
    go(s);
    ASSERT_TRUE(waitState(s, S::needsAttention));
    EXPECT_TRUE(s->stateMonitor->attentionIsConfirmMenu());
    go(s);
    ASSERT_TRUE(waitState(s, S::generating));
    go(s);
    ASSERT_TRUE(waitState(s, S::userInput));
    ASSERT_TRUE(waitUntil([&] { return s->tokensIn == 175 && s->tokensOut == 13; }, kWaitMs));
    EXPECT_EQ(*claude->refreshes, 1);  // one turn ended
    ASSERT_TRUE(waitUntil([&] { return s->limits && s->limits->fiveHour; }, kWaitMs));
    EXPECT_EQ(s->limits->fiveHour->usedPercent, 30);
    go(s);
    ASSERT_TRUE(waitState(s, S::idle));  // left the alternate screen

    EXPECT_EQ(claude->states->mid(0, 7), (QList<S>{S::userInput, S::thinking, S::generating, S::needsAttention,
                                                   S::generating, S::userInput, S::idle}));
    ASSERT_TRUE(waitUntil([&] { return posted.count(kSessionStateDidChange, s->id) >= 7; }, kWaitMs));
    EXPECT_GE(posted.count(kSessionUsageDidChange, s->id), 3);

    // The agent is done; the tab's login shell ends too.
    s->sendText("exit 0", true);
    ASSERT_TRUE(waitState(s, S::exited));
    EXPECT_EQ(s->exitCode, 0);
    EXPECT_EQ(autosaves.count(), 3);
}

TEST_F(SessionEndToEnd, CodexSessionFollowsItsRollout) {
    const QString sid = QStringLiteral("0199a213-81c0-7800-8aa1-bbab2a035a53");
    auto limits = FakeLimitsService::make(limitsWithFiveHour(55));
    auto codex =
        std::make_shared<ObservedProvider>(AgentRegistry::provider("codex"), steppedAgent("codex", sid), limits);
    manager.projectDir = directory_;
    AutosaveCount autosaves;
    Posted posted(&manager);
    const SessionRef s = manager.createSession({.agent = codex});
    ASSERT_TRUE(std::dynamic_pointer_cast<CodexUsageWatcher>(s->usageWatcher));

    ASSERT_TRUE(waitUntil([&] { return s->agentSessionID == sid; }, kWaitMs));
    ASSERT_TRUE(s->agentTranscriptPath);
    EXPECT_TRUE(s->agentTranscriptPath->startsWith(home_.path() + "/.codex/sessions/"));
    EXPECT_EQ(s->model, "gpt-5");
    EXPECT_EQ(s->state, S::idle);
    EXPECT_EQ(autosaves.count(), 2);

    go(s);
    ASSERT_TRUE(waitState(s, S::generating));
    go(s);
    ASSERT_TRUE(waitState(s, S::thinking));
    go(s);
    ASSERT_TRUE(waitState(s, S::generating));
    ASSERT_TRUE(waitUntil([&] { return s->tokensIn == 1000; }, kWaitMs));
    EXPECT_EQ(s->tokensOut, 250);
    EXPECT_EQ(s->model, "gpt-5-codex");
    EXPECT_EQ(s->contextPercent, 25.0);
    go(s);
    ASSERT_TRUE(waitState(s, S::needsAttention));
    EXPECT_FALSE(s->stateMonitor->attentionIsConfirmMenu());
    go(s);
    ASSERT_TRUE(waitState(s, S::generating));
    go(s);
    ASSERT_TRUE(waitState(s, S::userInput));
    ASSERT_TRUE(waitUntil([&] { return s->tokensIn == 1500; }, kWaitMs));
    EXPECT_EQ(s->tokensOut, 320);
    EXPECT_EQ(s->contextPercent, 5.0);
    EXPECT_EQ(*codex->refreshes, 1);
    ASSERT_TRUE(waitUntil([&] { return s->limits && s->limits->fiveHour; }, kWaitMs));
    EXPECT_EQ(s->limits->fiveHour->usedPercent, 55);

    EXPECT_EQ(*codex->states, (QList<S>{S::generating, S::thinking, S::generating, S::needsAttention, S::generating,
                                        S::userInput}));
    ASSERT_TRUE(waitUntil([&] { return posted.count(kSessionStateDidChange, s->id) == 6; }, kWaitMs));
    EXPECT_GE(posted.count(kSessionUsageDidChange, s->id), 3);

    go(s);  // the stand-in ends; its login shell follows
    s->sendText("exit 4", true);
    ASSERT_TRUE(waitState(s, S::exited));
    EXPECT_EQ(s->exitCode, 4);
    EXPECT_EQ(posted.count(kSessionStateDidChange, s->id), 7);
    EXPECT_EQ(autosaves.count(), 3);
}

}  // namespace
