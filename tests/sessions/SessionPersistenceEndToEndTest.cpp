// A project window's agent sessions survive closing and reopening it: the stand-in agents learn
// their conversations, the window saves on close, and a new manager restores them, resuming each
// conversation in a real child.
#include "sessions/AgentBinaryResolver.h"
#include "sessions/ClaudeLiveSessionProbe.h"
#include "sessions/SessionPersistence.h"

#include "SessionTestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QString kClaudeSid = QStringLiteral("5f0c2a8e-4b1d-4c3e-9f7a-1b2c3d4e5f60");
const QString kCodexSid = QStringLiteral("0199a213-81c0-7800-8aa1-bbab2a035a53");

QStringList linesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

class PersistenceEndToEnd : public SessionTestBase, public ::testing::Test {
protected:
    PersistenceEndToEnd() {
        previous_ = SessionManager::setAutosaveHandler([this](SessionManager& m) { persistence.autosave(m); });
        ClaudeLiveSessionProbe::reset();
        // The stand-ins log every start, answer the agents listing from a file, and take the
        // conversation id they are told to resume (else their own).
        const QByteArray log = QFile::encodeName(log_);
        const QByteArray live = QFile::encodeName(liveFile_);
        AgentBinaryOverride::set(
            writeScript(scripts_, "claude",
                        "echo \"claude $*\" >> '" + log + "'\n"
                        "if [ \"$1\" = agents ] && [ \"$2\" = --json ]; then cat '" + live + "' 2>/dev/null || echo '[]'; exit 0; fi\n"
                        "if [ \"$1\" = agents ]; then echo 'PICKER'; read -r _; exit 0; fi\n"
                        "if [ \"$1\" = --resume ]; then export FAKE_SESSION_ID=\"$2\"; else export FAKE_SESSION_ID=" +
                            kClaudeSid.toUtf8() + "; fi\n"
                        "export FAKE_AGENT_STEPPED=1\nexec " VARNIX_FIXTURES "/agents/claude\n"),
            "claude");
        AgentBinaryOverride::set(
            writeScript(scripts_, "codex",
                        "echo \"codex $*\" >> '" + log + "'\n"
                        "if [ \"$1\" = resume ]; then export FAKE_SESSION_ID=\"$2\"; else export FAKE_SESSION_ID=" +
                            kCodexSid.toUtf8() + "; fi\n"
                        "export FAKE_AGENT_STEPPED=1\nexec " VARNIX_FIXTURES "/agents/codex\n"),
            "codex");
        QDir().mkpath(worktree_);
    }
    ~PersistenceEndToEnd() override {
        SessionManager::setAutosaveHandler(previous_);
        if (window_) closeWindow();
        ClaudeLiveSessionProbe::reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A window with a Claude Code session in a worktree and a Codex session in the project,
    // once both agents' conversations are known and saved.
    void openFirstWindow() {
        ASSERT_TRUE(QFileInfo(worktree_).isDir());
        window_ = new SessionManager;
        window_->projectDir = project_;
        const SessionRef yaga = window_->createSession(
            {.name = "Yaga", .worktreePath = worktree_, .agent = AgentRegistry::provider("claude")});
        const SessionRef koschei = window_->createSession({.name = "Koschei", .agent = AgentRegistry::provider("codex")});
        ids_ = {yaga->id, koschei->id};
        ASSERT_TRUE(waitUntil([&] { return yaga->agentSessionID == kClaudeSid && koschei->agentSessionID == kCodexSid; },
                              kSessionWaitMs));
        // Learning a conversation is a change, saved a second later.
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto file = SessionsFile::load(persistence.sessionsFilePath(project_));
                return file && file->sessions.size() == 2 && file->sessions[0].agentSessionID == kClaudeSid &&
                       file->sessions[1].agentSessionID == kCodexSid;
            },
            kSessionWaitMs));
    }

    // What closing a project window does: save, then end the sessions without their exit handling.
    void closeWindow() {
        persistence.saveSessions(*window_);
        for (const SessionRef& s : window_->sessions) {
            if (s->usageWatcher) s->usageWatcher->stop();
            s->stateMonitor->stop();
            if (s->terminalView) {
                s->terminalView->onProcessTerminated = nullptr;
                s->terminalView->terminate();
            }
        }
        delete window_;
        window_ = nullptr;
    }

    // What opening the project in a new window does.
    void reopen() {
        window_ = new SessionManager;
        window_->projectDir = project_;
        EXPECT_TRUE(persistence.hasSessionsToRestore(project_));
        persistence.restoreSessions(project_, *window_);
    }

    QTemporaryDir work_;
    const QString project_ = QFileInfo(work_.path()).canonicalFilePath();
    const QString worktree_ = project_ + "/.varnix/worktrees/fix";
    const QString log_ = scripts_.filePath("starts.log");
    const QString liveFile_ = scripts_.filePath("agents.json");
    SessionPersistence persistence;
    SessionManager* window_ = nullptr;
    QList<QUuid> ids_;

