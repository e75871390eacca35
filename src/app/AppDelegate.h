#pragma once

#include <QObject>
#include <QPointer>

#include "ui/LauncherWindow.h"

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

    VRNXLauncherWindow* launcher() const { return launcher_; }

private:
    QPointer<VRNXLauncherWindow> launcher_;
};
