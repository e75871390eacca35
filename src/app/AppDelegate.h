#pragma once

#include <QObject>
#include <QPointer>

#include "ui/LauncherWindow.h"

#include "ui/ProjectLauncher.h"

// The application's delegate: start-up and quit order, the project launcher, reopen.
class VRNXAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit VRNXAppDelegate(QObject* parent = nullptr);
    ~VRNXAppDelegate() override;

    void applicationDidFinishLaunching();
    void presentLauncher();
    // Theme and font again on every terminal view; observes VRNXTerminalAppearanceDidChange.
    void applyTerminalAppearance();
    // The application was activated again (a second launch, the tray icon); always true.
    bool applicationShouldHandleReopen();
    // Saves state; never cancels or delays the quit.
    void applicationShouldTerminate();
    void applicationWillTerminate();

    // The launcher's window and its controller, while a launcher is up.
    VRNXLauncherWindow* launcher() const { return launcher_; }
    VRNXProjectLauncher* launcherController() const { return launcherController_; }

signals:
    // The user chose a project directory in the launcher, which has already been dropped; the
    // project window opens it (or brings its existing window forward).
    void projectChosen(const QString& path);

private:
    QPointer<VRNXLauncherWindow> launcher_;
    QPointer<VRNXProjectLauncher> launcherController_;
};
