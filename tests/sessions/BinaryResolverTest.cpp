#include "core/Preferences.h"
#include "sessions/AgentBinaryResolver.h"
#include "sessions/SessionLaunch.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void makeExecutable(const QString& path) {
    ASSERT_TRUE(writeTextFile(path, "#!/bin/sh\nexit 0\n"));
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QString prompt() { return QStringLiteral("\x1b]0;user@host: ~\x07\x1b[1;32muser@host\x1b[0m$ "); }

int lineCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return int(f.readAll().count('\n'));
}

// Installs a counting shell runner with a fixed answer and restores the real one.
class FakeShell {
public:
    explicit FakeShell(std::optional<QString> answer) : answer_(std::move(answer)) {
        AgentBinaryResolver::clearInteractiveCache();
        AgentBinaryResolver::setShellRunner([this](const QString& command, bool interactive, double timeout) {
            ++calls;
            lastCommand = command;
            lastInteractive = interactive;
            lastTimeout = timeout;
            return answer_;
        });
    }
    ~FakeShell() {
        AgentBinaryResolver::setShellRunner(nullptr);
        AgentBinaryResolver::clearInteractiveCache();
    }
    void answer(std::optional<QString> a) { answer_ = std::move(a); }
    int calls = 0;
    QString lastCommand;
    bool lastInteractive = false;
    double lastTimeout = 0;
private:
    std::optional<QString> answer_;
};

// Points SHELL at a stand-in for the test's lifetime.
class ScopedShell {
public:
    explicit ScopedShell(const QString& shell) : previous_(qgetenv("SHELL")) {
        qputenv("SHELL", QFile::encodeName(shell));
        AgentBinaryResolver::clearInteractiveCache();
    }
    ~ScopedShell() {
        qputenv("SHELL", previous_);
        AgentBinaryResolver::clearInteractiveCache();
        AgentBinaryResolver::setInteractiveTimeout(std::nullopt);
    }
private:
    QByteArray previous_;
};

}  // namespace

