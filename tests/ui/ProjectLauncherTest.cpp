#include "app/AppDelegate.h"
#include "ui/LauncherWindow.h"
#include "ui/ProjectLauncher.h"
#include "ui/ProjectManager.h"
#include "ui/ViewHelpers.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"alpha", "beta", "gamma"}) ASSERT_TRUE(QDir().mkpath(home.file(QString("code/") + name)));
        store = std::make_unique<ProjectManager>(home.file(".config/varnix/projects.json"));
        store->projects = {{path("alpha"), true}, {path("beta"), true}, {path("gamma"), true}};
        ASSERT_TRUE(store->save());
    }
    void TearDown() override {
        if (window) window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QString path(const QString& name) const { return home.file("code/" + name); }

    VRNXProjectLauncher* makeLauncher() {
        window = new VRNXLauncherWindow;
        auto* launcher = new VRNXProjectLauncher(window, store.get());
        launcher->onSelect = [this](const QString& p) { selected << p; };
        launcher->buildUI();
        launcher->rebuildList();
        window->show();
        return launcher;
    }

    TempHome home;
    std::unique_ptr<ProjectManager> store;
    QPointer<VRNXLauncherWindow> window;
    QStringList selected;
};

TEST_F(LauncherTest, ListsTheRecentProjectsInOrder) {
    VRNXProjectLauncher* launcher = makeLauncher();
    const QList<LauncherRow*> rows = launcher->rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->name(), "alpha");
    EXPECT_EQ(rows[2]->path(), path("gamma"));
    EXPECT_EQ(rows[1]->pathLabel()->text(), "~/code/beta") << "the home directory is written as ~";
    EXPECT_EQ(rows[0]->height(), 52);
    EXPECT_EQ(rows[0]->width(), launcher->listStack()->width()) << "rows are as wide as the list";
    EXPECT_EQ(launcher->listStack()->spacing(), 4);
    EXPECT_EQ(launcher->listStack()->findChild<QLabel*>("launcherEmpty"), nullptr);
    for (LauncherRow* row : rows) EXPECT_FALSE(row->openLabel()->isVisible());
    EXPECT_EQ(window->findChild<QLabel*>("launcherTitle")->text(), "Varnix");
    EXPECT_EQ(window->findChild<QLabel*>("launcherSubtitle")->text(), "Choose a project to open");
    EXPECT_EQ(window->findChild<QLabel*>("launcherSection")->text(), "RECENT PROJECTS");
    auto* open = window->findChild<AccentButton*>("openProjectButton");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->text(), "Open Project…");
    EXPECT_EQ(open->geometry(), QRect(24, 600 - 24 - 40, 540 - 48, 40));
}

