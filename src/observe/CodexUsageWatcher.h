#pragma once

#include "observe/LimitsSubscription.h"

#include "observe/CodexRollouts.h"
#include "observe/JSONLTailer.h"
#include "sessions/UsageWatching.h"

#include <QString>
#include <QUuid>
#include <memory>
#include <optional>

class AgentLimitsService;

// Finds the rollout of a Codex session started now in a working directory and follows it for
// token totals, the model and the context fill, adds the plan limits, and delivers UsageSnapshots
// on the main thread until stopped. It stays with the first rollout found.
class CodexUsageWatcher final : public UsageWatching {
public:
    struct Options {
        CodexRolloutResolver::Options resolver;
        JSONLTailer::Options tailer;
    };

    // `limitsService` may be null (no limits). Starts at once.
    CodexUsageWatcher(const QString& workingDirectory, std::shared_ptr<AgentLimitsService> limitsService,
                      Update onUpdate);
    CodexUsageWatcher(const QString& workingDirectory, std::shared_ptr<AgentLimitsService> limitsService,
                      Update onUpdate, Options options);
    ~CodexUsageWatcher() override;

    void stop() override;

    static inline const QString kQueueLabel = QStringLiteral("com.varnix.codex-usage-watcher");

    struct Core;

private:
    std::shared_ptr<Core> core_;
    LimitsSubscription limits_;
};
