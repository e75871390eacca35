#include "app/AppDelegate.h"
#include "app/ProcessEntry.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "bridge/MCPBridge.h"
#include "core/Log.h"
#include "core/Preferences.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <csignal>

namespace {

int runBridgeMode(const QStringList& arguments) {
    MCPBridge::run(arguments);
    return 0;
}

int runApplication(int argc, char** argv) {
    QApplication::setApplicationName(QStringLiteral("Varnix"));
    QApplication::setOrganizationName(QStringLiteral("Varnix"));
    QApplication::setDesktopFileName(QStringLiteral("varnix"));
    QApplication app(argc, argv);
    SystemLog::installQtMessageHandler();

    const ProjectArgument project = projectArgument(cliArgs(), QDir::currentPath());
    if (!project.error.isEmpty()) SystemLog::write(u"Varnix", project.error);

    SingleInstance instance(SingleInstance::defaultSocketPath());
    if (instance.forwardToRunningInstance(project.path)) return 0;

    installDefaultPreferences();

    VRNXAppDelegate delegate;
    delegate.setInitialProject(project.path);
    instance.listen();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    QObject::connect(&instance, &SingleInstance::openRequested, &delegate,
                     [&delegate](const QString& path) { delegate.openProject(path); });

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [](int) { QCoreApplication::quit(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate](QSessionManager&) { delegate.applicationShouldTerminate(); });

    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    app.exec();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    setCliArgs(argc, argv);
    const ModeSelection selection = selectMode(cliArgs());
    if (selection.mode == ProcessMode::Bridge) return runBridgeMode(selection.arguments);
    return runApplication(argc, argv);
}
