// Saving a window's agent sessions, the debounced autosave, and bringing them back.
#include "core/Text.h"
#include "observe/ClaudeTranscripts.h"
#include "sessions/AgentBinaryResolver.h"
#include "sessions/SessionPersistence.h"

#include "SessionTestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The text the tab's login shell runs.
QString commandOf(const SessionRef& s) { return s->launch().arguments.value(2); }

void closeAll(SessionManager& manager) {
    while (!manager.sessions.isEmpty()) manager.closeSession(0);
}

class SessionPersistenceTest : public SessionTestBase, public ::testing::Test {
protected:
    SessionPersistenceTest() {
        previous_ = SessionManager::setAutosaveHandler([this](SessionManager& m) { persistence.autosave(m); });
        // Both agents are a script that shows its arguments and waits.
        const QString agent = writeScript(scripts_, "agent",
                                          "printf 'AGENT'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done\n"
                                          "printf '\\n'; read -r _\n");
        AgentBinaryOverride::set(agent, "claude");
        AgentBinaryOverride::set(agent, "codex");
        AgentSessionResume resume = AgentSessionResume::standard();
        resume.liveSessionProbe = [this](const AgentProvider&) {
            ++probes;
            return live;
        };
        persistence.setSessionResume(resume);
        manager.projectDir = project_;
    }
    ~SessionPersistenceTest() override {
        SessionManager::setAutosaveHandler(previous_);
        closeAll(manager);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString fileOf(const QString& projectDir) const { return persistence.sessionsFilePath(projectDir); }
    bool writeSessionsFile(const QString& projectDir, const QJsonArray& sessions, const QString& path = {}) {
        const QJsonObject object{{"projectDir", projectDir}, {"sessions", sessions}};
        return writeTextFile(path.isEmpty() ? fileOf(projectDir) : path, QJsonDocument(object).toJson());
    }

    QTemporaryDir work_;
    const QString project_ = canonical(work_.path());
    SessionPersistence persistence;
    SessionManager manager;
    std::optional<QSet<QString>> live = QSet<QString>{};
    int probes = 0;

private:
    SessionManager::AutosaveHandler previous_;
};

}  // namespace

TEST_F(SessionPersistenceTest, SavesAgentSessionsButNeverPlainTerminalTabs) {
    const QString worktree = project_ + "/.varnix/worktrees/fix";
    ASSERT_TRUE(QDir().mkpath(worktree));
    const SessionRef yaga = manager.createSession(
        {.name = "Yaga", .worktreePath = worktree, .agent = AgentRegistry::provider("claude"), .orchestrator = true});
    // A worktree that does not exist keeps the tab away from tmux.
    manager.createSession({.name = "terminal", .worktreePath = "/nonexistent/dir", .agent = std::make_shared<ShellProvider>()});
    const SessionRef sadko = manager.createSession({.name = "Sadko", .agent = AgentRegistry::provider("codex")});
    sadko->agentSessionID = "cx-1";
    sadko->agentTranscriptPath = "/h/.codex/sessions/2025/01/02/rollout-x-cx-1.jsonl";
    sadko->state = SessionState::exited;

    const QList<SavedSession> records = SessionPersistence::records(manager);
    ASSERT_EQ(records.size(), 2);
    SavedSession first;
    first.name = "Yaga";
    first.worktreePath = worktree;
    first.agentType = "claude";
    first.isOrchestrator = true;
    first.tabID = uuidText(yaga->id);
    EXPECT_EQ(records[0], first);
    EXPECT_EQ(records[0].tabID, yaga->id.toString(QUuid::WithoutBraces).toUpper());
    SavedSession second;
    second.name = "Sadko";
    second.agentType = "codex";
    second.agentSessionID = "cx-1";
    second.transcriptPath = sadko->agentTranscriptPath;
    second.exited = true;
    second.tabID = uuidText(sadko->id);
    EXPECT_EQ(records[1], second);

    persistence.saveSessions(manager);
    const auto saved = SessionsFile::load(fileOf(project_));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->projectDir, project_);
    EXPECT_EQ(saved->sessions, records);

    // Without a project directory the sessions belong to the application's working directory.
    SessionManager loose;
    loose.createSession({.name = "Loose", .agent = AgentRegistry::provider("claude")});
    persistence.saveSessions(loose);
    EXPECT_EQ(SessionsFile::load(fileOf(QDir::currentPath()))->sessions.value(0).name, "Loose");
    ASSERT_TRUE(QFile::remove(fileOf(QDir::currentPath())));
    closeAll(loose);
}

