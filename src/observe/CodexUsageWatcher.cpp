#include "observe/CodexUsageWatcher.h"

#include "core/MainThread.h"
#include "core/SerialQueue.h"
#include "limits/AgentLimitsService.h"

#include <QDateTime>
#include <atomic>

// Confined to the watch queue, except the construction.
struct CodexUsageWatcher::Core : std::enable_shared_from_this<Core> {
    CodexUsageState usage;
    std::optional<QString> sessionID;
    Update onUpdate;
    SerialQueue& watchQueue = SerialQueue::named(kQueueLabel);
    std::unique_ptr<CodexRolloutResolver> resolver;
    std::unique_ptr<JSONLTailer> tailer;
    std::optional<AgentLimits> latestLimits;
    std::optional<QString> rolloutPath;
    QString workingDirectory;
    QDateTime createdAt;
    Options options;
    std::shared_ptr<std::atomic<bool>> discarded = std::make_shared<std::atomic<bool>>(false);
    bool stopped = false;

    void begin() {
        if (stopped) return;
        resolver = std::make_unique<CodexRolloutResolver>(
            workingDirectory, createdAt, watchQueue, [this](const QString& path) { watch(path); },
            options.resolver);
        resolver->start();
    }

    void watch(const QString& path) {
        rolloutPath = path;
        sessionID = CodexRolloutLocator::sessionID(path);
        if (sessionID) emitSnapshot();
        tailer = std::make_unique<JSONLTailer>(
            path, watchQueue, [this](const QStringList& lines) { consume(lines); }, options.tailer);
        tailer->start();
    }

    void consume(const QStringList& lines) {
        bool changed = false;
        for (const QString& line : lines) changed = CodexUsage::applyLine(usage, line) || changed;
        if (changed) emitSnapshot();
    }

    void setLimits(const AgentLimits& limits) {
        latestLimits = limits;
        emitSnapshot();
    }

    void emitSnapshot() {
        UsageSnapshot snapshot;
        snapshot.tokensIn = usage.totalTokensIn;
        snapshot.tokensOut = usage.totalTokensOut;
        snapshot.model = usage.latestModel;
        if (latestLimits && !latestLimits->isEmpty()) snapshot.limits = latestLimits;
        snapshot.contextPercent = usage.latestContextPercent;
        snapshot.sessionID = sessionID;
        snapshot.transcriptPath = rolloutPath;
        runOnMain([discarded = discarded, onUpdate = onUpdate, snapshot] {
            if (!discarded->load() && onUpdate) onUpdate(snapshot);
        });
    }

    void teardown() {
        stopped = true;
        if (resolver) resolver->cancel();
        resolver.reset();
        tailer.reset();
    }
};

CodexUsageWatcher::CodexUsageWatcher(const QString& workingDirectory,
                                     std::shared_ptr<AgentLimitsService> limitsService, Update onUpdate)
    : CodexUsageWatcher(workingDirectory, std::move(limitsService), std::move(onUpdate), Options{}) {}

CodexUsageWatcher::CodexUsageWatcher(const QString& workingDirectory,
                                     std::shared_ptr<AgentLimitsService> limitsService, Update onUpdate,
                                     Options options)
    : core_(std::make_shared<Core>()) {
    core_->onUpdate = std::move(onUpdate);
    core_->workingDirectory = workingDirectory;
    core_->createdAt = QDateTime::currentDateTime();
    core_->options = std::move(options);
    core_->watchQueue.async([core = core_] { core->begin(); });
    limits_.start(std::move(limitsService), core_, &core_->watchQueue);
}

CodexUsageWatcher::~CodexUsageWatcher() {
    core_->discarded->store(true);
    stop();
    core_->watchQueue.async([core = std::move(core_)] { core->teardown(); });
}

void CodexUsageWatcher::stop() {
    limits_.stop();
    core_->watchQueue.async([core = core_] { core->teardown(); });
}
