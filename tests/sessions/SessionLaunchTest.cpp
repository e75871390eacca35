#include "core/Text.h"
#include "git/ProcessRunner.h"
#include "sessions/SessionLaunch.h"
#include "sessions/SessionNamer.h"
#include "sessions/SessionState.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace SessionLaunch;

namespace {

void makeExecutable(const QString& path, const QByteArray& body = "#!/bin/sh\nexit 0\n") {
    ASSERT_TRUE(writeTextFile(path, body));
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

}  // namespace

TEST(SessionState, TextValuesRoundTripAndUnknownTextsAreNone) {
    const std::pair<SessionState, const char*> cases[] = {
        {SessionState::generating, "generating"}, {SessionState::thinking, "thinking"},
        {SessionState::userInput, "userInput"},   {SessionState::idle, "idle"},
        {SessionState::needsAttention, "needsAttention"}, {SessionState::exited, "exited"}};
    for (const auto& [state, text] : cases) {
        EXPECT_EQ(sessionStateText(state), QString(text));
        EXPECT_EQ(sessionStateFromText(QString(text)), state);
    }
    for (const char* bad : {"Idle", "", "user_input", "exited "}) EXPECT_FALSE(sessionStateFromText(QString(bad))) << bad;
}

TEST(SessionNamer, PriorityThenPoolThenOrdinal) {
    const QStringList priority = SessionNamer::priorityNames(std::nullopt);
    EXPECT_EQ(priority, (QStringList{"Yaga", "Finist", "Sadko", "Koschei", "Gorynych"}));
    EXPECT_EQ(SessionNamer::next({"Yaga", "Finist"}, 3, priority), "Sadko");

    // Every priority and pool name taken: session-<sessions + 1>.
    QSet<QString> taken(SessionNamer::builtInPool().begin(), SessionNamer::builtInPool().end());
    for (int i = 0; taken.size() < 29; ++i) taken.insert(QStringLiteral("extra-%1").arg(i));
    EXPECT_EQ(SessionNamer::next(taken, int(taken.size()) + 1, priority), "session-30");

    // The random pick sees the pool without the taken names, in pool order.
    QStringList offered;
    const QString picked = SessionNamer::next({"Yaga", "Finist", "Sadko", "Koschei", "Gorynych", "Ilya"}, 7, priority,
                                              [&](const QStringList& candidates) {
                                                  offered = candidates;
                                                  return std::optional<QString>(candidates.last());
                                              });
    EXPECT_EQ(picked, "Zabava");
    ASSERT_EQ(offered.size(), 18);
    EXPECT_EQ(offered.first(), "Dobrynya");
    EXPECT_FALSE(offered.contains("Yaga"));
    // A pick that yields nothing falls through to the ordinal.
    EXPECT_EQ(SessionNamer::next({}, 4, {}, [](const QStringList&) { return std::optional<QString>(); }), "session-4");

    const QString random = SessionNamer::next({}, 1, {});
    EXPECT_TRUE(SessionNamer::builtInPool().contains(random));
    EXPECT_FALSE(SessionNamer::uniformPick({}));
    ASSERT_EQ(SessionNamer::builtInPool().size(), 24);
    EXPECT_EQ(SessionNamer::builtInPool().first(), "Ilya");
}

TEST(SessionNamer, PriorityPreferenceParsing) {
    EXPECT_EQ(SessionNamer::priorityNames(QString(" Ann ,,\tBob\t, \t ,Carl Jr ")),
              (QStringList{"Ann", "Bob", "Carl Jr"}));
    EXPECT_EQ(SessionNamer::priorityNames(QString(" , \t,")), SessionNamer::defaultPriority());
    EXPECT_EQ(SessionNamer::priorityNames(QString("")), SessionNamer::defaultPriority());
    EXPECT_EQ(SessionNamer::next({"Ann"}, 2, SessionNamer::priorityNames(QString("Ann,Bob"))), "Bob");
}

TEST(SessionLaunch, CommandTexts) {
    struct Case {
        const char* what;
        CommandSpec cmd;
        std::optional<QString> expected;
    };
    const QString tmux =
        "cd '/w/a' && if command -v tmux >/dev/null 2>&1; then if tmux has-session -t 'a' 2>/dev/null; then "
        "tmux attach -t 'a'; else tmux new -s 'a'; fi; fi; exec '/bin/zsh' -il";
    const Case cases[] = {
        {"claude in a worktree with a prompt",
         {std::nullopt, "claude", QString("/w/a"), "/opt/homebrew/bin/claude", {}, QString("fix it"), std::nullopt, "/bin/zsh"},
         QString("cd '/w/a' && /opt/homebrew/bin/claude 'fix it'; exec '/bin/zsh' -il")},
        {"quote in the directory",
         {std::nullopt, "claude", QString("/tmp/it's"), "claude", {}, std::nullopt, std::nullopt, "/bin/bash"},
         QString("cd '/tmp/it'\\''s' && claude; exec '/bin/bash' -il")},
        {"plain tab in a project", {std::nullopt, "shell", QString("/w/a"), "", {}, std::nullopt, std::nullopt, "/bin/zsh"}, tmux},
        {"empty prompt adds no argument",
         {std::nullopt, "codex", QString("/w/a"), "/usr/bin/codex", {"resume", "abc"}, QString(""), std::nullopt, "/bin/sh"},
         QString("cd '/w/a' && /usr/bin/codex 'resume' 'abc'; exec '/bin/sh' -il")},
        {"banner, arguments and prompt",
         {std::nullopt, "claude", QString("/p"), "claude", {"agents"}, QString("it's"), QString("Session 1234 — pick"), "/bin/bash"},
         QString("cd '/p' && echo 'Session 1234 — pick'; claude 'agents' 'it'\\''s'; exec '/bin/bash' -il")},
        {"no directory", {std::nullopt, "claude", std::nullopt, "claude", {}, QString("x"), std::nullopt, "/bin/bash"},
         QString("claude 'x'; exec '/bin/bash' -il")},
        {"explicit command replaces everything",
         {QString("top -d 1"), "claude", QString("/w/a"), "claude", {"a"}, QString("x"), QString("b"), "/bin/bash"},
         QString("top -d 1")},
        {"agent without a program", {std::nullopt, "claude", QString("/w"), "", {}, std::nullopt, std::nullopt, "/bin/bash"},
         QString("cd '/w' && exec '/bin/bash' -il")},
        {"bare shell without a directory", {std::nullopt, "shell", std::nullopt, "", {}, std::nullopt, std::nullopt, "/bin/bash"},
         std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(commandText(c.cmd), c.expected) << c.what;

    EXPECT_EQ(shellArguments(QString("x y")), (QStringList{"-l", "-c", "x y"}));
    EXPECT_TRUE(shellArguments(std::nullopt).isEmpty());
    EXPECT_EQ(sessionDirectory(QString("/wt"), QString("/p")), QString("/wt"));
    EXPECT_EQ(sessionDirectory(std::nullopt, QString("/p")), QString("/p"));
    EXPECT_EQ(sessionDirectory(QString(""), std::nullopt), std::nullopt);
}

TEST(SessionLaunch, CommandTextSurvivesARealShell) {
    // The fixture agent echoes its arguments and working directory; /bin/echo stands in for the
    // login shell that follows it.
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/it's a \"dir\"";
    ASSERT_TRUE(QDir().mkpath(dir));
    CommandSpec cmd{std::nullopt, "claude", dir, QString(VARNIX_FIXTURES) + "/bin/claude", {"--resume", "a b"},
                     QString("it's \"$HOME\" `id` $(id)"), QString("banner's"), "/bin/echo"};
    const auto r = ProcessRunner::runAndWait("/bin/sh", shellArguments(commandText(cmd)), std::nullopt, std::nullopt, 60);
    EXPECT_EQ(r.exitCode, 0) << r.stdErr.toStdString();
    EXPECT_EQ(r.stdOut, "banner's\nclaude [--resume] [a b] [it's \"$HOME\" `id` $(id)]\ncwd " +
                            QDir(dir).canonicalPath() + "\n-il\n");
}

TEST(SessionLaunch, PlainTabScriptAttachesOrCreatesWithTmux) {
    QTemporaryDir tmp;
    const QString bin = tmp.path() + "/bin";
    const QString log = tmp.path() + "/tmux.log";
    makeExecutable(bin + "/tmux", "#!/bin/sh\necho \"$*\" >> \"$TMUX_LOG\"\n"
                                  "if [ \"$1\" = has-session ]; then exit \"$HAS\"; fi\nexit 0\n");
    const QString project = tmp.path() + "/my repo!";
    ASSERT_TRUE(QDir().mkpath(project));
    const QString script = plainTabScript(project, "/bin/echo");

    auto runWith = [&](const QString& path, const QString& has) {
        QFile::remove(log);
        QProcessEnvironment env;
        env.insert("PATH", path);
        env.insert("TMUX_LOG", log);
        env.insert("HAS", has);
        const auto r = ProcessRunner::runAndWait("/bin/sh", {"-c", script}, std::nullopt, env, 60);
        QFile f(log);
        const QString calls = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        return std::make_pair(r.stdOut, calls);
    };
    const auto existing = runWith(bin + ":/usr/bin:/bin", "0");
    EXPECT_EQ(existing.first, "-il\n");
    EXPECT_EQ(existing.second, "has-session -t my_repo\nattach -t my_repo\n");
    const auto fresh = runWith(bin + ":/usr/bin:/bin", "1");
    EXPECT_EQ(fresh.second, "has-session -t my_repo\nnew -s my_repo\n");
    const auto without = runWith(tmp.path() + "/nothing-here", "0");
    EXPECT_EQ(without.first, "-il\n");
    EXPECT_EQ(without.second, "");
}

TEST(SessionLaunch, TmuxSessionNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Users/x/my repo!", "my_repo"}, {"/", "project"},      {"/w/a", "a"},        {"/w/__x__/", "x"},
        {"/w/a.b-c_d", "a_b-c_d"},        {"/w/\xc3\xbcn", "n"}, {"", "project"},      {"/w/!!!", "project"},
    };
    for (const auto& [dir, name] : cases) EXPECT_EQ(tmuxSessionName(QString::fromUtf8(dir)), QString(name)) << dir;
}

TEST(SessionLaunch, ChildEnvironmentAgainstBothTables) {
    const Environment parent{{"PATH", "/usr/bin::/bin:/usr/local/bin"},
                             {"HOME", "/h"},
                             {"LOGNAME", "l"},
                             {"DISPLAY", ":0"},
                             {"WAYLAND_DISPLAY", "wayland-0"},
                             {"SSH_AUTH_SOCK", "/run/agent"},
                             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/bus"},
                             {"XDG_RUNTIME_DIR", "/run/user/1"},
                             {"XAUTHORITY", "/h/.Xauthority"},
                             {"TZ", "UTC"},
                             {"FOO", "not passed"},
                             {"TERM", "dumb"}};
    const UserAccount account{"/acct", "acct", "/bin/sh"};

    const Environment linuxEnv = childEnvironment(parent, "/bin/bash", PlatformPaths::linuxPaths(), account);
    const Environment expectedLinux{{"PATH", "/h/.local/bin:/home/linuxbrew/.linuxbrew/bin:/usr/bin:/bin:/usr/local/bin"},
                                    {"TERM", "xterm-256color"},
                                    {"COLORTERM", "truecolor"},
                                    {"LANG", "C.UTF-8"},
                                    {"SHELL", "/bin/bash"},
                                    {"HOME", "/h"},
                                    {"USER", "acct"},
                                    {"LOGNAME", "l"},
                                    {"DISPLAY", ":0"},
                                    {"WAYLAND_DISPLAY", "wayland-0"},
                                    {"SSH_AUTH_SOCK", "/run/agent"},
                                    {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/bus"},
                                    {"XDG_RUNTIME_DIR", "/run/user/1"},
                                    {"XAUTHORITY", "/h/.Xauthority"},
                                    {"TZ", "UTC"}};
    EXPECT_EQ(linuxEnv, expectedLinux);

    const Environment macEnv = childEnvironment(parent, "/bin/zsh", PlatformPaths::macPaths(), account);
    EXPECT_EQ(macEnv.value("PATH"), "/opt/homebrew/bin:/opt/homebrew/sbin:/usr/bin:/bin:/usr/local/bin");
    EXPECT_EQ(macEnv.value("LANG"), "en_US.UTF-8");
    EXPECT_FALSE(macEnv.contains("WAYLAND_DISPLAY"));
    EXPECT_FALSE(macEnv.contains("SSH_AUTH_SOCK"));
    EXPECT_EQ(macEnv.value("DISPLAY"), ":0");

    // Without HOME, PATH or LANG in the parent: the account's home, prefixes only, the default LANG.
    const Environment bare = childEnvironment({{"LANG", "de_DE.UTF-8"}, {"USER", "u"}}, "/bin/sh",
                                              PlatformPaths::linuxPaths(), account);
    EXPECT_EQ(bare.value("HOME"), "/acct");
    EXPECT_EQ(bare.value("PATH"), "/acct/.local/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin");
    EXPECT_EQ(bare.value("LANG"), "de_DE.UTF-8");
    EXPECT_EQ(bare.value("USER"), "u");
    EXPECT_EQ(bare.value("LOGNAME"), "acct");
}

TEST(SessionLaunch, SessionVariablesAndEnvironmentList) {
    const QUuid id = QUuid::fromString(QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"));
    Environment env{{"PATH", "/bin"}};
    addSessionVariables(env, {id, "Sadko", "claude", std::nullopt, false});
    EXPECT_EQ(env.value("VRNX_SESSION_ID"), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(env.value("VRNX_AGENT_NAME"), "Sadko");
    EXPECT_EQ(env.value("VRNX_AGENT"), "claude");
    EXPECT_FALSE(env.contains("VRNX_WORKTREE"));
    EXPECT_FALSE(env.contains("VRNX_ORCHESTRATOR"));
    addSessionVariables(env, {id, "Yaga", "codex", QString("/r/.varnix/worktrees/x"), true});
    EXPECT_EQ(env.value("VRNX_WORKTREE"), "/r/.varnix/worktrees/x");
    EXPECT_EQ(env.value("VRNX_ORCHESTRATOR"), "1");
    const QStringList list = environmentList({{"A", "1=2"}, {"B", ""}});
    EXPECT_EQ(list, (QStringList{"A=1=2", "B="}));
}

TEST(SessionLaunch, ResolveShellPathRules) {
    QTemporaryDir tmp;
    const QString d1 = tmp.path() + "/d1/", d2 = tmp.path() + "/d2/", d3 = tmp.path() + "/d3/";
    PlatformPaths table = PlatformPaths::linuxPaths();
    table.shellDirectories = {d1, d2};
    table.lastResortShells = {d3 + "bash", d3 + "sh"};
    makeExecutable(d2 + "zsh");
    makeExecutable(d2 + "fish");
    makeExecutable(tmp.path() + "/own/myshell");
    ASSERT_TRUE(writeTextFile(d1 + "zsh", "not executable"));
    const UserAccount noShell{"/h", "u", ""};
    const UserAccount fishUser{"/h", "u", "/usr/bin/fish"};
    const UserAccount ownShell{"/h", "u", tmp.path() + "/own/myshell"};

    // SHELL as given when it is an absolute executable.
    EXPECT_EQ(resolveShellPath({{"SHELL", tmp.path() + "/own/myshell"}}, table, noShell), tmp.path() + "/own/myshell");
    // Otherwise its name in the directories, skipping files that are not executable.
    EXPECT_EQ(resolveShellPath({{"SHELL", "/nonexistent/zsh"}}, table, noShell), d2 + "zsh");
    EXPECT_EQ(resolveShellPath({{"SHELL", "zsh"}}, table, noShell), d2 + "zsh");
    // No SHELL: the account shell's name.
    EXPECT_EQ(resolveShellPath({}, table, fishUser), d2 + "fish");
    // Name found nowhere: the account's shell itself, then the last resorts.
    EXPECT_EQ(resolveShellPath({{"SHELL", "/usr/bin/ksh"}}, table, ownShell), tmp.path() + "/own/myshell");
    EXPECT_EQ(resolveShellPath({{"SHELL", "/usr/bin/ksh"}}, table, fishUser), d3 + "sh");
    makeExecutable(d3 + "bash");
    EXPECT_EQ(resolveShellPath({{"SHELL", "/usr/bin/ksh"}}, table, fishUser), d3 + "bash");

    // The macOS table keeps its own fallback.
    PlatformPaths mac = PlatformPaths::macPaths();
    mac.shellDirectories = {d1};
    EXPECT_EQ(resolveShellPath({{"SHELL", "/usr/bin/ksh"}}, mac, fishUser), "/bin/zsh");
    EXPECT_EQ(resolveShellPath({}, mac, noShell), "/bin/zsh");

    // On this machine a missing /bin/zsh is never the answer.
    const QString real = resolveShellPath({{"SHELL", "/bin/zsh-not-installed"}});
    EXPECT_TRUE(isExecutableFile(real)) << real.toStdString();
    EXPECT_TRUE(isExecutableFile(resolveShellPath({})));
}

TEST(SessionIndexes, CloseCreateAndFontRules) {
    struct Close { int active, closed, remaining, expected; };
    for (const Close& c : {Close{2, 2, 2, 1},    // the active last tab: the new last one
                           Close{0, 0, 0, -1},   // the only tab
                           Close{1, 1, 2, 1},    // the active tab: its successor takes its place
                           Close{2, 0, 3, 1},    // a tab before the active one: the same session stays active
                           Close{1, 2, 2, 1},    // a tab after it
                           Close{-1, 0, 2, -1}}) {
        EXPECT_EQ(SessionIndexes::activeIndexAfterClose(c.active, c.closed, c.remaining), c.expected)
            << c.active << " " << c.closed << " " << c.remaining;
    }
    EXPECT_EQ(SessionIndexes::activeIndexAfterCreate(false, -1, 1), 0);
    EXPECT_EQ(SessionIndexes::activeIndexAfterCreate(false, 0, 3), 0);
    EXPECT_EQ(SessionIndexes::activeIndexAfterCreate(true, 0, 3), 2);

    EXPECT_EQ(SessionIndexes::terminalFontSize(0, 0), 13);
    EXPECT_EQ(SessionIndexes::terminalFontSize(-5, 2), 15);
    EXPECT_EQ(SessionIndexes::terminalFontSize(13, 30), 40);
    EXPECT_EQ(SessionIndexes::terminalFontSize(9, -3), 8);
    EXPECT_EQ(SessionIndexes::terminalFontSize(14.5, 0.5), 15);
}