TEST_F(SessionPersistenceTest, OnlyPlainTabsSaveNothingAndTheAutosaveDeletesTheFile) {
    ASSERT_TRUE(writeSessionsFile(project_, {QJsonObject{{"name", "Yaga"}, {"isOrchestrator", false}}}));
    const QByteArray before = readAll(fileOf(project_));
    QSignalSpy written(&persistence, &SessionPersistence::sessionsWritten);

    manager.createSession({.name = "terminal", .worktreePath = "/nonexistent/dir", .agent = std::make_shared<ShellProvider>()});
    ASSERT_TRUE(persistence.autosavePending(project_));
    persistence.saveSessions(manager);
    EXPECT_EQ(readAll(fileOf(project_)), before);

    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(fileOf(project_)); }, 10000));
    EXPECT_FALSE(persistence.autosavePending(project_));
    EXPECT_EQ(written.count(), 0);
}

TEST_F(SessionPersistenceTest, ABurstOfChangesGivesOneWriteASecondAfterTheLast) {
    QSignalSpy written(&persistence, &SessionPersistence::sessionsWritten);
    const SessionRef s = manager.createSession({.name = "Yaga", .agent = AgentRegistry::provider("claude")});
    ASSERT_TRUE(waitUntil([&] { return written.count() == 1; }, 10000));
    EXPECT_EQ(written.at(0).at(0).toString(), project_);
    written.clear();

    QElapsedTimer clock;
    qint64 secondAt = -1, writtenAt = -1;
    QObject::connect(&persistence, &SessionPersistence::sessionsWritten, &persistence, [&] {
        if (writtenAt < 0) writtenAt = clock.elapsed();
    });
    clock.start();
    persistence.autosave(manager, 1.0);
    QTimer::singleShot(500, Qt::PreciseTimer, &persistence, [&] {
        s->name = "Renamed";
        secondAt = clock.elapsed();
        persistence.autosave(manager, 1.0);
    });
    ASSERT_TRUE(waitUntil([&] { return written.count() >= 1; }, 10000));
    EXPECT_GE(writtenAt - secondAt, 1000);
    // The write takes the sessions as they are when it runs.
    EXPECT_EQ(SessionsFile::load(fileOf(project_))->sessions.value(0).name, "Renamed");
    QTest::qWait(1500);
    EXPECT_EQ(written.count(), 1);

    // Without a project directory nothing is scheduled; a manager gone before its autosave
    // runs writes and deletes nothing.
    SessionManager loose;
    persistence.autosave(loose);
    EXPECT_FALSE(persistence.autosavePending(QDir::currentPath()));
    const QString other = project_ + "/other";
    auto* gone = new SessionManager;
    gone->projectDir = other;
    ASSERT_TRUE(writeSessionsFile(other, {QJsonObject{{"name", "Kept"}}}));
    persistence.autosave(*gone);
    delete gone;
    ASSERT_TRUE(waitUntil([&] { return !persistence.autosavePending(other); }, 10000));
    EXPECT_TRUE(QFile::exists(fileOf(other)));
    EXPECT_EQ(written.count(), 1);
}

