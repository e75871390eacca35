#include "sessions/SandboxProfile.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Layout {
    QTemporaryDir tmp;
    QString base, home, repo, worktree, link;
    Layout() {
        base = QFileInfo(tmp.path()).canonicalFilePath();
        home = base + QStringLiteral("/ho\"me\\x");
        repo = base + QStringLiteral("/repo");
        worktree = repo + QStringLiteral("/.varnix/worktrees/fix");
        link = base + QStringLiteral("/wt-link");
        QDir().mkpath(home);
        QDir().mkpath(worktree);
        QFile::link(worktree, link);
    }
};

}  // namespace

TEST(SandboxProfile, ExactLinesWithQuotedHomeAndResolvedWorktree) {
    Layout l;
    const auto profile = SandboxProfile::profile(l.link, l.repo, l.home);
    ASSERT_TRUE(profile.has_value());
    EXPECT_FALSE(profile->endsWith('\n'));

    // The home holds a double quote and a backslash: \" and \\ inside the quoted path.
    const QString h = l.base + QStringLiteral("/ho\\\"me\\\\x");
    const QString r = l.repo;
    const QString w = l.worktree;  // the link resolved
    const QStringList expected = {
        "(version 1)",
        "(allow default)",
        ";; (1) deny writes under $HOME and the main repo wholesale",
        "(deny file-write* (subpath \"" + h + "\"))",
        "(deny file-write* (subpath \"" + r + "\"))",
        ";; (2) re-open the caches/config the agent actually needs",
        "(allow file-write* (subpath \"" + h + "/.claude\"))",
        "(allow file-write* (subpath \"" + h + "/.codex\"))",
        "(allow file-write* (subpath \"" + h + "/.cache\"))",
        "(allow file-write* (subpath \"" + h + "/.npm\"))",
        "(allow file-write* (subpath \"" + h + "/.config\"))",
        "(allow file-write* (subpath \"" + h + "/.cargo\"))",
        "(allow file-write* (subpath \"" + h + "/.rustup\"))",
        "(allow file-write* (subpath \"" + h + "/.local/share\"))",
        "(allow file-write* (subpath \"" + h + "/.local/state\"))",
        "(allow file-write* (subpath \"" + h + "/Library/Caches\"))",
        "(allow file-write* (literal \"" + h + "/.claude.json\"))",
        "(allow file-write* (literal \"" + h + "/.codex.json\"))",
        QString::fromUtf8(";; (3) worktree + git db \xE2\x80\x94 AFTER the broad denies (Seatbelt: last match wins)"),
        "(allow file-write* (subpath \"" + w + "\"))",
        "(allow file-write* (subpath \"" + r + "/.git\"))",
        ";; (4) always-winning denies: control channel + secrets",
        "(deny file-write* (subpath \"" + h + "/.config/varnix\"))",
        "(allow file-write* (subpath \"" + h + "/.config/varnix/orch-events\"))",
        "(deny file* (subpath \"" + h + "/.ssh\"))",
        "(deny file* (subpath \"" + h + "/.aws\"))",
        "(deny file* (subpath \"" + h + "/.gnupg\"))",
    };
    const QStringList lines = profile->split('\n');
    ASSERT_EQ(lines.size(), 27);
    for (int i = 0; i < 27; ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
}

TEST(SandboxProfile, MissingWorktreeOrRepositoryGivesNoProfile) {
    Layout l;
    EXPECT_FALSE(SandboxProfile::profile(l.base + "/nope", l.repo, l.home));
    EXPECT_FALSE(SandboxProfile::profile(l.worktree, l.base + "/nope", l.home));
    EXPECT_FALSE(SandboxProfile::profile(QString(), l.repo, l.home));

    // A home that does not exist is used as given.
    const auto p = SandboxProfile::profile(l.worktree, l.repo, QStringLiteral("/no/such/home"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->split('\n').value(3), "(deny file-write* (subpath \"/no/such/home\"))");
}

TEST(SandboxProfile, WrapAndRealPath) {
    const auto c = SandboxProfile::wrap("(version 1)", "/bin/zsh", {"-l", "-c", "echo hi"});
    EXPECT_EQ(c.executable, "/usr/bin/sandbox-exec");
    EXPECT_EQ(c.args, (QStringList{"-p", "(version 1)", "/bin/zsh", "-l", "-c", "echo hi"}));

    Layout l;
    EXPECT_EQ(SandboxProfile::realPath(l.link), l.worktree);
    EXPECT_EQ(SandboxProfile::realPath(l.base + "/missing"), std::nullopt);
    QFile::link(l.base + "/missing", l.base + "/dangling");
    EXPECT_EQ(SandboxProfile::realPath(l.base + "/dangling"), std::nullopt);
}
