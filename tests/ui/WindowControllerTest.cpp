// The project window: layout, sidebar width, toggles, opening a project, the worktree sheets,
// closing, the window list and the shortcut filter.
#include "app/AppDelegate.h"
#include "git/WorktreeManager.h"
#include "sessions/SessionPersistence.h"
#include "ui/ProjectQuickStart.h"
#include "ui/ShortcutManager.h"
#include "ui/Theme.h"

#include "WindowTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <signal.h>

namespace {

class WindowTest : public WindowTestBase, public ::testing::Test {};

QRect inWindow(QWidget* w) { return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()); }

QColor background(QWidget* w) { return w->palette().color(QPalette::Window); }

void sendMouse(QWidget* target, QEvent::Type type, int windowX) {
    const QPoint windowPos(windowX, 100);
    const QPoint local = target->mapFrom(target->window(), windowPos);
    QMouseEvent event(type, QPointF(local), QPointF(windowPos), QPointF(target->mapToGlobal(local)),
                      Qt::LeftButton, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

bool processGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "Z";
}

}  // namespace

TEST_F(WindowTest, LayoutHasTheColumnsStatusBarAndControlsInPlace) {
    VRNXWindowController c;
    VRNXProjectWindow* w = c.window();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    EXPECT_EQ(w->size(), QSize(1400, 860));
    EXPECT_EQ(w->minimumSize(), QSize(800, 400));
    EXPECT_EQ(w->windowTitle(), "Varnix");
    EXPECT_EQ(background(w), Theme::bg());

    const QRect sidebar = inWindow(c.sidebar());
    const QRect pane = inWindow(c.terminalPane());
    const QRect right = inWindow(c.rightColumn());
    const QRect status = inWindow(c.statusBar());
    EXPECT_EQ(sidebar, QRect(0, 0, 220, 860 - 28));
    // One point of window background between the columns.
    EXPECT_EQ(pane.left(), sidebar.right() + 2);
    EXPECT_EQ(right.left(), pane.right() + 2);
    EXPECT_EQ(right.width(), 300);
    EXPECT_EQ(right.right(), 1399);
    EXPECT_EQ(status, QRect(0, 860 - 28, 1400, 28));
    for (QWidget* area : {c.sidebar(), static_cast<QWidget*>(c.rightColumn())}) {
        EXPECT_EQ(background(area), Theme::surface1()) << area->objectName().toStdString();
    }
    const QImage bar = c.statusBar()->grab().toImage();
    EXPECT_EQ(bar.pixelColor(10, 0), Theme::surface3());
    EXPECT_EQ(bar.pixelColor(10, 10), Theme::surface1());
    EXPECT_EQ(background(c.terminalPane()), Theme::bg());

    // The file tree's pane sits inset in the right column.
    EXPECT_EQ(inWindow(c.rightColumn()->fileTreePane()).topLeft(), right.topLeft() + QPoint(12, 36));

    // Overlays wait hidden; the review panel keeps its margins.
    for (QWidget* overlay : {c.dashboard(), c.onboarding(), c.quickWorkspace(), c.diffReview()}) {
        EXPECT_TRUE(overlay->isHidden()) << overlay->objectName().toStdString();
    }
    EXPECT_EQ(c.dashboard()->geometry(), w->rect());
    EXPECT_EQ(c.diffReview()->geometry(), QRect(24, 40, 1400 - 48, 860 - 28 - 16 - 40));

    // The handle straddles the sidebar's edge; the title strip and the panel button sit on top.
    EXPECT_EQ(c.resizeHandle()->geometry(), QRect(220 - 3, 0, 6, 860 - 28));
    EXPECT_EQ(c.resizeHandle()->cursor().shape(), Qt::SplitHCursor);
    EXPECT_EQ(c.titleStrip()->geometry().topLeft(), QPoint(8, 0));
    EXPECT_EQ(c.titleStrip()->height(), 28);
    EXPECT_EQ(c.sidebarButton()->size(), QSize(16, 16));
    EXPECT_EQ(c.sidebarButton()->accessibleName(), "Toggle Sidebar");
    EXPECT_EQ(c.sidebarButton()->toolTip(), "Show/hide the left sidebar (Ctrl+Shift+\\)");
    EXPECT_EQ(c.rightColumnButton()->geometry(), QRect(1400 - 12 - 16, 6, 16, 16));
    EXPECT_EQ(c.rightColumnButton()->accessibleName(), "Toggle Panel");
    EXPECT_EQ(c.rightColumnButton()->toolTip(), "Show/hide the right panel");

    // No project, no session: the quick start with the placeholder title.
    VRNXTerminalPane* p = c.terminalPane();
    ASSERT_TRUE(p->quickStart());
    EXPECT_TRUE(p->quickStart()->isVisible());
    EXPECT_EQ(p->quickStart()->titleLabel()->text(), "PROJECT");
    EXPECT_EQ(inWindow(p->tabBar()).height(), 30);
}

