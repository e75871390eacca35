#include "sessions/AgentSessionResume.h"

#include "core/Paths.h"
#include "observe/ClaudeTranscripts.h"
#include "observe/CodexRollouts.h"
#include "sessions/AgentProvider.h"

#include <QFileInfo>

AgentSessionResume AgentSessionResume::standard() {
    AgentSessionResume resume;
    resume.claudeProjectsRoot = Paths::home() + QStringLiteral("/.claude/projects");
    resume.codexSessionsRoot = CodexRolloutLocator::sessionsRoot();
    resume.liveSessionProbe = [](const AgentProvider& agent) { return agent.liveSessionIDs(); };
    return resume;
}

QString AgentSessionResume::runningElsewhereBanner(const QString& sessionID) {
    return QStringLiteral("Session ") + sessionID.left(8) + QStringLiteral(" is still running in the background") +
           QStringLiteral(" — pick it below to attach.");
}

AgentSessionResume::LaunchPlan AgentSessionResume::launchPlan(const AgentProvider& agent,
                                                              const std::optional<QString>& sessionID,
                                                              const std::optional<QString>& transcriptPath,
                                                              const QString& workingDirectory) const {
    if (!sessionID || sessionID->isEmpty()) return {};
    const QString& id = *sessionID;

    const QStringList attach = agent.attachArguments();
    std::optional<QSet<QString>> live;
    if (!attach.isEmpty() && liveSessionProbe) live = liveSessionProbe(agent);

    const auto isFile = [](const std::optional<QString>& path) { return path && QFileInfo(*path).isFile(); };
    bool resumable = false;
    const QString agentID = agent.id();
    if (agentID == QLatin1StringView("claude")) {
        if (transcriptPath && ClaudeTranscriptLocator::hasConversationInTranscript(*transcriptPath)) {
            resumable = true;
        } else if (auto found = ClaudeTranscriptLocator::findTranscript(id, workingDirectory, claudeProjectsRoot)) {
            resumable = ClaudeTranscriptLocator::hasConversationInTranscript(*found);
        }
    } else if (agentID == QLatin1StringView("codex")) {
        resumable = isFile(transcriptPath) || CodexRolloutLocator::findRollout(id, codexSessionsRoot).has_value();
    } else {
        resumable = isFile(transcriptPath);
    }

    if (!attach.isEmpty() && live && live->contains(id)) return {attach, runningElsewhereBanner(id)};
    if (resumable) return {agent.resumeArguments(id), std::nullopt};
    return {};
}
