#include "app/AppDelegate.h"

#include "app/AppIcon.h"
#include "app/NotificationNames.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "orchestration/OrchestrationServer.h"
#include "sessions/SessionPersistence.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/LauncherWindow.h"
#include "ui/ProjectLauncher.h"
#include "ui/TerminalAppearance.h"
#include "ui/Theme.h"

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
    controller->buildUI();
    controller->rebuildList();
    if (launcher_) launcher_->close();
    launcher_ = window;
    launcherController_ = controller;
    window->present();
}

void VRNXAppDelegate::applyTerminalAppearance() {
    // Until project windows keep their own list, every terminal view of every top-level
    // window is reached through the widget tree, at the window's base size (zoom delta 0).
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QList<AgentTerminalView*> views = window->findChildren<AgentTerminalView*>();
        if (auto* view = qobject_cast<AgentTerminalView*>(window)) views.prepend(view);
        if (!views.isEmpty()) TerminalAppearance::apply(views, 0);
    }
}

bool VRNXAppDelegate::applicationShouldHandleReopen() {
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
}

void VRNXAppDelegate::applicationWillTerminate() {}
