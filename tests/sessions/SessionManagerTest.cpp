// Sessions and their manager with real terminal views, real bash and small stand-in agents.
#include "app/PreferenceKeys.h"
#include "core/Text.h"
#include "sessions/OrchestratorNotify.h"
#include "sessions/SandboxLauncher.h"
#include "sessions/SessionLaunch.h"
#include "ui/TerminalThemes.h"

#include "SessionTestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <signal.h>
#include <thread>

namespace {

using S = SessionState;

const QString kFakeClaude = QStringLiteral(VARNIX_FIXTURES "/bin/claude");

QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

bool contains(const QStringList& env, const QString& entry) { return env.contains(entry); }

bool hasVariable(const QStringList& env, const QString& name) {
    for (const QString& e : env)
        if (e.startsWith(name + QLatin1Char('='))) return true;
    return false;
}

class SessionManagerTest : public SessionTestBase, public ::testing::Test {
protected:
    // An agent that prints its arguments and working directory, then waits for a line.
    QString waitingAgent() {
        return writeScript(scripts_, "waiting-agent",
                           "printf 'AGENT'; for a in \"$@\"; do printf ' [%s]' \"$a\"; done\n"
                           "printf '\\nCWD %s\\n' \"$(pwd)\"\n"
                           "read -r _\n");
    }
    // An agent that ends at once, leaving the tab's login shell.
    QString quickAgent() { return writeScript(scripts_, "quick-agent", "echo AGENT-DONE\n"); }

    std::shared_ptr<FakeProvider> provider(const QString& command) { return std::make_shared<FakeProvider>(command); }