TEST_F(WindowTest, StoredSidebarWidthIsClampedAndOnlyANumberCounts) {
    struct Case {
        QVariant stored;
        double expected;
    };
    const QList<Case> cases{{QVariant(), 220}, {100.0, 160}, {900.0, 500}, {310.0, 310},
                            {QStringLiteral("300"), 220}, {true, 220}};
    for (const Case& c : cases) {
        MemoryPreferences store;
        if (c.stored.isValid()) store.setValue(PrefKey::SidebarWidth, c.stored);
        EXPECT_EQ(VRNXWindowController::storedSidebarWidth(store), c.expected) << c.stored.toString().toStdString();
    }
    prefs.prefs().setValue(PrefKey::SidebarWidth, 100.0);
    VRNXWindowController c;
    EXPECT_EQ(c.sidebar()->width(), 160);
}

TEST_F(WindowTest, DraggingTheHandleKeepsTheWidthInRangeAndStoresEveryStep) {
    VRNXWindowController c;
    c.window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(c.window()));
    VRNXSidebarResizeHandle* handle = c.resizeHandle();

    auto stored = [&] { return prefs.prefs().doubleValue(PrefKey::SidebarWidth, -1); };
    sendMouse(handle, QEvent::MouseButtonPress, 220);
    sendMouse(handle, QEvent::MouseMove, 260);
    EXPECT_EQ(c.sidebarWidth(), 260);
    EXPECT_EQ(stored(), 260);
    EXPECT_EQ(c.resizeHandle()->geometry().center().x(), 260 - 1);
    // Far to the right stops at 500, far to the left at 160; the stored value follows.
    sendMouse(handle, QEvent::MouseMove, 1100);
    EXPECT_EQ(c.sidebarWidth(), 500);
    EXPECT_EQ(stored(), 500);
    EXPECT_EQ(c.sidebar()->width(), 500);
    sendMouse(handle, QEvent::MouseMove, 10);
    EXPECT_EQ(c.sidebarWidth(), 160);
    EXPECT_EQ(stored(), 160);
    sendMouse(handle, QEvent::MouseButtonRelease, 10);
    // Without a press a move does nothing.
    sendMouse(handle, QEvent::MouseMove, 400);
    EXPECT_EQ(c.sidebarWidth(), 160);
}

TEST_F(WindowTest, TogglesHideTheColumnsAndMoveTheTabInsets) {
    VRNXWindowController c;
    c.window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(c.window()));
    VRNXTerminalPane* pane = c.terminalPane();
    EXPECT_EQ(pane->tabStackLeading(), 4);
    EXPECT_EQ(pane->addButtonTrailing(), 8);

    c.sidebarButton()->click();
    EXPECT_TRUE(c.isSidebarHidden());
    EXPECT_FALSE(c.resizeHandle()->isVisible());
    // The tabs start clear of the title strip, which now lies over the tab bar.
    EXPECT_EQ(pane->tabStackLeading(), c.hiddenSidebarTabInset());
    EXPECT_GT(pane->tabStackLeading(), c.titleStrip()->geometry().right());
    EXPECT_EQ(inWindow(pane).left(), 0);
    c.toggleSidebar();
    EXPECT_FALSE(c.isSidebarHidden());
    EXPECT_EQ(pane->tabStackLeading(), 4);

    c.rightColumnButton()->click();
    EXPECT_TRUE(c.isRightColumnCollapsed());
    EXPECT_EQ(c.rightColumnWidth(), 0);
    EXPECT_FALSE(c.rightColumn()->isVisible());
    EXPECT_EQ(pane->addButtonTrailing(), 34);
    EXPECT_EQ(inWindow(pane).right(), 1399);
    // The add button stays clear of the panel button, which now sits over the tab bar.
    EXPECT_LT(pane->addButton()->mapTo(c.window(), QPoint(pane->addButton()->width(), 0)).x(),
              c.rightColumnButton()->x());
    c.toggleRightColumn();
    EXPECT_EQ(c.rightColumnWidth(), 300);
    EXPECT_EQ(pane->addButtonTrailing(), 8);
}

