#pragma once

#include "observe/LimitsSubscription.h"

#include "observe/JSONLTailer.h"
#include "sessions/UsageWatching.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class AgentLimitsService;

// Follows the Claude Code transcript of a working directory: the newest transcript written
// since shortly before the watcher was made, switching when a newer one appears. Folds its
// assistant records into token totals and the model, adds the plan limits, and delivers
// UsageSnapshots on the main thread until stopped.
class SessionJSONLWatcher final : public UsageWatching {
public:
    struct Options {
        int resolveIntervalMs = 3000;
        JSONLTailer::Options tailer;
        std::optional<QString> projectsRoot;  // ~/.claude/projects when none
    };

    // `limitsService` may be null (no limits). Starts at once.
    SessionJSONLWatcher(const QString& workingDirectory, std::shared_ptr<AgentLimitsService> limitsService,
                        Update onUpdate);
    SessionJSONLWatcher(const QString& workingDirectory, std::shared_ptr<AgentLimitsService> limitsService,
                        Update onUpdate, Options options);
    ~SessionJSONLWatcher() override;

    void stop() override;

    static inline const QString kQueueLabel = QStringLiteral("com.varnix.jsonl-watcher");
    // Transcripts last written more than this before the watcher was made are not considered.
    static constexpr int kStartWindowSeconds = 10;

    struct Core;

private:
    std::shared_ptr<Core> core_;
    LimitsSubscription limits_;
};