TEST_F(SessionPersistenceTest, RestoresEachSessionByTheRules) {
    const QString kept = project_ + "/.varnix/worktrees/kept";
    const QString gone = project_ + "/.varnix/worktrees/gone";
    ASSERT_TRUE(QDir().mkpath(kept));
    const QString transcript = ClaudeTranscriptLocator::transcriptDirectory(kept) + "/conv.jsonl";
    ASSERT_TRUE(writeTextFile(transcript, "{\"type\":\"user\",\"sessionId\":\"conv\"}\n"));
    ASSERT_TRUE(writeTextFile(home_.path() + "/.codex/sessions/2025/01/02/rollout-2025-01-02T10-00-00-cx.jsonl", "{}\n"));
    live = QSet<QString>{"live-0123456789"};
    const QString t1 = "0E4F3A52-6B7C-4D8E-9FA0-B1C2D3E4F5A6";
    const QString t2 = "11111111-2222-4333-8444-555555555555";
    const QString t3 = "66666666-7777-4888-9999-AAAAAAAAAAAA";
    ASSERT_TRUE(writeSessionsFile(
        project_,
        {QJsonObject{{"name", "Yaga"}, {"worktreePath", kept}, {"agentType", "claude"}, {"isOrchestrator", false},
                     {"agentSessionID", "conv"}, {"transcriptPath", transcript}, {"tabID", t1}},
         QJsonObject{{"name", "Finist"}, {"worktreePath", gone}, {"agentType", "claude"}, {"agentSessionID", "conv"},
                     {"tabID", t2}},
         QJsonObject{{"name", "Sadko"}, {"agentType", "codex"}, {"agentSessionID", "cx"}, {"exited", true},
                     {"tabID", t3}},
         QJsonObject{{"name", "Koschei"}, {"agentType", "codex"}, {"agentSessionID", "cx"}, {"tabID", "not-a-uuid"}},
         // No agent type: the default agent. The tab id is Yaga's again.
         QJsonObject{{"name", "Gorynych"}, {"isOrchestrator", true}, {"agentSessionID", "live-0123456789"},
                     {"tabID", t1}}}));
    const QByteArray before = readAll(fileOf(project_));
    QSignalSpy written(&persistence, &SessionPersistence::sessionsWritten);

    ASSERT_TRUE(persistence.hasSessionsToRestore(project_));
    persistence.restoreSessions(project_, manager);
    ASSERT_EQ(manager.sessions.size(), 5);
    const SessionRef yaga = manager.sessions[0], finist = manager.sessions[1], sadko = manager.sessions[2],
                     koschei = manager.sessions[3], gorynych = manager.sessions[4];

    // A kept worktree resumes the conversation found there.
    EXPECT_EQ(yaga->name, "Yaga");
    EXPECT_EQ(yaga->id, QUuid::fromString(t1));
    EXPECT_EQ(yaga->worktreePath, kept);
    EXPECT_EQ(yaga->agent->id(), "claude");
    EXPECT_FALSE(yaga->isOrchestrator);
    EXPECT_TRUE(commandOf(yaga).contains(" '--resume' 'conv'; exec ")) << commandOf(yaga).toStdString();
    EXPECT_EQ(yaga->agentSessionID, "conv");
    // A worktree that is gone: fresh, in the project directory.
    EXPECT_EQ(finist->id, QUuid::fromString(t2));
    EXPECT_EQ(finist->worktreePath, project_);
    EXPECT_FALSE(commandOf(finist).contains("--resume")) << commandOf(finist).toStdString();
    EXPECT_EQ(finist->agentSessionID, std::nullopt);
    // An exited agent starts fresh although its rollout is there.
    EXPECT_EQ(sadko->id, QUuid::fromString(t3));
    EXPECT_EQ(sadko->agent->id(), "codex");
    EXPECT_EQ(sadko->worktreePath, project_);
    EXPECT_FALSE(commandOf(sadko).contains("'resume'")) << commandOf(sadko).toStdString();
    // An invalid tab id is replaced; the rollout is found in the date tree.
    EXPECT_FALSE(koschei->id.isNull());
    EXPECT_TRUE(commandOf(koschei).contains(" 'resume' 'cx'; exec ")) << commandOf(koschei).toStdString();
    // Still running elsewhere: the picker with its banner; an orchestrator with a banner gets no crown.
    EXPECT_EQ(gorynych->agent->id(), "claude");
    EXPECT_TRUE(gorynych->isOrchestrator);
    EXPECT_NE(gorynych->id, yaga->id);
    EXPECT_TRUE(commandOf(gorynych).contains(
        "echo " + shellQuote("Session live-012 is still running in the background — pick it below to attach.") + "; "));
    EXPECT_TRUE(commandOf(gorynych).contains(" 'agents'; exec ")) << commandOf(gorynych).toStdString();
    EXPECT_EQ(gorynych->agentSessionID, "live-0123456789");
    EXPECT_EQ(manager.activeSessionIndex, 4);
    EXPECT_EQ(probes, 2);  // the two Claude sessions that could resume

    // The file stays until the autosave rewrites it, with every session and its id.
    EXPECT_EQ(readAll(fileOf(project_)), before);
    ASSERT_TRUE(waitUntil([&] { return written.count() == 1; }, 10000));
    const auto rewritten = SessionsFile::load(fileOf(project_));
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(rewritten->sessions, SessionPersistence::records(manager));
    EXPECT_EQ(rewritten->sessions[0].agentSessionID, "conv");
    EXPECT_EQ(rewritten->sessions[3].tabID, uuidText(koschei->id));
    EXPECT_EQ(rewritten->sessions[4].worktreePath, project_);
}