TEST(AgentBinaryResolver, FirstExecutablePathReadsShellOutput) {
    QTemporaryDir tmp;
    const QString codex = tmp.path() + "/opt/homebrew/bin/codex";
    const QString other = tmp.path() + "/bin/other";
    makeExecutable(codex);
    makeExecutable(other);
    ASSERT_TRUE(writeTextFile(tmp.path() + "/plain", "x"));

    const QString prompt = "\x1b]0;user@host: ~\x07\x1b[1;32muser@host\x1b[0m:\x1b[1;34m~\x1b[0m$ ";
    struct Case { const char* what; QString output; std::optional<QString> expected; };
    const Case cases[] = {
        {"path before a coloured prompt", prompt + "\n" + codex + "\n" + prompt + "\x1b[?2004h", codex},
        {"path wrapped in colour", "\x1b[32m" + codex + "\x1b[0m\r\n", codex},
        {"later lines win", other + "\n" + codex + "\n", codex},
        {"alias report", "alias claude='npx claude'\n", std::nullopt},
        {"zsh alias report", "claude: aliased to npx claude\n" + prompt, std::nullopt},
        {"function report", "claude () {\n\tnpx claude \"$@\"\n}\n", std::nullopt},
        {"not executable", tmp.path() + "/plain\n", std::nullopt},
        {"missing file", tmp.path() + "/gone\n", std::nullopt},
        {"relative name", "codex\n", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(AgentBinaryResolver::firstExecutablePath(c.output), c.expected) << c.what;
}

TEST(AgentBinaryResolver, ResolutionOrder) {
    TempHome home;
    QTemporaryDir tmp;
    FakeShell shell(std::nullopt);
    const QString override = home.path() + "/bin/claude";
    const QString viaShell = tmp.path() + "/shell/claude";
    const QString pathA = tmp.path() + "/a", pathB = tmp.path() + "/b";
    const QString extra1 = tmp.path() + "/extra1/claude", extra2 = tmp.path() + "/extra2/claude";
    for (const QString& p : {override, viaShell, pathB + "/claude", extra2}) makeExecutable(p);
    ASSERT_TRUE(writeTextFile(pathA + "/claude", "not executable"));
    const QString path = ":" + pathA + "::" + pathB + "/:";
    const QStringList extras{extra1, extra2};

    // An override with a tilde and blanks around it.
    EXPECT_EQ(AgentBinaryResolver::resolve("claude", extras, path, QString("  ~/bin/claude \n")), override);
    EXPECT_EQ(shell.calls, 0);
    // A missing override falls through to the shell silently.
    shell.answer(prompt() + "\n" + viaShell + "\n" + prompt());
    EXPECT_EQ(AgentBinaryResolver::resolve("claude", extras, path, QString("~/bin/missing")), viaShell);
    EXPECT_EQ(shell.lastCommand, "command -v claude");
    EXPECT_TRUE(shell.lastInteractive);
    EXPECT_EQ(shell.lastTimeout, 6.0);

    // No shell answer: PATH (empty entries skipped, non-executables skipped), then the extras.
    AgentBinaryResolver::clearInteractiveCache();
    shell.answer(QString("alias claude=npx\n"));
    EXPECT_EQ(AgentBinaryResolver::resolve("claude", extras, path, std::nullopt), pathB + "/claude");
    EXPECT_EQ(AgentBinaryResolver::resolve("claude", extras, pathA, QString("  ")), extra2);
    // Nothing anywhere: the bare name.
    EXPECT_EQ(AgentBinaryResolver::resolve("codex", {}, pathA, std::nullopt), "codex");
}

TEST(AgentBinaryResolver, OverridePreferenceIsTrimmedAndBlankRemovesIt) {
    ScopedMemoryPreferences prefs;
    EXPECT_FALSE(AgentBinaryOverride::path("claude"));
    AgentBinaryOverride::set(QString("  /opt/claude \n"), "claude");
    EXPECT_EQ(prefs.prefs().stringValue("Varnix.binaryPath.claude"), QString("/opt/claude"));
    EXPECT_EQ(AgentBinaryOverride::path("claude"), QString("/opt/claude"));
    EXPECT_FALSE(AgentBinaryOverride::path("codex"));
    prefs.prefs().setValue("Varnix.binaryPath.codex", QString(" \t\n"));
    EXPECT_FALSE(AgentBinaryOverride::path("codex"));
    prefs.prefs().setValue("Varnix.binaryPath.codex", true);  // wrong type reads as absent
    EXPECT_FALSE(AgentBinaryOverride::path("codex"));
    AgentBinaryOverride::set(QString("   "), "claude");
    EXPECT_FALSE(prefs.prefs().contains("Varnix.binaryPath.claude"));
    AgentBinaryOverride::set(QString("/x"), "claude");
    AgentBinaryOverride::set(std::nullopt, "claude");
    EXPECT_FALSE(prefs.prefs().contains("Varnix.binaryPath.claude"));
}

TEST(AgentBinaryResolver, ResolveCommandUsesTheOverrideAndTheExtraLocations) {
    TempHome home;
    ScopedMemoryPreferences prefs;
    FakeShell shell(std::nullopt);
    qunsetenv("npm_config_prefix");
    qunsetenv("NPM_CONFIG_PREFIX");

    const QString local = home.path() + "/.claude/local/claude";
    makeExecutable(local);
    EXPECT_EQ(AgentBinaryResolver::resolveCommand("claude", "claude", "", {local}), local);
    const QString pinned = home.path() + "/pinned/claude";
    makeExecutable(pinned);
    AgentBinaryOverride::set(QString("~/pinned/claude"), "claude");
    EXPECT_EQ(AgentBinaryResolver::resolveCommand("claude", "claude", "", {local}), pinned);
    // The override belongs to its agent only.
    EXPECT_EQ(AgentBinaryResolver::resolveCommand("codex", "codex", "", {}), "codex");

    EXPECT_EQ(AgentBinaryResolver::extraLocations("claude", {"/x/claude"}, PlatformPaths::linuxPaths()),
              (QStringList{"/usr/local/bin/claude", "/home/linuxbrew/.linuxbrew/bin/claude", "/x/claude",
                           home.path() + "/.npm-global/bin/claude", home.path() + "/.local/bin/claude"}));
    EXPECT_EQ(AgentBinaryResolver::extraLocations("codex", {}, PlatformPaths::macPaths()),
              (QStringList{"/opt/homebrew/bin/codex", "/usr/local/bin/codex", home.path() + "/.local/bin/codex"}));

    // npm's user prefix: ~/.npmrc, then the environment.
    ASSERT_TRUE(writeTextFile(home.file(".npmrc"), "registry=https://r.invalid/\nprefix = ~/.npm-packages\n"));
    EXPECT_EQ(AgentBinaryResolver::npmUserPrefix(), home.path() + "/.npm-packages");
    const QString npmCodex = home.path() + "/.npm-packages/bin/codex";
    makeExecutable(npmCodex);
    EXPECT_EQ(AgentBinaryResolver::resolveCommand("codex", "codex", "/nonexistent", {}), npmCodex);
    qputenv("npm_config_prefix", "$HOME/npm");
    EXPECT_EQ(AgentBinaryResolver::npmUserPrefix(), home.path() + "/npm");
    qunsetenv("npm_config_prefix");
}

TEST(AgentBinaryResolver, InteractiveAnswerIsCachedPerNameIncludingNone) {
    QTemporaryDir tmp;
    const QString claude = tmp.path() + "/claude";
    makeExecutable(claude);
    FakeShell shell(claude + "\n");
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("claude"), claude);
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("claude"), claude);
    EXPECT_EQ(shell.calls, 1);

    shell.answer(std::nullopt);  // the shell gave nothing (timed out)
    EXPECT_FALSE(AgentBinaryResolver::resolveViaInteractiveShell("codex"));
    EXPECT_FALSE(AgentBinaryResolver::resolveViaInteractiveShell("codex"));
    EXPECT_EQ(shell.calls, 2);
    EXPECT_EQ(AgentBinaryResolver::resolve("codex", {}, "", std::nullopt), "codex");
    EXPECT_EQ(shell.calls, 2);

    AgentBinaryResolver::forgetInteractive("claude");
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("claude"), std::nullopt);
    EXPECT_EQ(shell.calls, 3);
    // Names that are not plain words reach the shell quoted.
    AgentBinaryResolver::resolveViaInteractiveShell("a b;x");
    EXPECT_EQ(shell.lastCommand, "command -v 'a b;x'");
}