TEST_F(WindowTest, OpeningAProjectTitlesTheWindowAndRecordsIt) {
    EXPECT_EQ(VRNXWindowController::windowTitle("/home/u/code/proj"), "Varnix — proj");
    EXPECT_EQ(VRNXWindowController::windowTitle("/home/u/code/proj/"), "Varnix — proj");

    const QString dir = makeDir("code/proj");
    const QString other = makeDir("code/other");
    ProjectManager::shared().projects = {{other, true}, {dir, false}, {dir, true}};
    VRNXWindowController c;
    c.window()->show();
    c.openProject(dir);
    EXPECT_EQ(c.window()->windowTitle(), "Varnix — proj");
    EXPECT_EQ(c.sessionManager()->projectDir, dir);
    EXPECT_EQ(SessionManager::current(), c.sessionManager());
    EXPECT_EQ(ProjectManager::shared().projects, (QList<Project>{{dir, true}, {other, true}}));
    EXPECT_EQ(ProjectManager::load(ProjectManager::defaultFilePath()), ProjectManager::shared().projects);

    // Once the window is up: the list-changed notice, the quick start named after the folder.
    ASSERT_TRUE(waitUntil([&] { return c.terminalPane()->quickStart()->titleLabel()->text() == "PROJ"; }));
}

TEST_F(WindowTest, OnboardingIsClaimedOnceAndOnlyWithoutSessions) {
    MemoryPreferences store;
    EXPECT_FALSE(VRNXWindowController::claimOnboarding(store, true));
    EXPECT_FALSE(store.contains(PrefKey::OnboardingHasShown));
    EXPECT_TRUE(VRNXWindowController::claimOnboarding(store, false));
    EXPECT_EQ(store.boolValue(PrefKey::OnboardingHasShown), true);
    EXPECT_FALSE(VRNXWindowController::claimOnboarding(store, false));

    // A window whose onboarding view is in place shows it for the first empty project only.
    auto open = [&](const QString& dir) {
        auto c = std::make_unique<VRNXWindowController>();
        new QWidget(c->onboarding());
        c->window()->show();
        c->openProject(dir);
        QTest::qWait(50);
        waitUntil([&] { return c->terminalPane()->quickStart()->titleLabel()->text() != "PROJECT"; });
        return c;
    };
    auto first = open(makeDir("one"));
    EXPECT_TRUE(first->onboarding()->isVisible());
    EXPECT_EQ(first->onboarding()->property("continueTitle").toString(), "Continue");
    auto second = open(makeDir("two"));
    EXPECT_FALSE(second->onboarding()->isVisible());
}

TEST_F(WindowTest, WorktreeSheetOutsideARepositoryShowsTheError) {
    VRNXWindowController c;
    c.window()->show();
    c.openProject(makeDir("plain"));
    c.promptNewWorktreeSession();
    AlertDialog* sheet = waitForAlert(c.window(), "newWorktreeSheet");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->messageText(), "New Session with Worktree");
    EXPECT_EQ(sheet->informativeText(), "Enter a branch name for the new worktree:");
    EXPECT_EQ(sheet->button(0)->text(), "Create");
    EXPECT_EQ(sheet->button(1)->text(), "Cancel");
    EXPECT_TRUE(sheet->button(0)->isDefault());
    auto* field = sheet->findChild<QLineEdit*>("worktreeNameField");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->placeholderText(), "feature-name");
    EXPECT_EQ(field->size(), QSize(200, 24));
    field->setText("  feature-x \n");
    sheet->button(0)->click();

    AlertDialog* error = waitForAlert(c.window(), "worktreeErrorAlert");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->messageText(), "Worktree Error");
    EXPECT_EQ(error->informativeText(), "This project isn't inside a git repository.");
    EXPECT_TRUE(c.sessionManager()->sessions.isEmpty());
    error->button(0)->click();
}

