#include "ui/TabBarLogic.h"
#include "ui/Theme.h"

#include <gtest/gtest.h>

using namespace TabBarLogic;

namespace {

TabSession session(const char* uuid, const QString& name, SessionState state = SessionState::idle,
                   std::optional<QString> branch = std::nullopt, std::optional<QString> worktree = std::nullopt,
                   bool orchestrator = false) {
    return TabSession{QUuid(QString::fromLatin1(uuid)), name, state, orchestrator, branch, worktree};
}

const char* kA = "{0b6a7c1e-1d2f-4a3b-9c8d-7e6f5a4b3c2d}";
const char* kB = "{a1b2c3d4-e5f6-4789-abcd-ef0123456789}";
const char* kC = "{11111111-2222-4333-8444-555555555555}";
const char* kD = "{99999999-8888-4777-8666-555555555555}";

}  // namespace

TEST(TabsSignature, NamesEverythingTheBarShows) {
    const QList<TabSession> sessions{
        session(kA, "Yaga", SessionState::userInput),
        session(kB, "orchestrator", SessionState::needsAttention, QStringLiteral("varnix/fix-login"),
                QStringLiteral("/r/.varnix/worktrees/fix-login"), true),
    };
    EXPECT_EQ(tabsSignature(1, std::nullopt, sessions, {{"/r/a.txt", true}, {"/r/b.txt", false}}),
              QStringLiteral("a1;f∅;0B6A7C1E-1D2F-4A3B-9C8D-7E6F5A4B3C2D|Yaga|userInput|false|∅|∅;"
                             "A1B2C3D4-E5F6-4789-ABCD-EF0123456789|orchestrator|needsAttention|true|varnix/fix-login|"
                             "/r/.varnix/worktrees/fix-login;/r/a.txt|true;/r/b.txt|false"));
    EXPECT_EQ(tabsSignature(-1, QStringLiteral("/r/a.txt"), {}, {}), QStringLiteral("a-1;f/r/a.txt"));

    // Every visible fact changes it; the empty branch differs from no branch.
    const QString base = tabsSignature(0, std::nullopt, sessions, {});
    QList<TabSession> changed = sessions;
    changed[0].state = SessionState::generating;
    EXPECT_NE(tabsSignature(0, std::nullopt, changed, {}), base);
    changed = sessions;
    changed[0].branch = QString();
    EXPECT_NE(tabsSignature(0, std::nullopt, changed, {}), base);
    changed = sessions;
    changed[1].name = "boss";
    EXPECT_NE(tabsSignature(0, std::nullopt, changed, {}), base);
    EXPECT_EQ(tabsSignature(0, std::nullopt, sessions, {}), base);
}

TEST(GroupedTabOrder, NoChipsWithOneGroup) {
    const GroupedOrder grouped = groupedTabOrder({session(kA, "a"), session(kB, "b", SessionState::idle, "main")});
    EXPECT_EQ(grouped.order, (QList<int>{0, 1}));
    EXPECT_TRUE(grouped.chips.isEmpty());
    EXPECT_TRUE(groupedTabOrder({}).order.isEmpty());
}

TEST(GroupedTabOrder, GroupsByWorktreeInOrderOfFirstAppearance) {
    const QString wt1 = "/r/.varnix/worktrees/one";
    const QString wt2 = "/r/.varnix/worktrees/two";
    const GroupedOrder grouped = groupedTabOrder({
        session(kA, "main-1"),
        session(kB, "one-1", SessionState::idle, QStringLiteral("varnix/one"), wt1),
        session(kC, "main-2", SessionState::idle, QStringLiteral("main")),
        session(kD, "one-2", SessionState::idle, QStringLiteral("varnix/one"), wt1),
        session(kA, "two-1", SessionState::idle, QString(), wt2),
    });
    // The worktree's sessions sit together; groups keep the order of their first session.
    EXPECT_EQ(grouped.order, (QList<int>{0, 2, 1, 3, 4}));
    ASSERT_EQ(grouped.chips.size(), 3);
    // The first main-checkout session has no branch yet: "main" in the dim text colour.
    EXPECT_EQ(grouped.chips.value(0), (GroupChip{"main", Theme::text3()}));
    // A branch shows its last path component in its own colour.
    EXPECT_EQ(grouped.chips.value(1), (GroupChip{"one", Theme::branchColor("varnix/one")}));
    // An empty branch (detached head) is "main" in the colour of the empty text.
    EXPECT_EQ(grouped.chips.value(4), (GroupChip{"main", Theme::branchColor(QString())}));
}

TEST(NextFileSelection, PrefersTheMostRecentThenThePositionThenNothing) {
    struct Case {
        const char* what;
        std::optional<int> position;
        QStringList open;
        QStringList mru;
        std::optional<QString> expected;
    };
    const QList<Case> cases{
        {"most recently selected open file", 0, {"/b", "/c"}, {"/c", "/b"}, QString("/c")},
        {"MRU entries no longer open are skipped", 1, {"/a", "/c"}, {"/x", "/a"}, QString("/a")},
        {"same position without MRU", 1, {"/a", "/c", "/d"}, {}, QString("/c")},
        {"last one when past the end", 2, {"/a", "/b"}, {}, QString("/b")},
        {"unknown position, no MRU", std::nullopt, {"/a"}, {}, std::nullopt},
        {"nothing left open", 0, {}, {"/gone"}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(nextFileSelection(c.position, c.open, c.mru), c.expected) << c.what;
}

TEST(ZoomArithmetic, ClampsTo8Through40) {
    EXPECT_EQ(terminalBaseFontSize(0), 13);
    EXPECT_EQ(terminalBaseFontSize(-2), 13);
    EXPECT_EQ(terminalBaseFontSize(15), 15);
    EXPECT_EQ(clampedDelta(13, 1), 1);
    EXPECT_EQ(clampedDelta(13, 30), 27);   // 40 - 13
    EXPECT_EQ(clampedDelta(13, -10), -5);  // 8 - 13
    EXPECT_EQ(clampedDelta(20, -20), -12);
    EXPECT_EQ(clampFontSize(7.5), 8);
    EXPECT_EQ(clampFontSize(41), 40);
    EXPECT_EQ(clampFontSize(12.5), 12.5);
}
