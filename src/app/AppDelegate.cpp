#include "app/AppDelegate.h"

#include "app/AppIcon.h"
#include "app/NotificationNames.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "orchestration/OrchestrationServer.h"
#include "sessions/SessionManager.h"
#include "sessions/SessionPersistence.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/LauncherWindow.h"
#include "ui/ProjectLauncher.h"
#include "ui/TerminalAppearance.h"
#include "ui/Theme.h"
#include "ui/WindowController.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QStyleFactory>

static void initResources() { Q_INIT_RESOURCE(resources); }

VRNXAppDelegate::VRNXAppDelegate(QObject* parent) : QObject(parent) {
    // The resources live in a static library; the linker drops their registration unless asked.
    initResources();
    // Quitting from every path (last window, Quit, signals, logout) ends here once.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        applicationShouldTerminate();
        applicationWillTerminate();
    });
    connect(this, &VRNXAppDelegate::projectChosen, this, &VRNXAppDelegate::openProject);
}

VRNXAppDelegate::~VRNXAppDelegate() = default;

void VRNXAppDelegate::applicationDidFinishLaunching() {
    // Dark appearance for the whole application, whatever the desktop's theme.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());

    // Application icon: a file next to the executable wins; the bundled one is the fallback.
    QIcon icon;
    if (auto path = findAppIcon(Paths::executablePath())) {
        QImageReader reader(*path);
        if (reader.canRead()) icon = QIcon(*path);
    }
    if (icon.isNull()) icon = QIcon(QString::fromLatin1(kBundledAppIcon));
    if (!icon.isNull()) QApplication::setWindowIcon(icon);

    QApplication::setQuitOnLastWindowClosed(true);

    OrchestrationServer::shared().start();

    // Every change to a window's sessions is saved to its project's sessions file a second later.
    SessionPersistence::installAutosave();

    NotificationCenter::shared().observe(kTerminalAppearanceDidChange, this,
                                         [this](const Notification&) { applyTerminalAppearance(); });

    if (initialProject_) {
        openProject(*std::exchange(initialProject_, std::nullopt));
        return;
    }
    presentLauncher();
}

void VRNXAppDelegate::presentLauncher() {
    auto* window = new VRNXLauncherWindow;
    auto* controller = new VRNXProjectLauncher(window);
    QPointer<VRNXAppDelegate> self(this);
    controller->onSelect = [self](const QString& path) {
        if (!self) return;
        self->launcher_ = nullptr;
        self->launcherController_ = nullptr;
        emit self->projectChosen(path);
    };
    controller->isProjectOpen = [self](const QString& path) {
        if (!self) return false;
        for (VRNXWindowController* c : self->windowControllers_) {
            if (c->sessionManager()->projectDir == path) return true;
        }
        return false;
    };
    controller->buildUI();
    controller->rebuildList();
    if (launcher_) launcher_->close();
    launcher_ = window;
    launcherController_ = controller;
    window->present();
}

void VRNXAppDelegate::openProject(const QString& path) {
    for (VRNXWindowController* controller : windowControllers_) {
        if (controller->sessionManager()->projectDir == path) {
            VRNXProjectWindow* window = controller->window();
            if (window->isMinimized()) window->showNormal();
            window->raise();
            window->activateWindow();
            return;
        }
    }
    auto* controller = new VRNXWindowController(this);
    adopt(controller);
    windowControllers_.append(controller);
    VRNXProjectWindow* window = controller->window();
    window->show();
    window->raise();
    window->activateWindow();
    controller->openProject(path);
}

void VRNXAppDelegate::adopt(VRNXWindowController* controller) {
    QPointer<VRNXAppDelegate> self(this);
    controller->openProjectHandler = [self](const QString& path) {
        if (self) self->openProject(path);
    };
    controller->onClosed = [self](VRNXWindowController* closed) {
        if (!self) return;
        self->windowControllers_.removeAll(closed);
        closed->deleteLater();
    };
}

void VRNXAppDelegate::applyTerminalAppearance() {
    // Each window at its own zoom: the configured size plus the window's delta.
    for (VRNXWindowController* controller : windowControllers_) {
        SessionManager* manager = controller->sessionManager();
        QList<AgentTerminalView*> views;
        for (const SessionRef& s : manager->sessions) {
            if (s->terminalView) views << s->terminalView.data();
        }
        TerminalAppearance::apply(views, manager->terminalFontDelta);
        // The quick workspace panel re-applies its own shells' look when it arrives.
    }
}

bool VRNXAppDelegate::applicationShouldHandleReopen() {
    if (!windowControllers_.isEmpty()) {
        // Activating the application again brings its last project window forward.
        VRNXWindowController* front = VRNXWindowController::keyController();
        if (!front) front = windowControllers_.last();
        front->window()->raise();
        front->window()->activateWindow();
        return true;
    }
    if (launcher_ && launcher_->isVisible()) {
        launcher_->raise();
        launcher_->activateWindow();
        return true;
    }
    presentLauncher();
    return true;
}

void VRNXAppDelegate::applicationShouldTerminate() {
    OrchestrationServer::shared().stop();
    QList<SessionManager*> managers;
    for (VRNXWindowController* controller : windowControllers_) managers << controller->sessionManager();
    SessionPersistence::shared().saveForQuit(managers);
}

void VRNXAppDelegate::applicationWillTerminate() {}