TEST_F(WindowTest, WorktreeSheetCreatesTheSessionOrReportsGitsError) {
    VRNXWindowController c;
    c.window()->show();
    // A repository without a commit has no branch to start the worktree from.
    const QString empty = makeRepo("empty-repo", false);
    c.openProject(empty);
    c.promptNewWorktreeSession();
    AlertDialog* sheet = waitForAlert(c.window(), "newWorktreeSheet");
    ASSERT_TRUE(sheet);
    sheet->findChild<QLineEdit*>()->setText("feature-x");
    sheet->button(0)->click();
    AlertDialog* error = waitForAlert(c.window(), "worktreeErrorAlert");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->informativeText().isEmpty());
    EXPECT_NE(error->informativeText(), "This project isn't inside a git repository.");
    error->button(0)->click();
    EXPECT_TRUE(c.sessionManager()->sessions.isEmpty());

    // Blank text does nothing at all.
    c.promptNewWorktreeSession();
    sheet = waitForAlert(c.window(), "newWorktreeSheet");
    ASSERT_TRUE(sheet);
    sheet->findChild<QLineEdit*>()->setText("  \n");
    sheet->button(0)->click();
    QTest::qWait(300);
    EXPECT_FALSE(AlertDialog::shownOn(c.window()));

    VRNXWindowController d;
    d.window()->show();
    const QString repo = makeRepo("repo");
    d.openProject(repo);
    d.promptNewWorktreeSession();
    sheet = waitForAlert(d.window(), "newWorktreeSheet");
    ASSERT_TRUE(sheet);
    sheet->findChild<QLineEdit*>()->setText("feature-x");
    sheet->button(0)->click();
    ASSERT_TRUE(waitUntil([&] { return d.sessionManager()->sessions.size() == 1; }, kWindowWaitMs));
    const SessionRef s = d.sessionManager()->sessions.first();
    EXPECT_EQ(s->name, "feature-x");
    EXPECT_EQ(s->worktreePath, repo + "/.varnix/worktrees/feature-x");
    EXPECT_EQ(s->agent->id(), "claude");
    EXPECT_EQ(d.sessionManager()->activeSessionIndex, 0);
    EXPECT_TRUE(QFileInfo(repo + "/.varnix/worktrees/feature-x").isDir());
}

TEST_F(WindowTest, TaskSheetDerivesTheBranchAndStartsTheChosenAgent) {
    VRNXWindowController c;
    c.window()->show();
    const QString repo = makeRepo("repo");
    c.openProject(repo);

    auto openSheet = [&] {
        c.promptNewTaskSession();
        return waitForAlert(c.window(), "newTaskSheet");
    };
    AlertDialog* sheet = openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->messageText(), "New Task in Worktree");
    EXPECT_EQ(sheet->informativeText(), "Describe the task. A worktree is created and an agent starts on it.");
    auto* task = sheet->findChild<QPlainTextEdit*>("taskBox");
    auto* branch = sheet->findChild<QLineEdit*>("taskBranchField");
    auto* agent = sheet->findChild<QComboBox*>("taskAgentPopup");
    ASSERT_TRUE(task && branch && agent);
    EXPECT_EQ(task->size(), QSize(340, 72));
    EXPECT_EQ(branch->placeholderText(), "auto from task");
    EXPECT_EQ(agent->count(), 2);
    EXPECT_EQ(agent->itemText(0), "Claude");
    EXPECT_EQ(agent->itemText(1), "Codex");
    EXPECT_EQ(agent->currentIndex(), 0);
    // The task box has the keyboard focus when the sheet opens.
    EXPECT_EQ(sheet->focusWidget(), task);

    // An empty task creates nothing, whatever the branch field holds.
    branch->setText("named-branch");
    task->setPlainText("  \n ");
    sheet->button(0)->click();
    QTest::qWait(300);
    EXPECT_TRUE(c.sessionManager()->sessions.isEmpty());
    EXPECT_FALSE(AlertDialog::shownOn(c.window()));

    // No branch given: one is derived from the task; the second agent item starts Codex.
    sheet = openSheet();
    ASSERT_TRUE(sheet);
    const QString text = "Fix the login page redirect loop";
    sheet->findChild<QPlainTextEdit*>("taskBox")->setPlainText(text + "\n");
    sheet->findChild<QComboBox*>("taskAgentPopup")->setCurrentIndex(1);
    sheet->button(0)->click();
    ASSERT_TRUE(waitUntil([&] { return c.sessionManager()->sessions.size() == 1; }, kWindowWaitMs));
    const QString derived = WorktreeManager::branchNameFromTask(text);
    SessionRef s = c.sessionManager()->sessions.first();
    EXPECT_EQ(s->name, derived);
    EXPECT_EQ(s->worktreePath, repo + "/.varnix/worktrees/" + derived);
    EXPECT_EQ(s->agent->id(), "codex");

    // A branch given by hand goes through the sanitiser.
    sheet = openSheet();
    ASSERT_TRUE(sheet);
    sheet->findChild<QPlainTextEdit*>("taskBox")->setPlainText("Write docs");
    sheet->findChild<QLineEdit*>("taskBranchField")->setText("  Docs Pass ");
    sheet->button(0)->click();
    ASSERT_TRUE(waitUntil([&] { return c.sessionManager()->sessions.size() == 2; }, kWindowWaitMs));
    s = c.sessionManager()->sessions.last();
    EXPECT_EQ(s->name, WorktreeManager::safeBranchName("Docs Pass"));
    EXPECT_EQ(s->agent->id(), "claude");
}