TEST_F(LauncherTest, AnEmptyListSaysSo) {
    store->projects.clear();
    VRNXProjectLauncher* launcher = makeLauncher();
    EXPECT_TRUE(launcher->rows().isEmpty());
    auto* empty = launcher->listStack()->findChild<QLabel*>("launcherEmpty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text(), "No recent projects — open one to get started.");
}

TEST_F(LauncherTest, OpenProjectsAreMarkedAndLongPathsShortenInTheMiddle) {
    const QString deep = home.file("work/clients/acme/a-very-long-directory-name-for-the-monorepo-of-this-client/app");
    ASSERT_TRUE(QDir().mkpath(deep));
    store->projects.prepend({deep, true});
    VRNXProjectLauncher* launcher = new VRNXProjectLauncher(window = new VRNXLauncherWindow, store.get());
    launcher->isProjectOpen = [&](const QString& p) { return p == deep || p == path("beta"); };
    launcher->buildUI();
    launcher->rebuildList();
    window->show();

    const QList<LauncherRow*> rows = launcher->rows();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_TRUE(rows[0]->openLabel()->isVisible());
    EXPECT_EQ(rows[0]->openLabel()->text(), "open");
    EXPECT_FALSE(rows[1]->openLabel()->isVisible());
    EXPECT_TRUE(rows[2]->openLabel()->isVisible());

    LauncherRow* row = rows[0];
    const QString shown = row->pathLabel()->text();
    EXPECT_TRUE(shown.startsWith("~/work/")) << qPrintable(shown);
    EXPECT_TRUE(shown.endsWith("/app")) << qPrintable(shown);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << qPrintable(shown);
    // The marker and the remove button stay inside the row, in their places.
    const QRect remove = row->removeButton()->geometry();
    EXPECT_EQ(remove.right(), row->width() - 12 - 1);
    EXPECT_EQ(remove.size(), QSize(16, 16));
    EXPECT_EQ(row->openLabel()->geometry().right() + 1, remove.left() - 8);
    EXPECT_LE(row->pathLabel()->geometry().right() + 1, row->openLabel()->geometry().left() - 8);
}

TEST_F(LauncherTest, RemovingARowRewritesTheFileAtOnce) {
    VRNXProjectLauncher* launcher = makeLauncher();
    LauncherRow* beta = launcher->rows()[1];
    store->projects.append({path("beta"), false});  // a second copy goes too
    EXPECT_EQ(beta->removeButton()->accessibleName(), "Remove");
    QTest::mouseClick(beta->removeButton(), Qt::LeftButton);

    EXPECT_TRUE(selected.isEmpty()) << "the remove button does not open the project";
    const QList<Project> remaining = {{path("alpha"), true}, {path("gamma"), true}};
    EXPECT_EQ(store->projects, remaining);
    EXPECT_EQ(ProjectManager::load(store->filePath()), remaining);
    EXPECT_FALSE(readAll(store->filePath()).contains("beta"));
    ASSERT_EQ(launcher->rows().size(), 2);
    EXPECT_EQ(launcher->rows()[1]->name(), "gamma");
}

TEST_F(LauncherTest, ClickingARowSelectsItAndClosesTheLauncher) {
    VRNXProjectLauncher* launcher = makeLauncher();
    LauncherRow* gamma = launcher->rows()[2];
    QTest::mouseClick(gamma, Qt::LeftButton, {}, QPoint(100, 20));
    EXPECT_EQ(selected, QStringList{path("gamma")});
    EXPECT_FALSE(window && window->isVisible());
}

TEST_F(LauncherTest, HoverHighlightsARow) {
    VRNXProjectLauncher* launcher = makeLauncher();
    LauncherRow* row = launcher->rows()[0];
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(row, &enter);
    EXPECT_TRUE(row->isHovered());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(row, &leave);
    EXPECT_FALSE(row->isHovered());
}

TEST_F(LauncherTest, OpenProjectAsksForADirectoryOnTheLauncherWindow) {
    VRNXProjectLauncher* launcher = makeLauncher();
    QTest::mouseClick(window->findChild<AccentButton*>("openProjectButton"), Qt::LeftButton);
    QPointer<QFileDialog> chooser = window->findChild<QFileDialog*>("openProjectChooser");
    ASSERT_TRUE(chooser);
    EXPECT_EQ(chooser->windowTitle(), "Open Project");
    EXPECT_EQ(chooser->findChild<QLabel*>("chooserMessage")->text(), "Choose a project directory");
    EXPECT_EQ(chooser->windowModality(), Qt::WindowModal);
    EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_FALSE(chooser->testOption(QFileDialog::ReadOnly)) << "creating folders is allowed";
    EXPECT_EQ(QDir(chooser->directory()).canonicalPath(), QDir(home.path()).canonicalPath());

    chooser->reject();
    EXPECT_TRUE(selected.isEmpty());
    EXPECT_TRUE(window->isVisible()) << "cancelling changes nothing";

    launcher->openNewClicked();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    chooser = nullptr;
    for (QFileDialog* d : window->findChildren<QFileDialog*>()) {
        if (d->isVisible()) chooser = d;
    }
    ASSERT_TRUE(chooser);
    chooser->setDirectory(home.file("code"));
    chooser->selectFile(path("beta"));
    static_cast<QDialog*>(chooser.data())->accept();
    EXPECT_EQ(selected, QStringList{path("beta")});
    EXPECT_FALSE(window && window->isVisible());
}

TEST_F(LauncherTest, AccentButtonRunsItsActionWhileItsTargetLives) {
    auto target = std::make_unique<QObject>();
    int runs = 0;
    AccentButton button("Go", target.get(), [&runs] { ++runs; });
    button.resize(120, 40);
    EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    target.reset();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
}

TEST(LauncherDelegate, TheDelegateDropsTheLauncherAndReportsTheChoice) {
    TempHome home;
    ASSERT_TRUE(QDir().mkpath(home.file("code/site")));
    ASSERT_TRUE(writeTextFile(home.file(".config/varnix/projects.json"),
                              QStringLiteral(R"([{"path":"%1","isExpanded":true}])").arg(home.file("code/site")).toUtf8()));
    ProjectManager::resetShared();

    VRNXAppDelegate delegate;
    QSignalSpy chosen(&delegate, &VRNXAppDelegate::projectChosen);
    delegate.presentLauncher();
    ASSERT_TRUE(delegate.launcherController());
    QPointer<VRNXLauncherWindow> window = delegate.launcher();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(540, 600));
    const QList<LauncherRow*> rows = delegate.launcherController()->rows();
    ASSERT_EQ(rows.size(), 1);

    QTest::mouseClick(rows[0], Qt::LeftButton, {}, QPoint(60, 20));
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toString(), home.file("code/site"));
    EXPECT_EQ(delegate.launcher(), nullptr);
    EXPECT_EQ(delegate.launcherController(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window) << "the launcher window closed";
    ProjectManager::resetShared();
}

}  // namespace
