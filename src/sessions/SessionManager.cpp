#include "sessions/SessionManager.h"

#include "app/AppSettings.h"
#include "app/NotificationNames.h"
#include "core/Log.h"
#include "core/NotificationCenter.h"
#include "core/Text.h"
#include "observe/SessionObservation.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/SandboxLauncher.h"
#include "sessions/SessionNamer.h"
#include "sessions/terminal/AgentTerminalView.h"
#include "ui/TerminalAppearance.h"
#include "ui/TerminalThemes.h"
#include "ui/Theme.h"

#include <QSet>
#include <QTimer>
#include <utility>

namespace {

QPointer<SessionManager>& currentManager() {
    static QPointer<SessionManager> manager;
    return manager;
}

SessionManager::AutosaveHandler& autosaveHandler() {
    static SessionManager::AutosaveHandler handler;
    return handler;
}

SessionManager::CrownArguments& crownArguments() {
    static SessionManager::CrownArguments provider;
    return provider;
}

const SandboxLauncher*& sandboxLauncher() {
    static const SandboxLauncher* launcher = nullptr;
    return launcher;
}

// The terminal look of a new view: the current theme and the terminal font at `size` points.
void applyTerminalAppearance(AgentTerminalView& view, double size) {
    TerminalAppearance::apply(&view, TerminalThemes::current(), Theme::terminalFont(size));
}

// A plain terminal tab restarts its shell only while it is shown somewhere.
bool inWindow(const QWidget* view) { return view && view->window() != view; }

}  // namespace

SessionManager::SessionManager(QObject* parent) : QObject(parent) {}

SessionManager::~SessionManager() {
    // The window is going away with its tabs: no exit handling for children ended by that.
    for (const SessionRef& s : sessions) {
        if (s->terminalView) s->terminalView->onProcessTerminated = nullptr;
        s->manager = nullptr;
    }
}

SessionManager* SessionManager::current() {
    if (SessionManager* m = currentManager().data()) return m;
    static SessionManager* const fallback = new SessionManager;  // process-wide, never destroyed
    return fallback;
}

void SessionManager::setCurrent(SessionManager* manager) { currentManager() = manager; }

SessionManager::AutosaveHandler SessionManager::setAutosaveHandler(AutosaveHandler handler) {
    return std::exchange(autosaveHandler(), std::move(handler));
}

SessionManager::CrownArguments SessionManager::setCrownArguments(CrownArguments provider) {
    return std::exchange(crownArguments(), std::move(provider));
}

const SandboxLauncher* SessionManager::setSandboxLauncher(const SandboxLauncher* launcher) {
    return std::exchange(sandboxLauncher(), launcher);
}

QString SessionManager::resolveShellPath(const SessionLaunch::Environment& parentEnv) {
    return SessionLaunch::resolveShellPath(parentEnv);
}

SessionLaunch::Environment SessionManager::childEnvironment(const SessionLaunch::Environment& parentEnv,
                                                            const QString& shell) {
    return SessionLaunch::childEnvironment(parentEnv, shell);
}

QString SessionManager::tmuxSessionName(const QString& directory) {
    return SessionLaunch::tmuxSessionName(directory);
}

