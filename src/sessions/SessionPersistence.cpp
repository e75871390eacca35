#include "sessions/SessionPersistence.h"

#include "core/Log.h"
#include "core/Paths.h"
#include "core/Text.h"
#include "sessions/AgentProvider.h"
#include "sessions/Session.h"
#include "sessions/SessionManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QUuid>

SessionPersistence& SessionPersistence::shared() {
    static SessionPersistence* instance = [] {
        auto* p = new SessionPersistence;
        // Its autosave timers run on the main thread, whoever asked first.
        if (QCoreApplication* app = QCoreApplication::instance()) p->moveToThread(app->thread());
        return p;
    }();
    return *instance;
}

void SessionPersistence::installAutosave() {
    SessionManager::setAutosaveHandler([](SessionManager& manager) { shared().autosave(manager, kAutosaveDelay); });
}

SessionPersistence::SessionPersistence(std::optional<QString> configDir, QObject* parent)
    : QObject(parent), configDir_(std::move(configDir)) {}

SessionPersistence::~SessionPersistence() = default;

QString SessionPersistence::configDir() const { return configDir_.value_or(Paths::configDir()); }

QString SessionPersistence::sessionsFilePath(const QString& projectDir) const {
    return SessionsFile::path(configDir(), projectDir);
}

void SessionPersistence::setSessionResume(std::optional<AgentSessionResume> resume) {
    sessionResume_ = std::move(resume);
}

QList<SavedSession> SessionPersistence::records(const SessionManager& manager) {
    QList<SavedSession> list;
    for (const SessionRef& s : manager.sessions) {
        if (!s || !s->agent || s->agent->id() == QLatin1StringView("shell")) continue;
        SavedSession saved;
        saved.name = s->name;
        saved.worktreePath = s->worktreePath;
        saved.agentType = s->agent->id();
        saved.isOrchestrator = s->isOrchestrator;
        saved.agentSessionID = s->agentSessionID;
        saved.transcriptPath = s->agentTranscriptPath;
        saved.exited = s->state == SessionState::exited;
        saved.tabID = uuidText(s->id);
        list.append(saved);
    }
    return list;
}

void SessionPersistence::write(const QString& projectDir, const QList<SavedSession>& records) {
    const QString path = sessionsFilePath(projectDir);
    if (!SessionsFile{projectDir, records}.write(path)) {
        SystemLog::write(u"SessionPersistence", QStringLiteral("could not write %1").arg(path));
        return;
    }
    emit sessionsWritten(projectDir);
}

void SessionPersistence::saveSessions(SessionManager& manager) {
    const QList<SavedSession> list = records(manager);
    if (list.isEmpty()) return;
    write(manager.projectDir.value_or(QDir::currentPath()), list);
}

void SessionPersistence::autosave(SessionManager& manager, double delaySeconds) {
    if (!manager.projectDir) return;
    const QString projectDir = *manager.projectDir;
    if (QTimer* pending = autosaveTimers_.take(projectDir)) delete pending;

    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    // Coarse timers may fire up to 5% early; the write waits the whole delay.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(int(delaySeconds * 1000));
    const QPointer<SessionManager> weakManager(&manager);
    connect(timer, &QTimer::timeout, this,
            [this, timer, weakManager, projectDir] { autosaveFired(timer, weakManager, projectDir); });
    autosaveTimers_.insert(projectDir, timer);
    timer->start();
}

void SessionPersistence::autosaveFired(QTimer* timer, const QPointer<SessionManager>& manager,
                                       const QString& projectDir) {
    if (autosaveTimers_.value(projectDir) == timer) autosaveTimers_.remove(projectDir);
    timer->deleteLater();
    if (!manager) return;
    const QList<SavedSession> list = records(*manager);
    if (list.isEmpty()) clearSavedSessions(projectDir);
    else write(projectDir, list);
}

bool SessionPersistence::autosavePending(const QString& projectDir) const {
    return !autosaveTimers_.value(projectDir).isNull();
}

bool SessionPersistence::hasSessionsToRestore(const QString& projectDir) const {
    const auto file = SessionsFile::load(sessionsFilePath(projectDir));
    return file && file->projectDir == projectDir && !file->sessions.isEmpty();
}

void SessionPersistence::restoreSessions(const QString& projectDir, SessionManager& manager) {
    const auto file = SessionsFile::load(sessionsFilePath(projectDir));
    if (!file || file->projectDir != projectDir || file->sessions.isEmpty()) return;
    const AgentSessionResume resume = sessionResume_.value_or(AgentSessionResume::standard());

    QSet<QUuid> idsInUse;
    for (const SessionRef& s : manager.sessions) idsInUse.insert(s->id);

    for (const SavedSession& saved : file->sessions) {
        // A worktree that is gone takes its conversation with it: start fresh in the project.
        std::optional<QString> worktree;
        bool worktreeGone = false;
        if (saved.worktreePath) {
            if (QFileInfo(*saved.worktreePath).isDir()) worktree = saved.worktreePath;
            else worktreeGone = true;
        }
        const AgentProviderRef agent =
            AgentRegistry::provider(saved.agentType.value_or(AgentRegistry::defaultProvider()->id()));
        const AgentSessionResume::LaunchPlan plan =
            (worktreeGone || saved.exited)
                ? AgentSessionResume::LaunchPlan{}
                : resume.launchPlan(*agent, saved.agentSessionID, saved.transcriptPath, worktree.value_or(projectDir));

        // Tab ids name sessions to the orchestration tools: never two alike in one window.
        QUuid id = saved.tabID ? QUuid::fromString(*saved.tabID) : QUuid();
        if (id.isNull() || idsInUse.contains(id)) id = QUuid::createUuid();
        idsInUse.insert(id);

        SessionManager::CreateOptions options;
        options.name = saved.name;
        options.worktreePath = worktree.value_or(projectDir);
        options.agent = agent;
        options.launchArgs = plan.args;
        options.launchBanner = plan.banner;
        options.orchestrator = saved.isOrchestrator;
        options.activate = true;
        options.id = id;
        const SessionRef session = manager.createSession(options);
        // A resumed (or attached) session goes on with the same conversation: keep its id, so the
        // save that follows does not forget it before the agent writes to its transcript again.
        if (!plan.args.isEmpty()) {
            session->agentSessionID = saved.agentSessionID;
            session->agentTranscriptPath = saved.transcriptPath;
        }
    }
}

void SessionPersistence::clearSavedSessions(const QString& projectDir) {
    const QString path = sessionsFilePath(projectDir);
    const auto file = SessionsFile::load(path);
    if (!file || file->projectDir != projectDir) return;
    QFile::remove(path);
}

void SessionPersistence::saveForQuit(const QList<SessionManager*>& managers) {
    for (SessionManager* manager : managers) {
        if (!manager) continue;
        saveSessions(*manager);
        for (qsizetype i = manager->sessions.size() - 1; i >= 0; --i) {
            const SessionRef& s = manager->sessions.at(i);
            if (s && s->usageWatcher) s->usageWatcher->stop();
        }
    }
}
