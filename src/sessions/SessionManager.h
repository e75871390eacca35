#pragma once

#include "sessions/AgentProvider.h"
#include "sessions/OrchestratorNotify.h"
#include "sessions/Session.h"
#include "sessions/SessionLaunch.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <optional>

class SandboxLauncher;

// The sessions of one project window, in tab order: creates, activates, restarts, renames and
// closes them, and tells the views through the named notifications (with itself as object).
// Main thread only.
class SessionManager : public QObject {
    Q_OBJECT
public:
    explicit SessionManager(QObject* parent = nullptr);
    ~SessionManager() override;

    QList<SessionRef> sessions;
    int activeSessionIndex = -1;  // -1: none
    std::optional<QString> projectDir;
    double terminalFontDelta = 0;  // points added to the configured terminal font size

    // The manager of the key project window; a process-wide empty one when no window made its
    // own current (or that window's manager is gone).
    static SessionManager* current();
    // Null restores the process-wide one.
    static void setCurrent(SessionManager* manager);

    struct CreateOptions {
        std::optional<QString> name;     // none: the next free name
        std::optional<QString> command;  // a complete shell command replacing the built one
        std::optional<QString> worktreePath;
        AgentProviderRef agent;  // null: the registry's default
        std::optional<QString> initialPrompt;
        QStringList launchArgs;
        std::optional<QString> launchBanner;
        bool orchestrator = false;
        std::optional<QString> sandboxRepoRoot;
        bool activate = true;
        std::optional<QUuid> id;  // none: a new one
    };
    // Never fails: problems are logged and the session exists anyway.
    SessionRef createSession(const CreateOptions& options);
    // Out-of-range indexes are ignored.
    void closeSession(int index);
    // Closes the session and appends a fresh one like it (same name, worktree, agent and
    // orchestrator flag; a new id), active. Unknown ids are ignored.
    void restartSession(const QUuid& id);
    void renameSession(const QUuid& id, const QString& name);
    SessionRef activeSession() const;
    SessionRef session(const QUuid& id) const;
    int indexOf(const QUuid& id) const;

    // Types the notice of a worker's event into its parent orchestrator's terminal.
    void notifyOrchestrator(const SessionRef& session, const OrchestratorNotify::Event& event);

    // VRNXSessionListDidChange, VRNXSessionsDidChange, then an autosave request.
    void postListChanged();
    // Asks session persistence to save this manager soon.
    void requestAutosave();

    static QString resolveShellPath(const SessionLaunch::Environment& parentEnv);
    static SessionLaunch::Environment childEnvironment(const SessionLaunch::Environment& parentEnv,
                                                       const QString& shell);
    static QString tmuxSessionName(const QString& directory);

    static constexpr int kShellRestartDelayMs = 300;

    // ---- Hooks for the services that plug in around sessions; each returns the previous one.

    // Session persistence: saves a manager 1 s after the last request. None installed: nothing.
    using AutosaveHandler = std::function<void(SessionManager&)>;
    static AutosaveHandler setAutosaveHandler(AutosaveHandler handler);

    // The orchestrator launch configuration: the crown arguments for an orchestrator session's
    // id, none when the control socket is not ready.
    using CrownArguments = std::function<std::optional<QStringList>(const QUuid& sessionID)>;
    static CrownArguments setCrownArguments(CrownArguments provider);

    // The confinement launcher of worktree sessions (null: the platform's).
    static const SandboxLauncher* setSandboxLauncher(const SandboxLauncher* launcher);
};