SessionRef SessionManager::createSession(const CreateOptions& o) {
    const AgentProviderRef agent = o.agent ? o.agent : AgentRegistry::defaultProvider();

    // Name and identity
    QString name;
    if (o.name) {
        name = *o.name;
    } else {
        QSet<QString> taken;
        for (const SessionRef& s : sessions) taken.insert(s->name);
        name = SessionNamer::next(taken, int(sessions.size()) + 1, AppSettings::prioritySessionNames());
    }
    const auto session = std::make_shared<Session>(o.id.value_or(QUuid::createUuid()), name, o.worktreePath, agent);
    const std::weak_ptr<Session> weak = session;

    session->stateMonitor = agent->makeStateMonitor();
    if (!session->stateMonitor) session->stateMonitor = std::make_shared<NullStateMonitor>();
    session->stateMonitor->setOnStateChange([weak](SessionState next) { Session::monitorReported(weak, next); });
    session->manager = this;

    QStringList launchArgs = o.launchArgs;
    if (o.orchestrator) {
        session->isOrchestrator = true;
        // Seam: the orchestrator launch configuration installs the crown arguments provider;
        // without one the orchestrator starts as a plain agent.
        if (!o.launchBanner && crownArguments()) {
            if (const auto crown = crownArguments()(session->id)) {
                launchArgs << *crown;
            } else {
                SystemLog::write(u"Orchestration",
                                 QStringLiteral("control socket not ready \u2014 launching plain agent (no crown)"));
            }
        }
    }

    // The terminal view
    auto* view = new AgentTerminalView;
    view->resize(800, 600);
    applyTerminalAppearance(*view, TerminalAppearance::fontSize(terminalFontDelta));
    view->inputTraceLabel = (o.orchestrator ? QStringLiteral("\U0001F451 ") : QString()) + name;
    session->terminalView = view;

    view->onPtyData = [weak](QByteArrayView bytes) {
        if (const SessionRef s = weak.lock()) s->stateMonitor->feed(bytes);
    };
    session->stateMonitor->setScreenProvider([v = QPointer<AgentTerminalView>(view)] {
        return v ? v->currentScreenText() : QString();
    });

    // Environment, command text and arguments
    const SessionLaunch::Environment parentEnv = SessionLaunch::currentEnvironment();
    const QString shell = resolveShellPath(parentEnv);
    SessionLaunch::Environment env = childEnvironment(parentEnv, shell);
    SessionLaunch::addSessionVariables(env, {session->id, name, agent->id(), o.worktreePath, o.orchestrator});
    const QString launchCommand = agent->resolveLaunchCommand(env.value(QStringLiteral("PATH")));

    const std::optional<QString> directory = SessionLaunch::sessionDirectory(o.worktreePath, projectDir);
    const std::optional<QString> text = SessionLaunch::commandText(
        {o.command, agent->id(), directory, launchCommand, launchArgs, o.initialPrompt, o.launchBanner, shell});
    QString executable = shell;
    QStringList arguments = SessionLaunch::shellArguments(text);

    if (o.sandboxRepoRoot && o.worktreePath) {
        const SandboxProfile::Command confined = Sandbox::confine(
            *o.worktreePath, *o.sandboxRepoRoot, parentEnv.value(QStringLiteral("HOME")), executable, arguments,
            sandboxLauncher() ? sandboxLauncher() : SandboxLauncher::platformDefault());
        executable = confined.executable;
        arguments = confined.args;
    }
    session->launch_ = {executable, arguments, SessionLaunch::environmentList(env)};

    // Exit handling
    if (agent->id() == QLatin1String("shell")) {
        if (!view->hasKeyMonitor()) view->installKeyMonitor();
        view->onProcessTerminated = [weak, v = QPointer<AgentTerminalView>(view)](std::optional<int>) {
            if (!inWindow(v)) return;
            QTimer::singleShot(kShellRestartDelayMs, v.data(), [weak, v] {
                const SessionRef s = weak.lock();
                if (!s || !inWindow(v)) return;
                const Session::Launch& l = s->launch();
                if (!v->startProcess(l.executable, l.arguments, l.environment))
                    SystemLog::write(u"SessionManager", QStringLiteral("could not restart the shell of %1: %2")
                                                            .arg(s->name, v->surface()->errorString()));
            });
        };
    } else {
        view->onProcessTerminated = [weak](std::optional<int> code) {
            const SessionRef s = weak.lock();
            if (!s) return;
            QMetaObject::invokeMethod(
                s.get(),
                [weak, code] {
                    if (const SessionRef alive = weak.lock()) alive->processExited(code);
                },
                Qt::QueuedConnection);
        };
    }

    // Start the child
    if (!view->startProcess(executable, arguments, session->launch_.environment)) {
        SystemLog::write(u"SessionManager", QStringLiteral("could not start %1 for %2: %3")
                                                .arg(executable, name, view->surface()->errorString()));
        // An agent that never ran has ended, rather than sitting idle forever.
        if (view->onProcessTerminated && agent->id() != QLatin1String("shell")) view->onProcessTerminated(std::nullopt);
    }

    // Observation
    const QString observed = observationDirectory(o.worktreePath, projectDir);
    session->stateMonitor->start(observed);
    session->startUsageWatcher(observed);

    sessions.append(session);
    session->resolveBranch();

    const bool activates = o.activate || activeSessionIndex < 0;
    activeSessionIndex = SessionIndexes::activeIndexAfterCreate(o.activate, activeSessionIndex, int(sessions.size()));
    postListChanged();
    if (activates) NotificationCenter::shared().post(kActiveSessionDidChange, this);
    return session;
}

