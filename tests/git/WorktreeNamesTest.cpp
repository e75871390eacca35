// The parts of the worktree manager that need no git: names, parsers, the exclude entry.
#include "git/WorktreeManager.h"

#include "QtPrinters.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using WM = WorktreeManager;

TEST(WorktreeNames, SafeBranchName) {
    const struct { QString in, out; } cases[] = {
        {"Fix Login Bug!", "fix-login-bug"},
        {QString::fromUtf8("Привет мир"), "privet-mir"},
        {QString::fromUtf8("ЩУКА, ёж съел 42 ЮЛЫ"), "shchuka-yozh-sel-42-yuly"},
        {QString::fromUtf8("修复登录错误"), "wt"},
        {"", "wt"},
        {"  --!!  ", "wt"},
        {"feature/ABC_12", "feature-abc-12"},
        {QString::fromUtf8("Café Über"), "caf-ber"},  // only ASCII survives outside the table
        {QString::fromUtf8("и\u0306од"), "yod"},       // decomposed й reads like the composed one
        {QString(60, 'x'), QString(40, 'x')},
        {QString(39, 'a') + " b", QString(39, 'a') + "-"},  // the cut may leave a trailing "-"
    };
    for (const auto& c : cases) EXPECT_EQ(WM::safeBranchName(c.in), c.out) << c.in.toStdString();
}

TEST(WorktreeNames, CyrillicTableHasThirtyThreeLowerCaseLetters) {
    const auto& table = WM::cyrillicLatin();
    ASSERT_EQ(table.size(), 33);
    QString alphabet;
    for (const auto& [cyr, lat] : table) {
        EXPECT_TRUE(cyr.isLower());
        alphabet += cyr;
        alphabet += ' ';
    }
    EXPECT_EQ(alphabet.left(2 * 6), QString::fromUtf8("а б в г д е "));
    EXPECT_EQ(WM::safeBranchName(alphabet),
              "a-b-v-g-d-e-yo-zh-z-i-y-k-l-m-n-o-p-r-s-");  // cut at 40
    EXPECT_EQ(WM::safeBranchName(alphabet.mid(2 * 20)), "u-f-kh-ts-ch-sh-shch-y-e-yu-ya");
}

TEST(WorktreeNames, BranchNameFromTask) {
    const struct { QString in, out; } cases[] = {
        {QString::fromUtf8("Добавь кнопку экспорта в CSV-отчёт"), "dobav-knopku-eksporta-v"},
        {"Fix the login bug in the auth module", "fix-the-login-bug"},
        {"!!! ... ???", "task"},
        {"", "task"},
        {QString::fromUtf8("修复 登录"), "task"},
        {QString::fromUtf8("日本 fix a b c"), "fix-a-b"},
        // Letters outside the basic plane are words too: four of them use up the word limit.
        {QString::fromUtf8("𝒳 𝒴 𝒵 𝒲 fix"), "task"},
        {QString::fromUtf8("٣ apples"), "apples"},
    };
    for (const auto& c : cases) EXPECT_EQ(WM::branchNameFromTask(c.in), c.out) << c.in.toStdString();
}

TEST(WorktreeParsers, Shortstat) {
    const struct { QString in; WM::DiffStat out; } cases[] = {
        {" 3 files changed, 10 insertions(+), 2 deletions(-)\n", {3, 10, 2}},
        {" 1 file changed, 4 deletions(-)", {1, 0, 4}},
        {" 1 file changed, 1 insertion(+)", {1, 1, 0}},
        {"", {0, 0, 0}},
        {"files changed", {0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(WM::parseShortstat(c.in), c.out) << c.in.toStdString();
}

TEST(WorktreeParsers, PorcelainList) {
    const QString porcelain =
        "worktree /r\nHEAD 1111\nbranch refs/heads/main\n\n"
        "worktree /r/.varnix/worktrees/a b\nHEAD 2222\nbranch refs/heads/varnix/a\nlocked reason\n\n"
        "worktree /r/.varnix/worktrees/d\nHEAD 3333\ndetached\nprunable gitdir file points to non-existent location\n\n"
        "worktree /bare.git\nbare\n";
    const QList<WM::Worktree> expected = {
        {"/r", "main", "1111", false},
        {"/r/.varnix/worktrees/a b", "varnix/a", "2222", false},
        {"/r/.varnix/worktrees/d", "", "3333", false},
        {"/bare.git", "", "", true},
    };
    EXPECT_EQ(WM::parseWorktreeList(porcelain), expected);
    EXPECT_TRUE(WM::parseWorktreeList("").isEmpty());
    EXPECT_TRUE(WM::parseWorktreeList("HEAD 1\nbranch refs/heads/x\n").isEmpty());
}

TEST(WorktreeExclude, EntryIsAddedOnceWithALineBreakBefore) {
    const QByteArray entry = ".varnix/worktrees\n";
    EXPECT_EQ(WM::withExcludeEntry(""), entry);
    EXPECT_EQ(WM::withExcludeEntry("*.log"), "*.log\n" + entry);
    EXPECT_EQ(WM::withExcludeEntry("# git ls-files\n*.o\n"), "# git ls-files\n*.o\n" + entry);
    EXPECT_EQ(WM::withExcludeEntry("*.o\n \t.varnix/worktrees\t \n"), std::nullopt);
    EXPECT_EQ(WM::withExcludeEntry("*.o\n.varnix/worktrees"), std::nullopt);
    EXPECT_EQ(WM::withExcludeEntry(".varnix/worktrees/\n"), ".varnix/worktrees/\n" + entry);
    // Patterns in other encodings are kept byte for byte.
    const QByteArray latin1 = "caf\xe9.txt\n";
    EXPECT_EQ(WM::withExcludeEntry(latin1), latin1 + entry);
}

TEST(WorktreeDetection, CandidatesInOrder) {
    const QStringList c = WM::detectionCandidates("/some/project");
    ASSERT_GE(c.size(), 3);
    EXPECT_EQ(c[0], "/some/project");
    EXPECT_EQ(c[1], QDir::currentPath());
    const QStringList exeDirs = c.mid(2);
    EXPECT_LE(exeDirs.size(), 10);
    EXPECT_FALSE(exeDirs.contains("/"));
    for (int i = 1; i < exeDirs.size(); ++i)
        EXPECT_EQ(QFileInfo(exeDirs[i - 1]).path(), exeDirs[i]) << "each is the parent of the one before";

    EXPECT_EQ(WM::detectionCandidates(QString()).value(0), QDir::currentPath());
}