TEST_F(SessionPersistenceTest, LeavesFilesOfOtherProjectsAlone) {
    // "/x/my app" and "/x/my_app" share one file name.
    const QString mine = project_ + "/my app", theirs = project_ + "/my_app";
    ASSERT_EQ(fileOf(mine), fileOf(theirs));
    ASSERT_TRUE(writeSessionsFile(theirs, {QJsonObject{{"name", "Yaga"}, {"agentType", "claude"}}}));
    const QByteArray before = readAll(fileOf(mine));

    manager.projectDir = mine;
    EXPECT_FALSE(persistence.hasSessionsToRestore(mine));
    persistence.restoreSessions(mine, manager);
    EXPECT_TRUE(manager.sessions.isEmpty());
    persistence.clearSavedSessions(mine);
    // An autosave that finds no agent session here does not delete the other project's file.
    persistence.autosave(manager);
    ASSERT_TRUE(waitUntil([&] { return !persistence.autosavePending(mine); }, 10000));
    EXPECT_EQ(readAll(fileOf(mine)), before);

    // A file that does not decode is not deleted either; the project's own empty list is.
    ASSERT_TRUE(writeTextFile(fileOf(mine), "{\"projectDir\":"));
    persistence.clearSavedSessions(mine);
    EXPECT_TRUE(QFile::exists(fileOf(mine)));
    ASSERT_TRUE(writeSessionsFile(mine, {}));
    EXPECT_FALSE(persistence.hasSessionsToRestore(mine));
    persistence.restoreSessions(mine, manager);
    EXPECT_TRUE(manager.sessions.isEmpty());
    persistence.clearSavedSessions(mine);
    EXPECT_FALSE(QFile::exists(fileOf(mine)));
    persistence.clearSavedSessions(mine);  // nothing there: nothing happens
}

TEST_F(SessionPersistenceTest, QuitSavesEveryWindowThenStopsItsWatchers) {
    auto fake = std::make_shared<FakeProvider>("true", "claude");
    SessionManager other;
    other.projectDir = project_ + "/other";
    manager.createSession({.name = "Yaga", .agent = fake});
    manager.createSession({.name = "Finist", .agent = fake});
    other.createSession({.name = "Sadko", .agent = fake});
    ASSERT_EQ(fake->made->watchers.size(), 3);

    persistence.saveForQuit({&manager, nullptr, &other});
    EXPECT_EQ(SessionsFile::load(fileOf(project_))->sessions.size(), 2);
    EXPECT_EQ(SessionsFile::load(fileOf(project_ + "/other"))->sessions.value(0).name, "Sadko");
    for (const auto& w : fake->made->watchers) EXPECT_EQ(w->stops, 1);
    closeAll(other);
}