void SessionManager::closeSession(int index) {
    if (index < 0 || index >= sessions.size()) return;
    const SessionRef s = sessions.at(index);
    if (s->usageWatcher) s->usageWatcher->stop();
    s->stateMonitor->stop();
    if (s->terminalView) {
        s->terminalView->onProcessTerminated = nullptr;
        s->terminalView->terminate();
    }
    sessions.removeAt(index);
    s->manager = nullptr;
    activeSessionIndex = SessionIndexes::activeIndexAfterClose(activeSessionIndex, index, int(sessions.size()));
    postListChanged();
    NotificationCenter::shared().post(kActiveSessionDidChange, this);
}

void SessionManager::restartSession(const QUuid& id) {
    const int index = indexOf(id);
    if (index < 0) return;
    const SessionRef old = sessions.at(index);
    CreateOptions o;
    o.name = old->name;
    o.worktreePath = old->worktreePath;
    o.agent = old->agent;
    o.orchestrator = old->isOrchestrator;
    o.activate = true;
    closeSession(index);
    createSession(o);
}

void SessionManager::renameSession(const QUuid& id, const QString& name) {
    const SessionRef s = session(id);
    if (!s) return;
    s->name = name;
    if (s->terminalView)
        s->terminalView->inputTraceLabel = (s->isOrchestrator ? QStringLiteral("\U0001F451 ") : QString()) + name;
    postListChanged();
}

SessionRef SessionManager::activeSession() const {
    if (activeSessionIndex < 0 || activeSessionIndex >= sessions.size()) return nullptr;
    return sessions.at(activeSessionIndex);
}

SessionRef SessionManager::session(const QUuid& id) const {
    const int index = indexOf(id);
    return index < 0 ? nullptr : sessions.at(index);
}

int SessionManager::indexOf(const QUuid& id) const {
    for (qsizetype i = 0; i < sessions.size(); ++i)
        if (sessions.at(i)->id == id) return int(i);
    return -1;
}

void SessionManager::notifyOrchestrator(const SessionRef& s, const OrchestratorNotify::Event& event) {
    if (!s || !AppSettings::orchestratorAutoNotify()) return;
    const std::optional<QString> text =
        OrchestratorNotify::message(event, s->parentOrchestratorId.has_value(), s->name, uuidText(s->id));
    if (!text) return;
    if (s->parentOrchestratorId) {
        const SessionRef crown = session(*s->parentOrchestratorId);
        if (crown && crown->isOrchestrator && crown->state != SessionState::exited) {
            OrchTrace::log(QStringLiteral("notify crown %1: %2").arg(crown->name, *text));
            crown->sendText(*text, true);
            return;
        }
    }
    OrchTrace::log(QStringLiteral("crown lookup failed for child %1 (%2)").arg(s->name, event.description()));
}

void SessionManager::postListChanged() {
    NotificationCenter::shared().post(kSessionListDidChange, this);
    NotificationCenter::shared().post(kSessionsDidChange, this);
    requestAutosave();
}

void SessionManager::requestAutosave() {
    // Session persistence installs the handler and saves 1 s after the last request.
    if (autosaveHandler()) autosaveHandler()(*this);
}