TEST_F(WindowTest, ClosingTheWindowEndsChildrenWithoutTheirExitHandling) {
    auto* c = new VRNXWindowController;
    QPointer<VRNXWindowController> guard(c);
    c->window()->show();
    c->openProject(makeDir("proj"));
    SessionManager* m = c->sessionManager();
    const SessionRef a = addQuietSession(m, "a", std::nullopt, true);
    const SessionRef b = addQuietSession(m, "b");
    QList<qint64> pids;
    for (const SessionRef& s : {a, b}) {
        ASSERT_TRUE(waitUntil([&] { return s->terminalView && s->terminalView->currentScreenText().contains("QUIET READY"); },
                              kWindowWaitMs));
        pids << s->terminalView->surface()->processId();
        EXPECT_GT(pids.last(), 0);
    }
    int exitHandlerRuns = 0;
    for (const SessionRef& s : {a, b}) {
        auto original = s->terminalView->onProcessTerminated;
        s->terminalView->onProcessTerminated = [&exitHandlerRuns, original](std::optional<int> code) {
            ++exitHandlerRuns;
            if (original) original(code);
        };
    }
    bool closedSeen = false;
    c->onClosed = [&](VRNXWindowController*) { closedSeen = true; };

    c->window()->close();
    EXPECT_TRUE(closedSeen);
    for (qint64 pid : pids) EXPECT_TRUE(waitUntil([&] { return processGone(pid); }, kWindowWaitMs)) << pid;
    QTest::qWait(200);
    EXPECT_EQ(exitHandlerRuns, 0);
    EXPECT_NE(a->state, SessionState::exited);
    EXPECT_NE(b->state, SessionState::exited);
    delete guard.data();
}

TEST_F(WindowTest, ClosingSavesTheSessionsAndOpeningTheProjectAgainRestoresThem) {
    const QString dir = makeDir("proj");
    const QString file = SessionPersistence::shared().sessionsFilePath(dir);
    {
        VRNXWindowController c;
        c.window()->show();
        c.openProject(dir);
        SessionManager::CreateOptions o;
        o.name = "Yaga";
        c.sessionManager()->createSession(o);
        c.window()->close();
        EXPECT_TRUE(QFileInfo::exists(file)) << file.toStdString();
    }
    VRNXWindowController again;
    again.window()->show();
    again.openProject(dir);
    ASSERT_TRUE(waitUntil([&] { return again.sessionManager()->sessions.size() == 1; }, kWindowWaitMs));
    EXPECT_EQ(again.sessionManager()->sessions[0]->name, "Yaga");
    EXPECT_EQ(again.sessionManager()->sessions[0]->agent->id(), "claude");
    EXPECT_FALSE(again.terminalPane()->quickStart() && again.terminalPane()->quickStart()->isVisible());

    // Another project's window finds nothing to restore and shows the quick start.
    VRNXWindowController other;
    other.window()->show();
    other.openProject(makeDir("other"));
    QTest::qWait(100);
    EXPECT_TRUE(waitUntil([&] { return other.terminalPane()->quickStart()->titleLabel()->text() == "OTHER"; }));
    EXPECT_TRUE(other.sessionManager()->sessions.isEmpty());
}

