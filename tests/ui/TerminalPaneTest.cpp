// The terminal pane of a project window: tab bar rebuilds, tabs, chips, content and the add menu.
#include "ui/ProjectQuickStart.h"
#include "ui/Theme.h"

#include "WindowTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class PaneTest : public WindowTestBase, public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<VRNXWindowController>();
        controller->window()->show();
        controller->openProject(makeDir("code/proj"));
        QApplication::setActiveWindow(controller->window());
        waitUntil([&] { return pane()->quickStart()->titleLabel()->text() == "PROJ"; });
    }
    void TearDown() override { controller.reset(); }

    SessionManager* manager() const { return controller->sessionManager(); }
    VRNXTerminalPane* pane() const { return controller->terminalPane(); }

    QStringList tabNames() const {
        QStringList names;
        for (VRNXSessionTab* tab : pane()->sessionTabs()) names << tab->model().name;
        return names;
    }

    std::unique_ptr<VRNXWindowController> controller;
};

}  // namespace

TEST_F(PaneTest, RebuildsOnlyWhenTheSignatureChanges) {
    const SessionRef a = addQuietSession(manager(), "a", std::nullopt, true);
    const SessionRef b = addQuietSession(manager(), "b");
    const int built = pane()->rebuildCount();
    EXPECT_EQ(tabNames(), (QStringList{"a", "b"}));
    QList<QWidget*> views = pane()->tabViews();

    // Nothing visible changed: no rebuild, the very same tab views.
    setState(manager(), b, b->state);
    NotificationCenter::shared().post(kActiveSessionDidChange, manager());
    EXPECT_EQ(pane()->rebuildCount(), built);
    EXPECT_EQ(pane()->tabViews(), views);

    setState(manager(), b, SessionState::generating);
    EXPECT_EQ(pane()->rebuildCount(), built + 1);

    // Another window's manager is ignored even when this bar is out of date; a notification
    // from no manager at all is taken.
    SessionManager other;
    b->state = SessionState::thinking;
    NotificationCenter::shared().post(kSessionStateDidChange, &other);
    EXPECT_EQ(pane()->rebuildCount(), built + 1);
    NotificationCenter::shared().post(kSessionStateDidChange, nullptr);
    EXPECT_EQ(pane()->rebuildCount(), built + 2);

    // A rename changes the signature.
    manager()->renameSession(a->id, "alpha");
    EXPECT_EQ(pane()->rebuildCount(), built + 3);
    EXPECT_EQ(tabNames(), (QStringList{"alpha", "b"}));
}

TEST_F(PaneTest, CloseButtonsOnlyWithTwoOrMoreSessions) {
    addQuietSession(manager(), "solo", std::nullopt, true);
    ASSERT_EQ(pane()->sessionTabs().size(), 1);
    EXPECT_FALSE(pane()->sessionTabs()[0]->closeButton()->isVisibleTo(pane()));
    addQuietSession(manager(), "duo");
    ASSERT_EQ(pane()->sessionTabs().size(), 2);
    for (VRNXSessionTab* tab : pane()->sessionTabs()) EXPECT_TRUE(tab->closeButton()->isVisibleTo(pane()));

    // The button closes its own tab.
    pane()->sessionTabs()[1]->closeButton()->click();
    EXPECT_EQ(manager()->sessions.size(), 1);
    EXPECT_EQ(manager()->sessions[0]->name, "solo");
}

TEST_F(PaneTest, AnAlertingBackgroundTabShowsAPulsingDotAndItsStateColour) {
    const SessionRef waiting = addQuietSession(manager(), "waiting");
    const SessionRef front = addQuietSession(manager(), "front", std::nullopt, true);
    ASSERT_EQ(manager()->activeSessionIndex, 1);
    setState(manager(), waiting, SessionState::userInput);

    VRNXSessionTab* tab = pane()->sessionTabs()[0];
    ASSERT_TRUE(tab->dot());
    EXPECT_EQ(tab->dot()->color(), Theme::accent());
    EXPECT_TRUE(tab->dot()->isPulsing());
    EXPECT_EQ(tab->titleColor(), Theme::accent());
    EXPECT_FALSE(pane()->sessionTabs()[1]->dot());
    EXPECT_EQ(pane()->sessionTabs()[1]->titleColor(), Theme::text1());

    setState(manager(), waiting, SessionState::needsAttention);
    EXPECT_EQ(pane()->sessionTabs()[0]->dot()->color(), Theme::red());
    // Other states do not alert.
    setState(manager(), waiting, SessionState::generating);
    EXPECT_FALSE(pane()->sessionTabs()[0]->dot());
    EXPECT_EQ(pane()->sessionTabs()[0]->titleColor(), Theme::text3());

    // Selecting the tab ends the alert: no dot, the active colour.
    setState(manager(), waiting, SessionState::userInput);
    pane()->sessionTabs()[0]->titleButton()->click();
    EXPECT_EQ(manager()->activeSessionIndex, 0);
    EXPECT_FALSE(pane()->sessionTabs()[0]->dot());
    EXPECT_EQ(pane()->sessionTabs()[0]->titleColor(), Theme::text1());
    EXPECT_TRUE(pane()->sessionTabs()[0]->model().active);
}

