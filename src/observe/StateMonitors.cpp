#include "observe/StateMonitors.h"

#include "core/MainThread.h"
#include "core/SerialQueue.h"
#include "observe/ObserveJson.h"

#include <QDateTime>

ClaudeStateMonitor::ClaudeStateMonitor() : analyzer_(std::make_unique<PTYStreamAnalyzer>()) {}

ClaudeStateMonitor::~ClaudeStateMonitor() = default;

void ClaudeStateMonitor::setOnStateChange(StateCallback callback) { analyzer_->setOnStateChange(std::move(callback)); }

bool ClaudeStateMonitor::attentionIsConfirmMenu() const { return analyzer_->attentionIsConfirmMenu(); }

void ClaudeStateMonitor::feed(QByteArrayView ptyBytes) { analyzer_->feed(ptyBytes); }

void ClaudeStateMonitor::setScreenProvider(ScreenProvider provider) {
    analyzer_->setScreenProvider(std::move(provider));
}

// The callback belongs to the main thread; the queue reaches it only through a weak hop.
struct CodexStateMonitor::MainSide {
    StateCallback onStateChange;
};

struct CodexStateMonitor::Core {
    SessionState state = SessionState::idle;
    SerialQueue& watchQueue = SerialQueue::named(kQueueLabel);
    std::unique_ptr<CodexRolloutResolver> resolver;
    std::unique_ptr<JSONLTailer> tailer;
    std::weak_ptr<MainSide> main;
    Options options;

    void start(const QString& workingDirectory, const QDateTime& after) {
        resolver = std::make_unique<CodexRolloutResolver>(
            workingDirectory, after, watchQueue, [this](const QString& path) { follow(path); }, options.resolver);
        resolver->start();
    }

    void follow(const QString& path) {
        tailer = std::make_unique<JSONLTailer>(
            path, watchQueue, [this](const QStringList& lines) { setState(stateAfterBatch(state, lines)); },
            options.tailer);
        tailer->start();
    }

    void setState(SessionState next) {
        if (next == state) return;
        state = next;
        runOnMain([main = main, next] {
            if (auto side = main.lock(); side && side->onStateChange) side->onStateChange(next);
        });
    }

    void teardown() {
        if (resolver) resolver->cancel();
        resolver.reset();
        tailer.reset();
    }
};

CodexStateMonitor::CodexStateMonitor() : CodexStateMonitor(Options{}) {}

CodexStateMonitor::CodexStateMonitor(Options options)
    : main_(std::make_shared<MainSide>()), core_(std::make_shared<Core>()) {
    core_->main = main_;
    core_->options = std::move(options);
}

CodexStateMonitor::~CodexStateMonitor() {
    core_->watchQueue.async([core = std::move(core_)] { core->teardown(); });
}

void CodexStateMonitor::setOnStateChange(StateCallback callback) { main_->onStateChange = std::move(callback); }

void CodexStateMonitor::start(const QString& workingDirectory) {
    const QDateTime after = QDateTime::currentDateTime();
    core_->watchQueue.async([core = core_, workingDirectory, after] { core->start(workingDirectory, after); });
}

void CodexStateMonitor::stop() {
    core_->watchQueue.async([core = core_] { core->teardown(); });
}

std::optional<SessionState> CodexStateMonitor::stateForRolloutLine(QStringView line) {
    if (!line.contains(QLatin1StringView("event_msg"))) return std::nullopt;
    const auto record = ObserveJson::parseLine(line);
    if (!record || record->value(QLatin1StringView("type")).toString() != QLatin1StringView("event_msg"))
        return std::nullopt;
    const QJsonValue payload = record->value(QLatin1StringView("payload"));
    if (!payload.isObject()) return std::nullopt;
    const QString type = payload.toObject().value(QLatin1StringView("type")).toString();
    if (type == QLatin1StringView("task_started")) return SessionState::generating;
    if (type == QLatin1StringView("agent_reasoning")) return SessionState::thinking;
    if (type == QLatin1StringView("agent_message") || type == QLatin1StringView("exec_command_end") ||
        type == QLatin1StringView("patch_apply_end") || type == QLatin1StringView("web_search_end") ||
        type == QLatin1StringView("mcp_tool_call_end"))
        return SessionState::generating;
    if (type == QLatin1StringView("exec_approval_request") ||
        type == QLatin1StringView("apply_patch_approval_request"))
        return SessionState::needsAttention;
    if (type == QLatin1StringView("task_complete")) return SessionState::userInput;
    if (type == QLatin1StringView("turn_aborted")) return SessionState::idle;
    return std::nullopt;
}

SessionState CodexStateMonitor::stateAfterBatch(SessionState current, const QStringList& lines) {
    for (const QString& line : lines)
        if (auto state = stateForRolloutLine(line)) current = *state;
    return current;
}
