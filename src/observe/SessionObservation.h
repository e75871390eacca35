#pragma once

#include "sessions/UsageWatching.h"
#include "sessions/SessionState.h"

#include <QString>
#include <optional>

// What a session does with its monitor's states and its watcher's snapshots, kept here so the
// rules live next to what produces them. The session passes references to its own fields.
//
// The wiring, in the order a session is created:
//  - monitor = agent.makeStateMonitor(); monitor->setOnStateChange(cb), where cb(next) holds the
//    session weakly: old = state; state = next; if endsAgentTurn(old, next), agent.refreshLimits();
//    then, queued on the main thread, post VRNXSessionStateDidChange. Monitors call it on the
//    main thread.
//  - every chunk the terminal receives from the child: monitor->feed(bytes), in order;
//    monitor->setScreenProvider(the view's visible screen text, "" once the view is gone).
//  - monitor->start(observationDirectory(worktreePath, projectDir)).
//  - watcher = agent.makeUsageWatcher(that directory, cb) (null for shells), where cb(snapshot)
//    holds the session weakly: if applyUsageSnapshot(fields, snapshot).agentSessionChanged, save
//    the session list 1 s later; then post VRNXSessionUsageDidChange.
//  - closing: watcher->stop(), monitor->stop(), before the child is terminated.

// A state change from generating or thinking to userInput ends an agent turn: the provider's
// limits are refreshed then.
inline bool endsAgentTurn(SessionState from, SessionState to) {
    return to == SessionState::userInput && (from == SessionState::generating || from == SessionState::thinking);
}

// The session's usage fields.
struct SessionUsageFields {
    QString& model;
    qint64& tokensIn;
    qint64& tokensOut;
    std::optional<AgentLimits>& limits;
    std::optional<double>& contextPercent;
    std::optional<QString>& agentSessionID;
    std::optional<QString>& agentTranscriptPath;
};

struct UsageApplyOutcome {
    // A new agent conversation id was taken: the session list should be saved.
    bool agentSessionChanged = false;
};

// Tokens are copied; model, limits and context fill only when present. A new conversation id
// brings its transcript path along (also when that is none); otherwise a present, different
// transcript path replaces the old one.
UsageApplyOutcome applyUsageSnapshot(const SessionUsageFields& session, const UsageSnapshot& snapshot);

// The directory a session's monitor and watcher look at: its worktree, else the project
// directory, else the application's current directory.
QString observationDirectory(const std::optional<QString>& worktreePath, const std::optional<QString>& projectDir);