TEST_F(PaneTest, TheShownTerminalIsNeverAddedAgain) {
    const SessionRef a = addQuietSession(manager(), "a", std::nullopt, true);
    const SessionRef b = addQuietSession(manager(), "b");
    AgentTerminalView* view = a->terminalView;
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
    EXPECT_EQ(view->parentWidget(), pane()->terminalContainer());
    EXPECT_EQ(view->geometry(), pane()->terminalContainer()->rect().adjusted(10, 10, -10, -10));
    EXPECT_FALSE(pane()->quickStart()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return view->hasFocus(); }, 5000));

    struct Reparented : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::ParentChange || e->type() == QEvent::Show || e->type() == QEvent::Hide) ++count;
            return false;
        }
    } watch;
    view->installEventFilter(&watch);
    const int built = pane()->rebuildCount();
    setState(manager(), b, SessionState::thinking);
    setState(manager(), b, SessionState::userInput);
    EXPECT_EQ(pane()->rebuildCount(), built + 2);
    EXPECT_EQ(a->terminalView.data(), view);
    EXPECT_EQ(watch.count, 0);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->hasFocus());

    // Switching shows the other terminal alone.
    pane()->switchToSession(1);
    EXPECT_TRUE(b->terminalView->isVisible());
    EXPECT_FALSE(view->isVisible());
}

TEST_F(PaneTest, SwitchingOutOfRangeDoesNothing) {
    addQuietSession(manager(), "a", std::nullopt, true);
    addQuietSession(manager(), "b");
    int posted = 0;
    QObject context;
    NotificationCenter::shared().observe(kActiveSessionDidChange, &context, [&](const Notification&) { ++posted; });
    for (int index : {-1, 2, 9}) pane()->switchToSession(index);
    EXPECT_EQ(manager()->activeSessionIndex, 0);
    EXPECT_EQ(posted, 0);
    pane()->switchToSession(1);
    EXPECT_EQ(manager()->activeSessionIndex, 1);
    EXPECT_EQ(posted, 1);
}

TEST_F(PaneTest, ClosingTheLastActiveTabShowsTheQuickStart) {
    addQuietSession(manager(), "only", std::nullopt, true);
    ASSERT_FALSE(pane()->quickStart()->isVisible());
    pane()->closeActiveTab();
    EXPECT_TRUE(manager()->sessions.isEmpty());
    EXPECT_TRUE(pane()->sessionTabs().isEmpty());
    EXPECT_TRUE(pane()->quickStart()->isVisible());
    EXPECT_EQ(pane()->quickStart()->titleLabel()->text(), "PROJ");
    // Nothing left to close.
    pane()->closeActiveTab();
    EXPECT_TRUE(manager()->sessions.isEmpty());
}

TEST_F(PaneTest, WorktreeSessionsGetGroupChips) {
    addQuietSession(manager(), "m1", std::nullopt, true);
    addQuietSession(manager(), "m2");
    EXPECT_TRUE(pane()->groupChips().isEmpty());

    const QString wt = makeDir("code/proj/.varnix/worktrees/fix");
    const SessionRef w = addQuietSession(manager(), "w1", wt);
    w->branch = QStringLiteral("varnix/fix");
    NotificationCenter::shared().post(kSessionListDidChange, manager());
    addQuietSession(manager(), "m3");

    QStringList order;
    for (QWidget* view : pane()->tabViews()) {
        if (auto* chip = qobject_cast<VRNXGroupChip*>(view)) order << "[" + chip->text() + "]";
        else order << static_cast<VRNXSessionTab*>(view)->model().name;
    }
    EXPECT_EQ(order, (QStringList{"[main]", "m1", "m2", "m3", "[fix]", "w1"}));
    EXPECT_EQ(pane()->groupChips()[1]->color(), Theme::branchColor("varnix/fix"));
}

