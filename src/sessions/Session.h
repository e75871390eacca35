#pragma once

#include "limits/AgentLimits.h"
#include "sessions/AgentProvider.h"
#include "sessions/SessionState.h"
#include "sessions/UsageWatching.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <memory>
#include <optional>

class AgentStateMonitor;
class AgentTerminalView;
class SessionManager;

// One terminal tab of a project window: an agent or a plain shell running on a pseudo-terminal
// in its terminal view, with the monitor that judges its state and the watcher that follows its
// usage. Sessions are shared (identity matters) and live on the main thread; a SessionManager
// makes them and keeps them in tab order.
class Session : public QObject, public std::enable_shared_from_this<Session> {
    Q_OBJECT
public:
    Session(const QUuid& id, const QString& name, const std::optional<QString>& worktreePath,
            AgentProviderRef agent);
    ~Session() override;

    QUuid id;
    QString name;
    SessionState state = SessionState::idle;
    QString model;
    qint64 tokensIn = 0;
    qint64 tokensOut = 0;
    std::optional<AgentLimits> limits;
    std::optional<double> contextPercent;  // share of the context window in use, 0-100
    std::optional<QString> worktreePath;
    std::optional<QString> branch;
    std::optional<qint32> exitCode;
    std::optional<QString> agentSessionID;       // the agent's own conversation id
    std::optional<QString> agentTranscriptPath;  // its transcript or rollout file
    bool isOrchestrator = false;
    std::optional<QUuid> parentOrchestratorId;
    AgentProviderRef agent;
    QPointer<AgentTerminalView> terminalView;
    QPointer<SessionManager> manager;
    std::shared_ptr<AgentStateMonitor> stateMonitor;  // never null once created by the manager
    std::shared_ptr<UsageWatching> usageWatcher;      // none for shells

    // Types `text` into the child. With `submit`, a lone carriage return follows 0.3 s later:
    // agents take Enter pressed together with the text as a line break inside the prompt.
    // Nothing happens once the session has exited or has no terminal.
    void sendText(const QString& text, bool submit);
    // Switches the agent to one of its provider's selectable models.
    void switchModel(const QString& model);
    // Looks up the checked-out branch in the background and stores it when it changed.
    void resolveBranch();
    // Makes and keeps the provider's usage watcher for `directory` (replacing one it had).
    void startUsageWatcher(const QString& directory);
    // Posts `notificationName` for this session, then VRNXSessionsDidChange.
    void postChange(const char* notificationName);

    // How the child was started: the restart of a plain shell tab runs exactly this again.
    struct Launch {
        QString executable;
        QStringList arguments;
        QStringList environment;  // "NAME=value"
    };
    const Launch& launch() const { return launch_; }

    static constexpr int kSubmitDelayMs = 300;

private:
    friend class SessionManager;

    // A state the monitor reported, from any thread.
    static void monitorReported(const std::weak_ptr<Session>& weak, SessionState next);
    void applyUsage(const UsageSnapshot& snapshot);
    // The child of an agent tab ended.
    void processExited(std::optional<int> code);

    Launch launch_;
};

using SessionRef = std::shared_ptr<Session>;
