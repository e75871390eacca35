#include "observe/SessionObservation.h"

#include <QDir>

UsageApplyOutcome applyUsageSnapshot(const SessionUsageFields& session, const UsageSnapshot& snapshot) {
    UsageApplyOutcome outcome;
    session.tokensIn = snapshot.tokensIn;
    session.tokensOut = snapshot.tokensOut;
    if (snapshot.model) session.model = *snapshot.model;
    if (snapshot.limits) session.limits = snapshot.limits;
    if (snapshot.contextPercent) session.contextPercent = snapshot.contextPercent;
    if (snapshot.sessionID && snapshot.sessionID != session.agentSessionID) {
        session.agentSessionID = snapshot.sessionID;
        session.agentTranscriptPath = snapshot.transcriptPath;
        outcome.agentSessionChanged = true;
    } else if (snapshot.transcriptPath && snapshot.transcriptPath != session.agentTranscriptPath) {
        session.agentTranscriptPath = snapshot.transcriptPath;
    }
    return outcome;
}

QString observationDirectory(const std::optional<QString>& worktreePath, const std::optional<QString>& projectDir) {
    if (worktreePath) return *worktreePath;
    if (projectDir) return *projectDir;
    return QDir::currentPath();
}
