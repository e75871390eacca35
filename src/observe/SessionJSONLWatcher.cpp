#include "observe/SessionJSONLWatcher.h"

#include "core/MainThread.h"
#include "core/SerialQueue.h"
#include "limits/AgentLimitsService.h"
#include "observe/ClaudeTranscripts.h"
#include "observe/RepeatingTimer.h"

#include <atomic>

// Everything below is confined to the watch queue, except the construction.
struct SessionJSONLWatcher::Core : std::enable_shared_from_this<Core> {
    qint64 totalTokensIn = 0;
    qint64 totalTokensOut = 0;
    std::optional<QString> latestModel;
    std::optional<QString> sessionID;
    Update onUpdate;
    SerialQueue& watchQueue = SerialQueue::named(kQueueLabel);
    QString workingDirectory;
    QDateTime startTime;
    std::unique_ptr<JSONLTailer> tailer;
    std::optional<QString> currentPath;
    std::unique_ptr<RepeatingTimer> resolveTimer;
    std::optional<AgentLimits> latestLimits;
    Options options;
    // Set on the main thread when the watcher is discarded; pending deliveries then do nothing.
    std::shared_ptr<std::atomic<bool>> discarded = std::make_shared<std::atomic<bool>>(false);
    bool stopped = false;

    void begin() {
        if (stopped) return;
        resolveIfNeeded();
        std::weak_ptr<Core> weak = weak_from_this();
        resolveTimer = std::make_unique<RepeatingTimer>(options.resolveIntervalMs, [weak] {
            if (auto self = weak.lock()) self->resolveIfNeeded();
        });
    }

    void resolveIfNeeded() {
        const QString directory =
            ClaudeTranscriptLocator::transcriptDirectory(workingDirectory, options.projectsRoot);
        const auto latest = ClaudeTranscriptLocator::latestTranscript(directory, startTime);
        if (!latest || latest == currentPath) return;
        tailer.reset();
        currentPath = latest;
        totalTokensIn = 0;
        totalTokensOut = 0;
        sessionID = ClaudeTranscriptLocator::sessionIDInTranscript(*latest);
        if (sessionID) emitSnapshot();
        tailer = std::make_unique<JSONLTailer>(
            *latest, watchQueue, [this](const QStringList& lines) { consume(lines); }, options.tailer);
        tailer->start();
    }

    void consume(const QStringList& lines) {
        bool changed = false;
        for (const QString& line : lines) {
            if (!sessionID) {
                if (auto id = ClaudeTranscriptLocator::sessionID(line)) {
                    sessionID = id;
                    changed = true;
                }
            }
            if (auto usage = ClaudeUsage::parseAssistantRecord(line)) {
                if (usage->shortModel) latestModel = usage->shortModel;
                totalTokensIn += usage->tokensIn;
                totalTokensOut += usage->tokensOut;
                changed = true;
            }
        }
        if (changed) emitSnapshot();
    }

    void setLimits(const AgentLimits& limits) {
        latestLimits = limits;
        emitSnapshot();
    }

    void emitSnapshot() {
        UsageSnapshot snapshot;
        snapshot.tokensIn = totalTokensIn;
        snapshot.tokensOut = totalTokensOut;
        snapshot.model = latestModel;
        if (latestLimits && !latestLimits->isEmpty()) snapshot.limits = latestLimits;
        snapshot.sessionID = sessionID;
        snapshot.transcriptPath = currentPath;
        runOnMain([discarded = discarded, onUpdate = onUpdate, snapshot] {
            if (!discarded->load() && onUpdate) onUpdate(snapshot);
        });
    }

    void teardown() {
        stopped = true;
        resolveTimer.reset();
        tailer.reset();
    }
};

SessionJSONLWatcher::SessionJSONLWatcher(const QString& workingDirectory,
                                         std::shared_ptr<AgentLimitsService> limitsService, Update onUpdate)
    : SessionJSONLWatcher(workingDirectory, std::move(limitsService), std::move(onUpdate), Options{}) {}

SessionJSONLWatcher::SessionJSONLWatcher(const QString& workingDirectory,
                                         std::shared_ptr<AgentLimitsService> limitsService, Update onUpdate,
                                         Options options)
    : core_(std::make_shared<Core>()) {
    core_->onUpdate = std::move(onUpdate);
    core_->workingDirectory = workingDirectory;
    core_->startTime = QDateTime::currentDateTime().addSecs(-kStartWindowSeconds);
    core_->options = std::move(options);
    core_->watchQueue.async([core = core_] { core->begin(); });
    limits_.start(std::move(limitsService), core_, &core_->watchQueue);
}

SessionJSONLWatcher::~SessionJSONLWatcher() {
    core_->discarded->store(true);
    stop();
    // The last reference goes on the queue, where the tailer and timers live.
    core_->watchQueue.async([core = std::move(core_)] { core->teardown(); });
}

void SessionJSONLWatcher::stop() {
    limits_.stop();
    core_->watchQueue.async([core = core_] { core->teardown(); });
}
