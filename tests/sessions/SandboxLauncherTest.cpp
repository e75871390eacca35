#include "sessions/SandboxLauncher.h"

#include "core/Paths.h"
#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList bindTriple(const char* op, const QString& path) { return {op, path, path}; }

// A launcher whose availability and wrapping are fixed, to drive the session step.
class FakeLauncher : public SandboxLauncher {
public:
    bool available = true;
    bool isAvailable() const override { return available; }
    std::optional<Command> wrap(const QString& w, const QString& r, const QString& h,
                                const QString& exe, const QStringList& args) const override {
        if (!SandboxProfile::realPath(w) || !SandboxProfile::realPath(r)) return std::nullopt;
        return Command{"/fake/jail", QStringList{w, r, h, exe} + args};
    }
};

}  // namespace

TEST(BubblewrapLauncher, MountArgumentsInRuleOrder) {
    QTemporaryDir tmp;
    const QString h = tmp.path() + "/home";
    QDir().mkpath(h + "/.ssh");
    writeTextFile(h + "/.aws", "not a directory");  // .gnupg absent
    const QString r = "/srv/repo", w = "/srv/repo/.varnix/worktrees/a";

    QStringList expected = bindTriple("--dev-bind", "/");
    expected << bindTriple("--ro-bind", h) << bindTriple("--ro-bind", r);
    for (const char* d : {".claude", ".codex", ".cache", ".npm", ".config", ".cargo", ".rustup",
                          ".local/share", ".local/state", "Library/Caches"})
        expected << bindTriple("--bind-try", h + "/" + d);
    expected << bindTriple("--bind-try", h + "/.claude.json")
             << bindTriple("--bind-try", h + "/.codex.json");
    expected << bindTriple("--bind", w) << bindTriple("--bind-try", r + "/.git");
    expected << bindTriple("--ro-bind-try", h + "/.config/varnix")
             << bindTriple("--bind-try", h + "/.config/varnix/orch-events");
    expected << "--tmpfs" << h + "/.ssh" << "--ro-bind" << "/dev/null" << h + "/.aws";

    EXPECT_EQ(BubblewrapLauncher::mountArguments(w, r, h, "/tmp"), expected);
}

TEST(BubblewrapLauncher, TemporaryDirectoryInsideHomeOrRepositoryStaysWritable) {
    const QString h = "/nonexistent-home", r = "/nonexistent-home/src/repo";
    const QString w = r + "/.varnix/worktrees/a";
    const auto args = [&](const QString& t) {
        return BubblewrapLauncher::mountArguments(w, r, h, t).mid(0, 12).join(' ');
    };
    // Outside both: nothing extra (it is writable already).
    EXPECT_EQ(args("/tmp"), "--dev-bind / / --ro-bind-try " + h + " " + h + " --ro-bind " + r +
                                " " + r + " --bind-try " + h + "/.claude " + h + "/.claude");
    // Under the home: re-opened right after the broad denies, so caches and secrets still win.
    EXPECT_EQ(args(h + "/tmp"), "--dev-bind / / --ro-bind-try " + h + " " + h + " --ro-bind " + r +
                                    " " + r + " --bind-try " + h + "/tmp " + h + "/tmp");
    // A temp directory that holds the repository must not reopen the repository.
    const QStringList holding = BubblewrapLauncher::mountArguments(w, r, h, h + "/src");
    EXPECT_EQ(holding.mid(9, 6), QStringList({"--bind-try", h + "/src", h + "/src", "--ro-bind", r, r}));
    // The home itself is never re-opened.
    EXPECT_FALSE(BubblewrapLauncher::mountArguments(w, r, h, h).join('\n').contains(
        "--bind-try\n" + h + "\n" + h + "\n"));
}