private:
    SessionManager::AutosaveHandler previous_;
};

}  // namespace

TEST_F(PersistenceEndToEnd, ClosedWindowComesBackWithItsSessionsResumed) {
    ASSERT_NO_FATAL_FAILURE(openFirstWindow());
    closeWindow();
    // Nothing pending for a window that is gone deletes what it saved.
    ASSERT_TRUE(waitUntil([&] { return !persistence.autosavePending(project_); }, kSessionWaitMs));
    const auto saved = SessionsFile::load(persistence.sessionsFilePath(project_));
    ASSERT_TRUE(saved && saved->sessions.size() == 2);
    EXPECT_FALSE(saved->sessions[0].exited);

    reopen();
    ASSERT_EQ(window_->sessions.size(), 2);
    const SessionRef yaga = window_->sessions[0], koschei = window_->sessions[1];
    EXPECT_EQ(yaga->name, "Yaga");
    EXPECT_EQ(koschei->name, "Koschei");
    EXPECT_EQ((QList<QUuid>{yaga->id, koschei->id}), ids_);
    EXPECT_EQ(yaga->worktreePath, worktree_);
    EXPECT_EQ(koschei->worktreePath, project_);
    EXPECT_EQ(yaga->agent->id(), "claude");
    EXPECT_EQ(koschei->agent->id(), "codex");
    EXPECT_EQ(window_->activeSessionIndex, 1);

    // The children really were started with the agents' resume arguments.
    ASSERT_TRUE(waitUntil(
        [&] {
            const QStringList starts = linesOf(log_);
            return starts.contains("claude --resume " + kClaudeSid) && starts.contains("codex resume " + kCodexSid);
        },
        kSessionWaitMs))
        << linesOf(log_).join(" | ").toStdString();
    EXPECT_EQ(linesOf(log_).count("claude agents --json"), 1);
    EXPECT_TRUE(screenContains(yaga, "Welcome back"));

    // The resumed conversations are saved again under the same ids.
    ASSERT_TRUE(waitUntil([&] { return !persistence.autosavePending(project_); }, kSessionWaitMs));
    const auto again = SessionsFile::load(persistence.sessionsFilePath(project_));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->sessions.size(), 2);
    EXPECT_EQ(again->sessions[0].tabID, saved->sessions[0].tabID);
    EXPECT_EQ(again->sessions[0].agentSessionID, kClaudeSid);
    EXPECT_EQ(again->sessions[1].tabID, saved->sessions[1].tabID);
    EXPECT_EQ(again->sessions[1].agentSessionID, kCodexSid);
}

TEST_F(PersistenceEndToEnd, AConversationStillRunningElsewhereOpensThePickerWithTheBanner) {
    ASSERT_NO_FATAL_FAILURE(openFirstWindow());
    closeWindow();
    ASSERT_TRUE(writeTextFile(liveFile_, "{\"agents\":[{\"sessionId\":\"" + kClaudeSid.toUtf8() + "\"}]}\n"));

    reopen();
    ASSERT_EQ(window_->sessions.size(), 2);
    const SessionRef yaga = window_->sessions[0];
    EXPECT_TRUE(screenContains(yaga, "Session 5f0c2a8e is still running in the background — pick it below to attach."));
    EXPECT_TRUE(screenContains(yaga, "PICKER"));
    const QStringList starts = linesOf(log_);
    EXPECT_TRUE(starts.contains("claude agents"));
    EXPECT_FALSE(starts.contains("claude --resume " + kClaudeSid));
}