TEST_F(PaneTest, TheAddMenuListsTheNewTabEntriesAndStartsThem) {
    std::unique_ptr<QMenu> menu(pane()->buildAddMenu(nullptr));
    QStringList texts;
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? "---" : a->text());
    EXPECT_EQ(texts, (QStringList{"New Terminal", "New Orchestrator Session\tCtrl+Alt+Shift+O", "---",
                                  "New Claude Code Session\tCtrl+Shift+T", "New Codex Session\tCtrl+Alt+Shift+T"}));
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        EXPECT_FALSE(a->icon().isNull()) << a->text().toStdString();
    }

    menu->actions()[4]->trigger();
    ASSERT_EQ(manager()->sessions.size(), 1);
    EXPECT_EQ(manager()->sessions[0]->agent->id(), "codex");
    menu->actions()[1]->trigger();
    ASSERT_EQ(manager()->sessions.size(), 2);
    EXPECT_EQ(manager()->sessions[1]->name, "orchestrator");
    EXPECT_TRUE(manager()->sessions[1]->isOrchestrator);
    EXPECT_EQ(manager()->sessions[1]->agent->id(), "claude");
    menu->actions()[0]->trigger();
    ASSERT_EQ(manager()->sessions.size(), 3);
    EXPECT_EQ(manager()->sessions[2]->name, "terminal");
    EXPECT_EQ(manager()->sessions[2]->agent->id(), "shell");
    EXPECT_EQ(manager()->activeSessionIndex, 2);

    // The orchestrator tab wears the crown.
    const QString title = pane()->sessionTabs()[1]->titleButton()->findChild<QLabel*>()->text();
    EXPECT_TRUE(title.contains("👑")) << title.toStdString();
}

TEST_F(PaneTest, DoubleClickRenamesThroughTheSheet) {
    addQuietSession(manager(), "old", std::nullopt, true);
    addQuietSession(manager(), "other");
    QToolButton* title = pane()->sessionTabs()[0]->titleButton();
    QTest::mouseDClick(title, Qt::LeftButton);
    AlertDialog* sheet = waitForAlert(controller->window(), "alertDialog");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->messageText(), "Rename Session");
    EXPECT_EQ(sheet->informativeText(), "Enter a new name for \"old\":");
    auto* field = sheet->findChild<QLineEdit*>("renameField");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), "old");
    field->setText("  \t ");
    sheet->button(0)->click();
    EXPECT_EQ(manager()->sessions[0]->name, "old");

    pane()->promptRenameSession(0);
    sheet = waitForAlert(controller->window(), "alertDialog");
    ASSERT_TRUE(sheet);
    sheet->findChild<QLineEdit*>("renameField")->setText("  Boss \n");
    sheet->button(0)->click();
    EXPECT_EQ(manager()->sessions[0]->name, "Boss");
    EXPECT_EQ(tabNames(), (QStringList{"Boss", "other"}));

    pane()->promptRenameSession(7);
    QTest::qWait(50);
    EXPECT_FALSE(AlertDialog::shownOn(controller->window()));
}

TEST_F(PaneTest, ZoomStopsAtTheLimitsAndResetReturnsToTheBase) {
    const SessionRef a = addQuietSession(manager(), "a", std::nullopt, true);
    prefs.prefs().setValue(PrefKey::TerminalFontSize, 0.0);
    for (int i = 0; i < 40; ++i) controller->zoomActiveContent(1);
    EXPECT_EQ(manager()->terminalFontDelta, 27);
    EXPECT_EQ(a->terminalView->terminalFont().pixelSize(), 40);
    for (int i = 0; i < 60; ++i) controller->zoomActiveContent(-1);
    EXPECT_EQ(manager()->terminalFontDelta, -5);
    EXPECT_EQ(a->terminalView->terminalFont().pixelSize(), 8);
    // A session made later shares the window's size.
    const SessionRef b = addQuietSession(manager(), "b");
    EXPECT_EQ(b->terminalView->terminalFont().pixelSize(), 8);
    controller->resetActiveContentZoom();
    EXPECT_EQ(manager()->terminalFontDelta, 0);
    EXPECT_EQ(a->terminalView->terminalFont().pixelSize(), 13);
    EXPECT_EQ(b->terminalView->terminalFont().pixelSize(), 13);
}