TEST(AgentBinaryResolver, ColouredLoginShellAnswerIsFound) {
    QTemporaryDir tmp;
    const QString claude = tmp.path() + "/bin/claude";
    makeExecutable(claude);
    ScopedShell shell(QString(VARNIX_FIXTURES) + "/shells/colour-login-shell");
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(tmp.path() + "/bin:/usr/bin:/bin"));
    const QString log = tmp.path() + "/shell.log";
    qputenv("FAKE_SHELL_LOG", QFile::encodeName(log));

    const auto raw = AgentBinaryResolver::runLoginShellCommand("command -v claude", true, 30);
    ASSERT_TRUE(raw);
    EXPECT_TRUE(raw->contains("\x1b[1;32m"));
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("claude"), claude);
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("claude"), claude);
    EXPECT_EQ(lineCount(log), 2);  // one direct run, one cached lookup
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "start -l -i -c command -v claude\nstart -l -i -c command -v claude\n");

    const auto nonInteractive = AgentBinaryResolver::runLoginShellCommand("echo $0; exit 3", false, 30);
    ASSERT_TRUE(nonInteractive);  // output counts even with a failing status
    EXPECT_TRUE(nonInteractive->contains("/bin/sh\n"));
    qputenv("PATH", oldPath);
    qunsetenv("FAKE_SHELL_LOG");
}

TEST(AgentBinaryResolver, HangingShellCountsAsNoneAndIsCached) {
    QTemporaryDir tmp;
    ScopedShell shell(QString(VARNIX_FIXTURES) + "/shells/hanging-shell");
    AgentBinaryResolver::setInteractiveTimeout(1.0);
    const QString log = tmp.path() + "/shell.log";
    qputenv("FAKE_SHELL_LOG", QFile::encodeName(log));

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(AgentBinaryResolver::resolveViaInteractiveShell("codex"));
    EXPECT_LT(clock.elapsed(), 40000);
    EXPECT_FALSE(AgentBinaryResolver::resolveViaInteractiveShell("codex"));
    EXPECT_EQ(AgentBinaryResolver::resolve("codex", {}, "/nonexistent", std::nullopt), "codex");
    EXPECT_EQ(lineCount(log), 1);
    EXPECT_FALSE(AgentBinaryResolver::runLoginShellCommand("true", false, 0.5));
    qunsetenv("FAKE_SHELL_LOG");
}

TEST(AgentBinaryResolver, RealBashLoginShellReadsTheUsersStartupFiles) {
    if (!SessionLaunch::isExecutableFile("/bin/bash")) GTEST_SKIP() << "no bash";
    TempHome home;
    const QString tool = home.path() + "/tools/varnix-test-tool";
    makeExecutable(tool);
    // As on a stock system: ~/.profile reads ~/.bashrc, which only acts in interactive shells.
    ASSERT_TRUE(writeTextFile(home.file(".profile"), "if [ -f \"$HOME/.bashrc\" ]; then . \"$HOME/.bashrc\"; fi\n"));
    ASSERT_TRUE(writeTextFile(home.file(".bashrc"), "case $- in *i*) ;; *) return;; esac\n"
                                                    "PS1='\\[\\e[1;32m\\]\\u\\[\\e[0m\\]$ '\n"
                                                    "export PATH=\"$HOME/tools:$PATH\"\n"));
    ScopedShell shell("/bin/bash");

    const auto interactive = AgentBinaryResolver::runLoginShellCommand("command -v varnix-test-tool", true, 30);
    ASSERT_TRUE(interactive);
    EXPECT_EQ(AgentBinaryResolver::firstExecutablePath(*interactive), tool) << interactive->toStdString();
    EXPECT_EQ(AgentBinaryResolver::resolveViaInteractiveShell("varnix-test-tool"), tool);

    // Without -i the rc file returns early and the tool stays unknown.
    const auto plain = AgentBinaryResolver::runLoginShellCommand("command -v varnix-test-tool", false, 30);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(AgentBinaryResolver::firstExecutablePath(*plain));
}