    ~SessionManagerTest() override {
        while (!manager.sessions.isEmpty()) manager.closeSession(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    SessionManager manager;
};

// ---- creation

TEST_F(SessionManagerTest, ClaudeSessionStartsTheLoginShellWithTheOneCommandText) {
    QTemporaryDir work;
    const QString dir = canonical(work.path());
    prefs_.prefs().setValue(PrefKey::binaryPath("claude"), kFakeClaude);
    ScopedEnv foreign("VARNIX_TEST_FOREIGN", "leak");
    AutosaveCount autosaves;
    Posted posted(&manager);

    manager.createSession({.name = "Yaga", .agent = std::make_shared<ShellProvider>(), .activate = false});
    manager.createSession({.name = "Finist", .agent = std::make_shared<ShellProvider>(), .activate = false});
    posted.clear();
    const SessionRef s = manager.createSession({.worktreePath = dir,
                                                .agent = AgentRegistry::provider("claude"),
                                                .initialPrompt = "fix it",
                                                .launchArgs = {"--model", "it's"},
                                                .activate = false});

    EXPECT_EQ(s->name, "Sadko");  // the default priority list, first free name
    EXPECT_EQ(s->state, S::idle);
    EXPECT_EQ(s->manager, &manager);
    EXPECT_EQ(s->terminalView->inputTraceLabel, "Sadko");
    EXPECT_EQ(s->terminalView->size(), QSize(800, 600));
    EXPECT_EQ(s->terminalView->terminalFont().pixelSize(), 13);
    EXPECT_EQ(manager.activeSessionIndex, 0);  // not activated: the first tab stays active
    EXPECT_EQ(posted.names(), (QStringList{kSessionListDidChange, kSessionsDidChange}));
    EXPECT_EQ(autosaves.count(), 3);

    const Session::Launch& launch = s->launch();
    EXPECT_EQ(launch.executable, "/bin/bash");
    EXPECT_EQ(launch.arguments, (QStringList{"-l", "-c",
                                             "cd '" + dir + "' && " + kFakeClaude + " '--model' 'it'\\''s' 'fix it'; "
                                             "exec '/bin/bash' -il"}));
    EXPECT_TRUE(contains(launch.environment, "VRNX_SESSION_ID=" + s->id.toString(QUuid::WithoutBraces).toUpper()));
    EXPECT_TRUE(contains(launch.environment, "VRNX_AGENT_NAME=Sadko"));
    EXPECT_TRUE(contains(launch.environment, "VRNX_AGENT=claude"));
    EXPECT_TRUE(contains(launch.environment, "VRNX_WORKTREE=" + dir));
    EXPECT_TRUE(contains(launch.environment, "TERM=xterm-256color"));
    EXPECT_TRUE(contains(launch.environment, "SHELL=/bin/bash"));
    EXPECT_TRUE(contains(launch.environment, "HOME=" + home_.path()));
    EXPECT_FALSE(hasVariable(launch.environment, "VRNX_ORCHESTRATOR"));
    EXPECT_FALSE(hasVariable(launch.environment, "VARNIX_TEST_FOREIGN"));

    // The agent received its arguments in the directory, then the tab went on as a login shell.
    ASSERT_TRUE(screenContains(s, "claude [--model] [it's] [fix it]"));
    ASSERT_TRUE(screenContains(s, "cwd " + dir));
    s->sendText("echo \"L=$(shopt -q login_shell && echo y) I=${-//[^i]/} ID=$VRNX_SESSION_ID\"", true);
    EXPECT_TRUE(screenContains(s, "L=y I=i ID=" + uuidText(s->id)));
    EXPECT_EQ(s->state, S::idle);
}

TEST_F(SessionManagerTest, NamesThemeFontAndPriorityPreference) {
    const QString agent = waitingAgent();
    prefs_.prefs().setValue(PrefKey::SessionNames, " Zed, ,Ann\t,");
    prefs_.prefs().setValue(PrefKey::TerminalFontSize, 50.0);
    manager.terminalFontDelta = -2;
    const SessionRef a = manager.createSession({.agent = provider(agent)});
    const SessionRef b = manager.createSession({.agent = provider(agent)});
    EXPECT_EQ(a->name, "Zed");
    EXPECT_EQ(b->name, "Ann");
    EXPECT_EQ(a->terminalView->terminalFont().pixelSize(), 40);  // clamped

    EXPECT_EQ(a->terminalView->backgroundColor(), TerminalThemes::theme(std::nullopt).background);

    // The theme and size of the moment; the name is the caller's.
    const TerminalTheme& other = TerminalThemes::all().last();
    ASSERT_NE(other.background, TerminalThemes::theme(std::nullopt).background);
    prefs_.prefs().setValue(PrefKey::TerminalTheme, other.name);
    prefs_.prefs().setValue(PrefKey::TerminalFontSize, 0.0);
    manager.terminalFontDelta = 1.5;
    const SessionRef c = manager.createSession({.name = "Given", .agent = provider(agent)});
    EXPECT_EQ(c->name, "Given");
    EXPECT_EQ(c->terminalView->terminalFont().pixelSize(), 15);  // 13 + 1.5, rounded
    EXPECT_EQ(c->terminalView->backgroundColor(), other.background);
    EXPECT_EQ(c->terminalView->foregroundColor(), other.foreground);
}

TEST_F(SessionManagerTest, OrchestratorsCarryTheCrownArgumentsUnlessTheyHaveABanner) {
    const QString agent = waitingAgent();
    LogCapture log;
    QList<QUuid> asked;
    const auto previous = SessionManager::setCrownArguments([&](const QUuid& id) -> std::optional<QStringList> {
        asked << id;
        if (asked.size() == 3) return std::nullopt;
        return QStringList{"--mcp-config", "/tmp/x y.json"};
    });

    const SessionRef crowned = manager.createSession({.name = "Crown", .agent = provider(agent), .orchestrator = true});
    EXPECT_TRUE(crowned->isOrchestrator);
    EXPECT_EQ(asked, QList<QUuid>{crowned->id});
    EXPECT_EQ(crowned->terminalView->inputTraceLabel, QStringLiteral("\U0001F451 Crown"));
    EXPECT_TRUE(contains(crowned->launch().environment, "VRNX_ORCHESTRATOR=1"));
    EXPECT_TRUE(crowned->launch().arguments.last().contains(agent + " '--mcp-config' '/tmp/x y.json'; exec"));
    EXPECT_TRUE(screenContains(crowned, "AGENT [--mcp-config] [/tmp/x y.json]"));

    const SessionRef bannered = manager.createSession(
        {.agent = provider(agent), .launchBanner = "Resuming", .orchestrator = true});
    EXPECT_EQ(asked.size(), 1);  // a banner means a resumed orchestrator: no crown asked for
    EXPECT_TRUE(bannered->launch().arguments.last().contains("echo 'Resuming'; " + agent + "; exec"));

    manager.createSession({.agent = provider(agent), .orchestrator = true});
    EXPECT_EQ(asked.size(), 2);
    manager.createSession({.agent = provider(agent), .orchestrator = true});
    EXPECT_TRUE(log.contains("[Orchestration] control socket not ready \u2014 launching plain agent (no crown)"));

    SessionManager::setCrownArguments(nullptr);
    const SessionRef plain = manager.createSession({.agent = provider(agent), .orchestrator = true});
    EXPECT_TRUE(plain->isOrchestrator);
    EXPECT_TRUE(plain->launch().arguments.last().contains(agent + "; exec"));
    SessionManager::setCrownArguments(previous);
}

// A launcher that confines by prefixing `env VRNX_WRAPPED=1`, or fails to build a confinement.
class PrefixLauncher final : public SandboxLauncher {
public:
    bool isAvailable() const override { return true; }
    std::optional<Command> wrap(const QString& worktree, const QString& root, const QString& home,
                                const QString& executable, const QStringList& args) const override {
        calls << QStringList{worktree, root, home};
        if (fail) return std::nullopt;
        return Command{"/usr/bin/env", QStringList{"VRNX_WRAPPED=1", executable} + args};
    }
    bool fail = false;
    mutable QList<QStringList> calls;
};

TEST_F(SessionManagerTest, WorktreeSessionsWithARepositoryRootRunConfined) {
    const QString agent =
        writeScript(scripts_, "wrapped-agent", "echo \"WRAPPED=${VRNX_WRAPPED:-no}\"; read -r _\n");
    QTemporaryDir root, worktree;
    PrefixLauncher launcher;
    const SandboxLauncher* previous = SessionManager::setSandboxLauncher(&launcher);
    LogCapture log;

    const SessionRef confined = manager.createSession(
        {.worktreePath = worktree.path(), .agent = provider(agent), .sandboxRepoRoot = root.path()});
    EXPECT_EQ(launcher.calls, (QList<QStringList>{{worktree.path(), root.path(), home_.path()}}));
    EXPECT_EQ(confined->launch().executable, "/usr/bin/env");
    EXPECT_EQ(confined->launch().arguments.mid(0, 4), (QStringList{"VRNX_WRAPPED=1", "/bin/bash", "-l", "-c"}));
    EXPECT_TRUE(screenContains(confined, "WRAPPED=1"));

    const SessionRef free = manager.createSession({.worktreePath = worktree.path(), .agent = provider(agent)});
    EXPECT_EQ(free->launch().executable, "/bin/bash");
    EXPECT_TRUE(screenContains(free, "WRAPPED=no"));

    launcher.fail = true;
    const SessionRef unconfined = manager.createSession(
        {.worktreePath = worktree.path(), .agent = provider(agent), .sandboxRepoRoot = root.path()});
    EXPECT_EQ(unconfined->launch().executable, "/bin/bash");
    EXPECT_TRUE(log.contains("[Sandbox] could not build profile for " + worktree.path() + " \u2014 running unconfined"));
    SessionManager::setSandboxLauncher(previous);
}

// ---- observation wiring

TEST_F(SessionManagerTest, OutputStatesAndUsageFlowThroughTheSession) {
    QTemporaryDir project;
    manager.projectDir = project.path();
    auto p = provider(writeScript(scripts_, "talking-agent", "echo hello-monitor; read -r _\n"));
    AutosaveCount autosaves;
    const SessionRef s = manager.createSession({.agent = p});
    auto monitor = p->monitor();
    auto watcher = p->watcher();
    Posted posted(&manager);

    // Started on the project directory; the child's PATH went to the launch command lookup.
    EXPECT_EQ(monitor->startedIn, QStringList{project.path()});
    EXPECT_EQ(watcher->directory, project.path());
    EXPECT_TRUE(p->made->augmentedPath.contains("/usr/local/bin"));
    EXPECT_EQ(s->usageWatcher, watcher);

    // Every byte of output reaches the monitor; its screen is the view's.
    ASSERT_TRUE(waitUntil([&] { return monitor->fed.contains("hello-monitor"); }, kSessionWaitMs));
    ASSERT_TRUE(screenContains(s, "hello-monitor"));
    EXPECT_TRUE(monitor->screen().contains("hello-monitor"));

    // States: stored at once, posted later; the end of a turn refreshes the limits.
    monitor->report(S::thinking);
    EXPECT_EQ(s->state, S::thinking);
    EXPECT_EQ(posted.count(kSessionStateDidChange), 0);
    ASSERT_TRUE(waitUntil([&] { return posted.count(kSessionStateDidChange, s->id) == 1; }));
    monitor->report(S::userInput);
    EXPECT_EQ(p->made->refreshes, 1);
    monitor->report(S::idle);
    monitor->report(S::userInput);
    EXPECT_EQ(p->made->refreshes, 1);  // idle to userInput ends no turn

    // A report from another thread lands on the main thread.
    std::thread([&] { monitor->report(S::generating); }).join();
    ASSERT_TRUE(waitUntil([&] { return s->state == S::generating; }));
    ASSERT_TRUE(waitUntil([&] { return posted.count(kSessionStateDidChange, s->id) == 5; }));
    EXPECT_EQ(posted.count(kSessionsDidChange), 5);

    // Usage snapshots.
    posted.clear();
    const int savesBefore = autosaves.count();
    UsageSnapshot snap;
    snap.tokensIn = 120;
    snap.tokensOut = 7;
    snap.model = "m2";
    snap.contextPercent = 12.5;
    snap.sessionID = "conv-1";
    snap.transcriptPath = "/t/conv-1.jsonl";
    watcher->update(snap);
    EXPECT_EQ(s->tokensIn, 120);
    EXPECT_EQ(s->tokensOut, 7);
    EXPECT_EQ(s->model, "m2");
    EXPECT_EQ(s->contextPercent, 12.5);
    EXPECT_EQ(s->agentSessionID, "conv-1");
    EXPECT_EQ(s->agentTranscriptPath, "/t/conv-1.jsonl");
    EXPECT_EQ(autosaves.count(), savesBefore + 1);
    snap.model.reset();
    snap.transcriptPath = "/t/conv-1b.jsonl";
    watcher->update(snap);
    EXPECT_EQ(s->model, "m2");
    EXPECT_EQ(s->agentTranscriptPath, "/t/conv-1b.jsonl");
    EXPECT_EQ(autosaves.count(), savesBefore + 1);  // same conversation: nothing to save
    EXPECT_EQ(posted.count(kSessionUsageDidChange, s->id), 2);
    EXPECT_EQ(posted.count(kSessionsDidChange), 2);
}

TEST_F(SessionManagerTest, ObservationDirectoryIsTheWorktreeElseProjectElseCurrent) {
    const QString agent = waitingAgent();
    auto p = provider(agent);
    manager.createSession({.agent = p});
    EXPECT_EQ(p->monitor()->startedIn, QStringList{QDir::currentPath()});
    manager.projectDir = "/p";
    manager.createSession({.worktreePath = "/w", .agent = p});
    EXPECT_EQ(p->monitor()->startedIn, QStringList{"/w"});
    EXPECT_EQ(p->watcher()->directory, "/w");
}

TEST_F(SessionManagerTest, SwitchModelTypesTheCommandForSelectableModelsOnly) {
    auto p = provider(writeScript(scripts_, "line-agent",
                                  "stty -echo; echo READY; while IFS= read -r line; do echo \"GOT[$line]\"; done\n"));
    const SessionRef s = manager.createSession({.agent = p});
    ASSERT_TRUE(screenContains(s, "READY"));
    Posted posted(&manager);
    s->switchModel("opus");
    EXPECT_EQ(s->model, "");
    EXPECT_EQ(posted.count(kSessionUsageDidChange), 0);
    s->switchModel("m2");
    EXPECT_EQ(s->model, "m2");
    EXPECT_EQ(posted.count(kSessionUsageDidChange, s->id), 1);
    EXPECT_TRUE(screenContains(s, "GOT[/model m2]"));
}

// ---- input

TEST_F(SessionManagerTest, SendTextTypesTheTextThenALoneCarriageReturnLater) {
    // The child reports each byte as it arrives (dd: bash's own read would turn CR into LF).
    auto p = provider(writeScript(scripts_, "byte-agent",
                                  "stty raw -echo; printf READY\n"
                                  "while :; do b=$(dd bs=1 count=1 2>/dev/null | od -An -tx1); printf '<%s>' $b; done\n"));
    SessionRef s = manager.createSession({.agent = p});
    auto monitor = p->monitor();
    ASSERT_TRUE(waitUntil([&] { return monitor->fed.contains("READY"); }, kSessionWaitMs));

    const qint64 sentAt = monitor->clock.elapsed();
    s->sendText("ab", false);
    s->sendText("cd", true);
    ASSERT_TRUE(waitUntil([&] { return monitor->fed.contains("<0d>"); }, kSessionWaitMs));
    const QByteArray after = monitor->fed.mid(monitor->fed.indexOf("READY") + 5);
    EXPECT_EQ(after, "<61><62><63><64><0d>");  // no CR after "ab", none glued to "cd"
    qint64 crAt = -1;
    for (const FakeMonitor::Chunk& c : monitor->chunks)
        if (c.bytes.contains("<0d>")) crAt = c.atMs;
    EXPECT_GE(crAt - sentAt, Session::kSubmitDelayMs);

    // A session closed before its Enter is due sends nothing more and nothing breaks.
    QPointer<AgentTerminalView> view = s->terminalView;
    s->sendText("e", true);
    manager.closeSession(0);
    s.reset();
    QTest::qWait(2 * Session::kSubmitDelayMs);
    EXPECT_FALSE(view);
}

// ---- exit handling

TEST_F(SessionManagerTest, AnAgentTabThatEndsBecomesExitedWithItsCode) {
    QTemporaryDir trace;
    ScopedEnv traceFile("VRNX_ORCH_TRACE", QFile::encodeName(trace.filePath("trace.log")));
    const auto previous = OrchestratorNotify::setComposer(
        [](const OrchestratorNotify::Event& e, bool, const QString& name, const QString&) -> std::optional<QString> {
            return "notice " + name + " " + e.description();
        });
    auto p = provider(quickAgent());
    AutosaveCount autosaves;
    const SessionRef s = manager.createSession({.name = "Worker", .agent = p});
    Posted posted(&manager);
    ASSERT_TRUE(screenContains(s, "AGENT-DONE"));
    const int savesBefore = autosaves.count();

    s->sendText("exit 2", true);
    ASSERT_TRUE(waitUntil([&] { return s->state == S::exited; }, kSessionWaitMs));
    EXPECT_EQ(s->exitCode, 2);
    EXPECT_EQ(posted.count(kSessionStateDidChange, s->id), 1);
    EXPECT_EQ(posted.count(kSessionsDidChange), 1);
    EXPECT_EQ(autosaves.count(), savesBefore + 1);
    QFile log(trace.filePath("trace.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), "[orch-notify] crown lookup failed for child Worker (exited(code: 2))\n");

    // Nothing more reaches an ended session: no typing, no late judgement of its output.
    p->monitor()->report(S::generating);
    EXPECT_EQ(s->state, S::exited);
    s->sendText("echo nope", true);
    QTest::qWait(2 * Session::kSubmitDelayMs);
    EXPECT_FALSE(screenOf(s).contains("nope"));

    // A child ended by a signal has no code.
    const SessionRef killed = manager.createSession({.agent = p});
    ASSERT_TRUE(screenContains(killed, "AGENT-DONE"));
    killed->sendText("kill -KILL $$", true);
    ASSERT_TRUE(waitUntil([&] { return killed->state == S::exited; }, kSessionWaitMs));
    EXPECT_EQ(killed->exitCode, std::nullopt);
    OrchestratorNotify::setComposer(previous);
}

TEST_F(SessionManagerTest, APlainTerminalTabRestartsItsShellWhileInAWindow) {
    QWidget window;
    const SessionRef s = manager.createSession({.name = "terminal", .agent = std::make_shared<ShellProvider>()});
    EXPECT_EQ(s->launch().executable, "/bin/bash");
    EXPECT_TRUE(s->launch().arguments.isEmpty());  // no directory: the bare shell
    EXPECT_TRUE(s->terminalView->hasKeyMonitor());
    s->terminalView->setParent(&window);
    TerminalSurface* surface = s->terminalView->surface();
    ASSERT_TRUE(waitUntil([&] { return surface->isRunning(); }));
    const qint64 first = surface->processId();

    s->sendText("exit 3", true);
    ASSERT_TRUE(waitUntil([&] { return surface->isRunning() && surface->processId() != first; }, kSessionWaitMs));
    EXPECT_EQ(s->state, S::idle);
    EXPECT_EQ(s->exitCode, std::nullopt);
    s->sendText("echo again-$((40+2))", true);
    EXPECT_TRUE(screenContains(s, "again-42"));

    // Out of any window the ended shell stays ended (and still never counts as exited).
    s->terminalView->setParent(nullptr);
    const qint64 second = surface->processId();
    s->sendText("exit", true);
    ASSERT_TRUE(waitUntil([&] { return !surface->isRunning(); }, kSessionWaitMs));
    QTest::qWait(3 * SessionManager::kShellRestartDelayMs);
    EXPECT_FALSE(surface->isRunning());
    EXPECT_EQ(surface->processId(), second);
    EXPECT_EQ(s->state, S::idle);
}

TEST_F(SessionManagerTest, APlainTerminalTabInAProjectAttachesItsTmuxSession) {
    manager.projectDir = "/w/my repo!";
    const SessionRef s = manager.createSession({.name = "terminal", .agent = std::make_shared<ShellProvider>()});
    EXPECT_EQ(s->launch().arguments,
              (QStringList{"-l", "-c", SessionLaunch::plainTabScript("/w/my repo!", "/bin/bash")}));
    EXPECT_TRUE(s->launch().arguments.last().contains("tmux has-session -t 'my_repo'"));
    EXPECT_TRUE(contains(s->launch().environment, "VRNX_AGENT=shell"));
}

// ---- closing, restarting, renaming

TEST_F(SessionManagerTest, ClosingStopsObservationBeforeEndingTheChildAndMovesTheActiveTab) {
    auto p = provider(waitingAgent());
    for (const char* n : {"a", "b", "c"}) manager.createSession({.name = n, .agent = p});
    ASSERT_EQ(manager.activeSessionIndex, 2);
    Posted posted(&manager);
    const SessionRef c = manager.sessions[2];
    auto monitor = p->made->monitors[2];
    auto watcher = p->made->watchers[2];
    ASSERT_TRUE(waitUntil([&] { return c->terminalView->surface()->isRunning(); }));
    const pid_t pid = pid_t(c->terminalView->surface()->processId());

    manager.closeSession(2);
    EXPECT_EQ(monitor->stops, 1);
    EXPECT_EQ(watcher->stops, 1);
    EXPECT_EQ(manager.sessions.size(), 2);
    EXPECT_EQ(manager.activeSessionIndex, 1);  // the new last tab
    EXPECT_EQ(posted.names(), (QStringList{kSessionListDidChange, kSessionsDidChange, kActiveSessionDidChange}));
    ASSERT_TRUE(waitUntil([&] { return ::kill(pid, 0) != 0; }, kSessionWaitMs));
    QTest::qWait(100);
    EXPECT_EQ(c->state, S::idle);  // its end was not handled as an exit
    EXPECT_EQ(posted.count(kSessionStateDidChange), 0);

    posted.clear();
    manager.closeSession(5);
    manager.closeSession(-1);
    EXPECT_TRUE(posted.entries.isEmpty());

    manager.activeSessionIndex = 1;
    manager.closeSession(0);  // a tab before the active one: the active session stays active
    EXPECT_EQ(manager.activeSessionIndex, 0);
    EXPECT_EQ(manager.activeSession()->name, "b");
    manager.closeSession(0);
    EXPECT_EQ(manager.activeSessionIndex, -1);
    EXPECT_EQ(manager.activeSession(), nullptr);
}

TEST_F(SessionManagerTest, RestartReplacesTheSessionWithAFreshOneAtTheEnd) {
    QTemporaryDir wt;
    auto p = provider(waitingAgent());
    const SessionRef first = manager.createSession({.name = "One", .worktreePath = wt.path(), .agent = p,
                                                    .initialPrompt = "go", .orchestrator = true});
    manager.createSession({.name = "Two", .agent = p});
    manager.activeSessionIndex = 1;
    Posted posted(&manager);

    manager.restartSession(QUuid::createUuid());
    EXPECT_TRUE(posted.entries.isEmpty());

    manager.restartSession(first->id);
    ASSERT_EQ(manager.sessions.size(), 2);
    EXPECT_EQ(manager.sessions[0]->name, "Two");
    const SessionRef fresh = manager.sessions[1];
    EXPECT_NE(fresh->id, first->id);
    EXPECT_EQ(fresh->name, "One");
    EXPECT_EQ(fresh->worktreePath, wt.path());
    EXPECT_EQ(fresh->agent, first->agent);
    EXPECT_TRUE(fresh->isOrchestrator);
    EXPECT_EQ(manager.activeSessionIndex, 1);
    EXPECT_FALSE(fresh->launch().arguments.last().contains("'go'"));  // no initial prompt the second time
    EXPECT_EQ(posted.count(kActiveSessionDidChange), 2);  // the close and the activation
}

TEST_F(SessionManagerTest, RenameSetsTheNameAndBroadcasts) {
    auto p = provider(waitingAgent());
    const SessionRef s = manager.createSession({.name = "Old", .agent = p});
    Posted posted(&manager);
    manager.renameSession(QUuid::createUuid(), "Nobody");
    EXPECT_TRUE(posted.entries.isEmpty());
    manager.renameSession(s->id, "New");
    EXPECT_EQ(s->name, "New");
    EXPECT_EQ(s->terminalView->inputTraceLabel, "New");
    EXPECT_EQ(posted.names(), (QStringList{kSessionListDidChange, kSessionsDidChange}));
}

// ---- branch

class GitRepo {
public:
    explicit GitRepo(const QString& branch) {
        ok = git({"init", "-q", "-b", branch});
    }
    bool git(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("/usr/bin/git", args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    }
    QTemporaryDir dir;
    bool ok = false;
};

TEST_F(SessionManagerTest, TheBranchIsFoundInTheBackgroundAndAnnounced) {
    GitRepo repo("topic");
    ASSERT_TRUE(repo.ok);
    auto p = provider(waitingAgent());
    Posted posted(&manager);
    manager.projectDir = repo.dir.path();
    const SessionRef s = manager.createSession({.agent = p});
    ASSERT_TRUE(waitUntil([&] { return s->branch == "topic"; }, kSessionWaitMs));
    EXPECT_EQ(posted.count(kSessionListDidChange, s->id), 1);

    ASSERT_TRUE(repo.git({"symbolic-ref", "HEAD", "refs/heads/other"}));
    s->resolveBranch();
    ASSERT_TRUE(waitUntil([&] { return s->branch == "other"; }, kSessionWaitMs));
    EXPECT_EQ(posted.count(kSessionListDidChange, s->id), 2);

    // No directory, nothing asked; a session gone before the answer is simply not updated.
    manager.projectDir.reset();
    const SessionRef none = manager.createSession({.agent = p});
    manager.projectDir = repo.dir.path();
    QPointer<Session> gone;
    {
        const SessionRef doomed = manager.createSession({.agent = p});
        gone = doomed.get();
        manager.closeSession(manager.indexOf(doomed->id));
    }
    EXPECT_FALSE(gone);
    QTest::qWait(500);
    EXPECT_EQ(none->branch, std::nullopt);
}

// ---- orchestrator notices

TEST_F(SessionManagerTest, NoticesGoToALiveParentOrchestratorOnly) {
    QTemporaryDir trace;
    const QString tracePath = trace.filePath("trace.log");
    ScopedEnv traceFile("VRNX_ORCH_TRACE", QFile::encodeName(tracePath));
    struct Call {
        OrchestratorNotify::Event event;
        bool hasParent;
        QString name, id;
    };
    QList<Call> calls;
    bool composeNothing = false;
    const auto previous = OrchestratorNotify::setComposer(
        [&](const OrchestratorNotify::Event& e, bool hasParent, const QString& name,
            const QString& id) -> std::optional<QString> {
            calls.append({e, hasParent, name, id});
            if (composeNothing) return std::nullopt;
            return "[note] " + name;
        });
    auto readTrace = [&] {
        QFile f(tracePath);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };

    const SessionRef crown = manager.createSession(
        {.name = "Crown",
         .agent = provider(writeScript(scripts_, "crown-agent",
                                       "stty -echo; while IFS= read -r line; do echo \"GOT[$line]\"; done\n")),
         .orchestrator = true});
    auto workerProvider = provider(waitingAgent());
    const SessionRef worker = manager.createSession({.name = "Worker", .agent = workerProvider});
    worker->parentOrchestratorId = crown->id;
    const SessionRef orphan = manager.createSession({.name = "Orphan", .agent = workerProvider});

    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::turnFinished());
    ASSERT_EQ(calls.size(), 1);
    EXPECT_TRUE(calls[0].hasParent);
    EXPECT_EQ(calls[0].name, "Worker");
    EXPECT_EQ(calls[0].id, uuidText(worker->id));
    EXPECT_EQ(readTrace(), "[orch-notify] notify crown Crown: [note] Worker\n");
    EXPECT_TRUE(screenContains(crown, "GOT[[note] Worker]"));

    manager.notifyOrchestrator(orphan, OrchestratorNotify::Event::exited(std::nullopt));
    EXPECT_FALSE(calls.last().hasParent);
    EXPECT_TRUE(readTrace().endsWith("[orch-notify] crown lookup failed for child Orphan (exited(code: nil))\n"));

    // A parent that is not an orchestrator, or has exited, cannot take the notice.
    crown->isOrchestrator = false;
    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::turnFinished());
    EXPECT_TRUE(readTrace().endsWith("crown lookup failed for child Worker (turnFinished)\n"));
    crown->isOrchestrator = true;
    crown->state = S::exited;
    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::exited(3));
    EXPECT_TRUE(readTrace().endsWith("crown lookup failed for child Worker (exited(code: 3))\n"));
    crown->state = S::idle;

    // No text composed: nothing traced. Switched off: nothing composed at all.
    const QString before = readTrace();
    composeNothing = true;
    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::turnFinished());
    EXPECT_EQ(readTrace(), before);
    const qsizetype composed = calls.size();
    prefs_.prefs().setValue(PrefKey::OrchAutoNotify, false);
    composeNothing = false;
    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::turnFinished());
    EXPECT_EQ(calls.size(), composed);
    EXPECT_EQ(readTrace(), before);
    prefs_.prefs().setValue(PrefKey::OrchAutoNotify, "no");  // not a boolean: on
    manager.notifyOrchestrator(worker, OrchestratorNotify::Event::turnFinished());
    EXPECT_EQ(calls.size(), composed + 1);

    // Without tracing nothing is written.
    {
        ScopedEnv off("VRNX_ORCH_TRACE", "");
        const QString now = readTrace();
        manager.notifyOrchestrator(orphan, OrchestratorNotify::Event::turnFinished());
        EXPECT_EQ(readTrace(), now);
    }
    OrchestratorNotify::setComposer(previous);
    EXPECT_EQ(OrchestratorNotify::message(OrchestratorNotify::Event::turnFinished(), true, "x", "y"), std::nullopt);
}

// ---- the process-wide manager

TEST(SessionManagerCurrent, FallsBackToAnEmptyProcessWideManager) {
    SessionManager* fallback = SessionManager::current();
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(fallback->sessions.isEmpty());
    EXPECT_EQ(fallback->activeSessionIndex, -1);
    EXPECT_EQ(fallback->projectDir, std::nullopt);
    EXPECT_EQ(fallback->terminalFontDelta, 0);
    {
        SessionManager window;
        SessionManager::setCurrent(&window);
        EXPECT_EQ(SessionManager::current(), &window);
    }
    EXPECT_EQ(SessionManager::current(), fallback);
    SessionManager::setCurrent(nullptr);
    EXPECT_EQ(SessionManager::current(), fallback);
}

}  // namespace
