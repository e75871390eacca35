#include "sessions/AgentProvider.h"

#include "limits/ClaudeLimitsService.h"
#include "limits/CodexLimitsService.h"
#include "observe/CodexUsageWatcher.h"
#include "observe/SessionJSONLWatcher.h"
#include "observe/StateMonitors.h"
#include "sessions/AgentBinaryResolver.h"
#include "sessions/AgentStateMonitor.h"
#include "sessions/ClaudeLiveSessionProbe.h"
#include "ui/Theme.h"

QColor ClaudeProvider::accentColor() const { return Theme::accent(); }

QString ClaudeProvider::resolveLaunchCommand(const QString& augmentedPath) const {
    return AgentBinaryResolver::resolveCommand(id_, QStringLiteral("claude"), augmentedPath,
                                               {ClaudeLiveSessionProbe::localInstallPath()});
}

QStringList ClaudeProvider::resumeArguments(const QString& sessionID) const {
    return {QStringLiteral("--resume"), sessionID};
}

std::optional<QSet<QString>> ClaudeProvider::liveSessionIDs() const {
    return ClaudeLiveSessionProbe::liveSessionIDs(kLiveProbeTimeout);
}

QStringList ClaudeProvider::attachArguments() const { return {QStringLiteral("agents")}; }

std::shared_ptr<AgentStateMonitor> ClaudeProvider::makeStateMonitor() const {
    return std::make_shared<ClaudeStateMonitor>();
}

std::shared_ptr<UsageWatching> ClaudeProvider::makeUsageWatcher(const QString& workingDirectory,
                                                                UsageWatching::Update onUpdate) const {
    return std::make_shared<SessionJSONLWatcher>(workingDirectory, ClaudeLimitsService::shared(), std::move(onUpdate));
}

void ClaudeProvider::refreshLimits() const { ClaudeLimitsService::shared()->refreshNow(); }

QColor CodexProvider::accentColor() const { return Theme::green(); }

QString CodexProvider::resolveLaunchCommand(const QString& augmentedPath) const {
    return AgentBinaryResolver::resolveCommand(id_, QStringLiteral("codex"), augmentedPath, {});
}

QStringList CodexProvider::resumeArguments(const QString& sessionID) const {
    return {QStringLiteral("resume"), sessionID};
}

std::shared_ptr<AgentStateMonitor> CodexProvider::makeStateMonitor() const {
    return std::make_shared<CodexStateMonitor>();
}

std::shared_ptr<UsageWatching> CodexProvider::makeUsageWatcher(const QString& workingDirectory,
                                                               UsageWatching::Update onUpdate) const {
    return std::make_shared<CodexUsageWatcher>(workingDirectory, CodexLimitsService::shared(), std::move(onUpdate));
}

void CodexProvider::refreshLimits() const { CodexLimitsService::shared()->refreshNow(); }

QColor ShellProvider::accentColor() const { return Theme::cyan(); }

std::shared_ptr<AgentStateMonitor> ShellProvider::makeStateMonitor() const {
    return std::make_shared<NullStateMonitor>();
}

const QList<AgentProviderRef>& AgentRegistry::all() {
    static const QList<AgentProviderRef> providers{std::make_shared<ClaudeProvider>(),
                                                   std::make_shared<CodexProvider>()};
    return providers;
}

AgentProviderRef AgentRegistry::defaultProvider() {
    static const AgentProviderRef claude = std::make_shared<ClaudeProvider>();
    return claude;
}

AgentProviderRef AgentRegistry::provider(const QString& id) {
    for (const AgentProviderRef& p : all())
        if (p->id() == id) return p;
    return defaultProvider();
}