TEST_F(WindowTest, TheWindowListKeepsOneWindowPerDirectory) {
    const QString one = makeDir("one");
    const QString two = makeDir("two");
    VRNXAppDelegate delegate;
    delegate.openProject(one);
    ASSERT_EQ(delegate.windowControllers().size(), 1);
    VRNXWindowController* first = delegate.windowControllers().first();
    EXPECT_TRUE(first->window()->isVisible());
    EXPECT_EQ(first->sessionManager()->projectDir, one);

    delegate.openProject(one);
    EXPECT_EQ(delegate.windowControllers().size(), 1);
    delegate.openProject(two);
    ASSERT_EQ(delegate.windowControllers().size(), 2);

    // A window asking to open a directory goes through the same list.
    delegate.windowControllers().last()->openProjectHandler(one);
    EXPECT_EQ(delegate.windowControllers().size(), 2);

    // Reopening with windows open shows no launcher.
    EXPECT_TRUE(delegate.applicationShouldHandleReopen());
    EXPECT_FALSE(delegate.launcher());

    // The launcher marks open projects and choosing one focuses its window.
    delegate.presentLauncher();
    ASSERT_TRUE(delegate.launcherController());
    ASSERT_TRUE(delegate.launcherController()->isProjectOpen);
    EXPECT_TRUE(delegate.launcherController()->isProjectOpen(one));
    EXPECT_FALSE(delegate.launcherController()->isProjectOpen(makeDir("three")));
    delegate.launcherController()->onSelect(two);
    EXPECT_EQ(delegate.windowControllers().size(), 2);

    QPointer<VRNXWindowController> closing(first);
    first->window()->close();
    EXPECT_EQ(delegate.windowControllers().size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(closing);
    delegate.openProject(one);
    EXPECT_EQ(delegate.windowControllers().size(), 2);
}

TEST_F(WindowTest, ShortcutsActOnTheActiveProjectWindowBeforeTheTerminal) {
    VRNXWindowController c;
    c.window()->show();
    c.openProject(makeDir("proj"));
    QApplication::setActiveWindow(c.window());
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == c.window(); }));
    ASSERT_TRUE(ShortcutManager::shared().isInstalled());
    SessionManager* m = c.sessionManager();
    const SessionRef first = addQuietSession(m, "first", std::nullopt, true);
    ASSERT_TRUE(waitUntil([&] { return first->terminalView && first->terminalView->isVisible(); }));

    // A key filter on the terminal sees only what reaches it.
    struct KeyCounter : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() != QEvent::KeyPress) return false;
            // The modifier keys' own presses are the terminal's to see.
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt) ++presses;
            return false;
        }
    } counter;
    first->terminalView->installEventFilter(&counter);
    first->terminalView->setFocus();

    // Ctrl+Shift+T: a new session for the default agent; the terminal never sees the key.
    QTest::keyClick(first->terminalView, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(m->sessions.size(), 2);
    EXPECT_EQ(m->sessions.last()->agent->id(), "claude");
    EXPECT_EQ(m->activeSessionIndex, 1);
    EXPECT_EQ(counter.presses, 0);

    // Alt+1 switches; Alt+9 with two tabs changes nothing but is still consumed.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(m->activeSessionIndex, 0);
    first->terminalView->setFocus();
    QTest::keyClick(first->terminalView, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(m->activeSessionIndex, 0);
    EXPECT_EQ(counter.presses, 0);

    // Zoom: Ctrl+Shift+= grows the window's terminal font by one point.
    QTest::keyClick(first->terminalView, Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m->terminalFontDelta, 1);
    QTest::keyClick(first->terminalView, Qt::Key_0, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(m->terminalFontDelta, 0);

    // Plain Ctrl+letter chords belong to the terminal.
    QTest::keyClick(first->terminalView, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(counter.presses, 1);
    EXPECT_EQ(m->sessions.size(), 2);
    // Ctrl+Shift+W closes the active tab.
    QTest::keyClick(first->terminalView, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m->sessions.size(), 1);

    // With another window active the keys are not the application's.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; }));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, "T");
    EXPECT_FALSE(ShortcutManager::shared().handleKeyDown(&press));
    EXPECT_EQ(m->sessions.size(), 1);
}
