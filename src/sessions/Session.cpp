#include "sessions/Session.h"

#include "app/NotificationNames.h"
#include "core/MainThread.h"
#include "core/NotificationCenter.h"
#include "git/WorktreeManager.h"
#include "observe/SessionObservation.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/SessionLaunch.h"
#include "sessions/SessionManager.h"
#include "sessions/terminal/AgentTerminalView.h"

#include <QThreadPool>
#include <QTimer>

Session::Session(const QUuid& id, const QString& name, const std::optional<QString>& worktreePath,
                 AgentProviderRef agent)
    : id(id), name(name), worktreePath(worktreePath), agent(std::move(agent)) {}

Session::~Session() {
    if (usageWatcher) usageWatcher->stop();
    if (stateMonitor) stateMonitor->stop();
    if (terminalView) {
        // The view may still be inside a window's layout, or be running the callback that
        // dropped this session: let it go at the next turn of the event loop.
        terminalView->onPtyData = nullptr;
        terminalView->onProcessTerminated = nullptr;
        terminalView->deleteLater();
    }
}

void Session::sendText(const QString& text, bool submit) {
    if (state == SessionState::exited || !terminalView) return;
    terminalView->sendText(text);
    if (!submit) return;
    QPointer<AgentTerminalView> view = terminalView;
    QTimer::singleShot(kSubmitDelayMs, view.data(), [view] {
        if (view) view->sendBytes("\r");
    });
}

void Session::switchModel(const QString& newModel) {
    if (state == SessionState::exited || !agent || !agent->selectableModels().contains(newModel)) return;
    sendText(QStringLiteral("/model ") + newModel, true);
    model = newModel;
    postChange(kSessionUsageDidChange);
}

void Session::resolveBranch() {
    const auto directory =
        SessionLaunch::sessionDirectory(worktreePath, manager ? manager->projectDir : std::nullopt);
    if (!directory) return;
    QPointer<Session> self(this);
    Pools::utility()->start([self, dir = *directory] {
        const std::optional<QString> found = WorktreeManager::shared().detectDefaultBranch(dir);
        runOnMain([self, found] {
            if (!self || !found || found->isEmpty() || self->branch == found) return;
            self->branch = found;
            self->postChange(kSessionListDidChange);
        });
    });
}

void Session::startUsageWatcher(const QString& directory) {
    if (usageWatcher) usageWatcher->stop();
    usageWatcher.reset();
    if (!agent) return;
    std::weak_ptr<Session> weak = weak_from_this();
    usageWatcher = agent->makeUsageWatcher(directory, [weak](const UsageSnapshot& snapshot) {
        // Watchers deliver on the main thread; a stray delivery elsewhere is moved there.
        if (!isMainThread()) {
            runOnMain([weak, snapshot] {
                if (auto self = weak.lock()) self->applyUsage(snapshot);
            });
            return;
        }
        if (auto self = weak.lock()) self->applyUsage(snapshot);
    });
}

void Session::postChange(const char* notificationName) {
    NotificationCenter& center = NotificationCenter::shared();
    center.post(notificationName, manager.data(),
                {{QString::fromLatin1(kSessionIDKey), QVariant::fromValue(id)}});
    center.post(kSessionsDidChange, manager.data());
}

void Session::monitorReported(const std::weak_ptr<Session>& weak, SessionState next) {
    // The session lives on the main thread; a monitor on its own queue reports through it.
    if (!isMainThread()) {
        runOnMain([weak, next] { monitorReported(weak, next); });
        return;
    }
    const SessionRef self = weak.lock();
    if (!self) return;
    // The child has ended: a late judgement of its last output (an idle timeout, a pending
    // frame) must not make the session look alive again.
    if (self->state == SessionState::exited) return;
    const SessionState old = self->state;
    self->state = next;
    if (endsAgentTurn(old, next) && self->agent) self->agent->refreshLimits();
    QMetaObject::invokeMethod(
        self.get(),
        [weak] {
            if (auto s = weak.lock()) s->postChange(kSessionStateDidChange);
        },
        Qt::QueuedConnection);
}

void Session::applyUsage(const UsageSnapshot& snapshot) {
    const UsageApplyOutcome outcome = applyUsageSnapshot(
        {model, tokensIn, tokensOut, limits, contextPercent, agentSessionID, agentTranscriptPath}, snapshot);
    if (outcome.agentSessionChanged && manager) manager->requestAutosave();
    postChange(kSessionUsageDidChange);
}

void Session::processExited(std::optional<int> code) {
    exitCode = code;
    state = SessionState::exited;
    postChange(kSessionStateDidChange);
    if (SessionManager* m = manager.data()) {
        m->notifyOrchestrator(shared_from_this(), OrchestratorNotify::Event::exited(code));
        m->requestAutosave();
    }
}
