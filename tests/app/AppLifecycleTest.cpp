#include "app/AppDelegate.h"
#include "orchestration/OrchestrationServer.h"
#include "ui/LauncherWindow.h"
#include "ui/Theme.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QStyle>
#include <QProcess>
#include <QTemporaryDir>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

TEST(AppDelegate, StartUpShowsTheLauncherAndReopenFollowsItsRule) {
    TempHome home;
    ScopedMemoryPreferences prefs;
    VRNXAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QPointer<VRNXLauncherWindow> first = delegate.launcher();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), "Varnix");
    EXPECT_EQ(first->size(), QSize(540, 600));
    EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::bg());
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull());

    // The control socket is up once start-up is done, and gone after the quit steps.
    const QString socket = home.path() + "/.config/varnix/orchestrator-" + QString::number(getpid()) + ".sock";
    EXPECT_EQ(OrchestrationServer::shared().socketPath(), socket);
    EXPECT_TRUE(QFileInfo::exists(socket));

    EXPECT_TRUE(delegate.applicationShouldHandleReopen());
    EXPECT_EQ(delegate.launcher(), first.data()) << "a visible launcher is kept";

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(delegate.applicationShouldHandleReopen());
    ASSERT_TRUE(delegate.launcher());
    EXPECT_TRUE(delegate.launcher()->isVisible());
    delegate.launcher()->close();

    delegate.applicationShouldTerminate();
    EXPECT_TRUE(OrchestrationServer::shared().socketPath().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(socket));
}

TEST(Application, QuitsCleanlyOnSigtermAndForwardsASecondLaunch) {
    TempHome home;
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(VARNIX_EXE, {});
    ASSERT_TRUE(app.waitForStarted());
    const QString socket = runtime.path() + "/varnix-" + QString::number(getuid());
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }, 15000));
    const QString control = home.path() + "/.config/varnix/orchestrator-" + QString::number(app.processId()) + ".sock";
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(control); }, 15000));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(VARNIX_EXE, {});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(app.state(), QProcess::Running) << "the first instance keeps running";

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(control)) << "quitting removes the control socket";
}

TEST(Application, APathArgumentOpensTheProjectAndASecondLaunchForwardsItsOwn) {
    TempHome home;
    QTemporaryDir runtime;
    const QString one = home.file("code/one");
    const QString two = home.file("code/two");
    QDir().mkpath(one);
    QDir().mkpath(two);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString recent = home.file(".config/varnix/projects.json");
    auto recentText = [&] {
        QFile f(recent);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };

    QProcess app;
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(home.file("code"));
    app.start(VARNIX_EXE, {"one"});
    ASSERT_TRUE(app.waitForStarted());
    // The project window records its directory among the recent projects as it opens.
    ASSERT_TRUE(waitUntil([&] { return recentText().contains("\"" + one + "\""); }, 20000)) << recentText().toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(VARNIX_EXE, {two});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    ASSERT_TRUE(waitUntil([&] { return recentText().contains("\"" + two + "\""); }, 20000)) << recentText().toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000));
    EXPECT_EQ(app.exitCode(), 0);
}
