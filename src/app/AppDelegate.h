#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <optional>

#include "ui/LauncherWindow.h"

#include "ui/ProjectLauncher.h"

class VRNXWindowController;

// The application's delegate: start-up and quit order, the project launcher, reopen.
class VRNXAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit VRNXAppDelegate(QObject* parent = nullptr);
    ~VRNXAppDelegate() override;

    void applicationDidFinishLaunching();
    void presentLauncher();
    // Focuses the window that shows `path`, or opens one for it.
    void openProject(const QString& path);
    // The open project windows, in opening order; at most one per project directory.
    const QList<VRNXWindowController*>& windowControllers() const { return windowControllers_; }
    // A project to open at start-up in place of the launcher (`varnix PATH`).
    void setInitialProject(const std::optional<QString>& path) { initialProject_ = path; }
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
    // Installs the window's handlers on a new controller: open-project and removal on close.
    void adopt(VRNXWindowController* controller);

    QList<VRNXWindowController*> windowControllers_;
    std::optional<QString> initialProject_;
    QPointer<VRNXLauncherWindow> launcher_;
    QPointer<VRNXProjectLauncher> launcherController_;
};