TEST(BubblewrapLauncher, WrapResolvesPathsAndEndsWithTheCommand) {
    QTemporaryDir tmp;
    const QString base = QFileInfo(tmp.path()).canonicalFilePath();
    QDir().mkpath(base + "/repo/.varnix/worktrees/a");
    QFile::link(base + "/repo/.varnix/worktrees/a", base + "/link");
    const BubblewrapLauncher launcher("/opt/bwrap", [](const QString&, QString*) { return true; });

    const auto c = launcher.wrap(base + "/link", base + "/repo", base + "/home", "/bin/sh",
                                 {"-c", "echo hi"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->executable, "/opt/bwrap");
    EXPECT_EQ(c->args.mid(c->args.size() - 5),
              QStringList({"--die-with-parent", "--", "/bin/sh", "-c", "echo hi"}));
    EXPECT_TRUE(c->args.join('\n').contains("--bind\n" + base + "/repo/.varnix/worktrees/a\n"));
    EXPECT_TRUE(QFileInfo(base + "/home/.config/varnix/orch-events").isDir())
        << "the events directory must exist before the launch to be writable inside";
    EXPECT_FALSE(launcher.wrap(base + "/missing", base + "/repo", base, "/bin/sh", {}));
    EXPECT_FALSE(launcher.wrap(base + "/link", base + "/missing", base, "/bin/sh", {}));
}

TEST(BubblewrapLauncher, ProbesOnceAndLogsAFailureOnce) {
    LogCapture log;
    int calls = 0;
    const BubblewrapLauncher failing("/bin/sh", [&](const QString&, QString* reason) {
        ++calls;
        *reason = "No permissions to create new namespace";
        return false;
    });
    EXPECT_FALSE(failing.isAvailable());
    EXPECT_FALSE(failing.isAvailable());
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(log.lines().filter("[Sandbox]").size(), 1);
    EXPECT_TRUE(log.contains("No permissions to create new namespace"));

    // A missing tool is not probed and not logged.
    const BubblewrapLauncher missing("/no/such/bwrap", [&](const QString&, QString*) {
        ++calls;
        return true;
    });
    EXPECT_FALSE(missing.isAvailable());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(log.lines().filter("[Sandbox]").size(), 1);

    // The real probe against a program that is not bubblewrap fails with its status.
    QString reason;
    EXPECT_FALSE(BubblewrapLauncher::defaultProbe("/bin/false", &reason));
    EXPECT_FALSE(reason.isEmpty());
}

TEST(SandboxConfine, WrapsOnlyWithRootWorktreeAndAWorkingLauncher) {
    QTemporaryDir tmp;
    const QString w = tmp.path() + "/wt", r = tmp.path();
    QDir().mkpath(w);
    const QStringList args = {"-l", "-c", "claude"};
    const SandboxProfile::Command plain{"/bin/zsh", args};
    FakeLauncher fake;
    LogCapture log;

    EXPECT_EQ(Sandbox::confine(w, r, "/h", "/bin/zsh", args, &fake),
              (SandboxProfile::Command{"/fake/jail", QStringList{w, r, "/h", "/bin/zsh"} + args}));
    // Empty home means the user's home.
    EXPECT_EQ(Sandbox::confine(w, r, "", "/bin/zsh", args, &fake).args.value(2), Paths::home());

    EXPECT_EQ(Sandbox::confine("", r, "/h", "/bin/zsh", args, &fake), plain);
    EXPECT_EQ(Sandbox::confine(w, "", "/h", "/bin/zsh", args, &fake), plain);
    EXPECT_EQ(Sandbox::confine(w, r, "/h", "/bin/zsh", args, nullptr), plain);
    fake.available = false;
    EXPECT_EQ(Sandbox::confine(w, r, "/h", "/bin/zsh", args, &fake), plain);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();

    fake.available = true;
    EXPECT_EQ(Sandbox::confine(tmp.path() + "/gone", r, "/h", "/bin/zsh", args, &fake), plain);
    EXPECT_EQ(log.lines(),
              QStringList{"[Sandbox] could not build profile for " + tmp.path() +
                          QString::fromUtf8("/gone \xE2\x80\x94 running unconfined")});
}

// Real confinement: a shell in the sandbox writes where the policy allows and nowhere else.
TEST(BubblewrapLauncher, ConfinedShellWritesOnlyWhereAllowed) {
    const BubblewrapLauncher launcher;
    if (!QFileInfo(launcher.path()).isExecutable()) GTEST_SKIP() << "bubblewrap is not installed";
    QString reason;
    if (!BubblewrapLauncher::defaultProbe(launcher.path(), &reason))
        GTEST_SKIP() << "bubblewrap cannot create namespaces on this machine: "
                     << reason.toStdString();

    TempHome home;
    QTemporaryDir repoDir;
    const QString h = QFileInfo(home.path()).canonicalFilePath();
    const QString r = QFileInfo(repoDir.path()).canonicalFilePath();
    const QString w = r + "/.varnix/worktrees/task";
    QDir().mkpath(w);
    QDir().mkpath(r + "/.git");
    QDir().mkpath(h + "/.config/varnix/orch-events");
    QDir().mkpath(h + "/.cache");
    writeTextFile(h + "/.ssh/id_ed25519", "PRIVATE KEY");

    const QString script = QStringLiteral(
        "t() { if touch \"$1\" 2>/dev/null; then echo \"$2=yes\"; else echo \"$2=no\"; fi; }\n"
        "t \"$W/x\" worktree; t \"$R/.git/y\" gitdb; t \"$R/z\" repo; t \"$HOME/y\" home\n"
        "t \"$HOME/.cache/c\" cache; t \"$HOME/.config/varnix/orch-events/e\" events\n"
        "t \"$HOME/.config/varnix/token\" config\n"
        "if cat \"$HOME/.ssh/id_ed25519\" >/dev/null 2>&1; then echo ssh=readable; else echo ssh=hidden; fi\n"
        "echo ssh-entries=$(ls -A \"$HOME/.ssh\" | wc -l)\n"
        "test -r /proc/self/status && echo proc=yes; echo >/dev/null && echo dev=yes\n");
    const auto c = Sandbox::confine(w, r, h, "/bin/sh", {"-c", script}, &launcher);
    ASSERT_EQ(c.executable, launcher.path()) << "a working launcher must wrap";

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("W", w);
    env.insert("R", r);
    env.insert("HOME", h);
    p.setProcessEnvironment(env);
    p.start(c.executable, c.args);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(out, (QStringList{"worktree=yes", "gitdb=yes", "repo=no", "home=no", "cache=yes",
                                "events=yes", "config=no", "ssh=hidden", "ssh-entries=0",
                                "proc=yes", "dev=yes"}))
        << p.readAllStandardError().toStdString();

    // What the shell reported is what reached the disk.
    EXPECT_TRUE(QFile::exists(w + "/x"));
    EXPECT_TRUE(QFile::exists(r + "/.git/y"));
    EXPECT_TRUE(QFile::exists(h + "/.config/varnix/orch-events/e"));
    EXPECT_FALSE(QFile::exists(r + "/z"));
    EXPECT_FALSE(QFile::exists(h + "/y"));
    EXPECT_FALSE(QFile::exists(h + "/.config/varnix/token"));
    EXPECT_TRUE(QFile::exists(h + "/.ssh/id_ed25519")) << "hiding must not touch the real files";
}
