#pragma once

#include "observe/CodexRollouts.h"
#include "observe/JSONLTailer.h"
#include "observe/PTYStreamAnalyzer.h"
#include "sessions/AgentStateMonitor.h"

#include <QStringList>
#include <memory>
#include <optional>

// Claude Code sessions are judged from their terminal output.
class ClaudeStateMonitor final : public AgentStateMonitor {
public:
    ClaudeStateMonitor();
    ~ClaudeStateMonitor() override;

    void setOnStateChange(StateCallback callback) override;
    bool attentionIsConfirmMenu() const override;
    void feed(QByteArrayView ptyBytes) override;
    // The output is all it needs.
    void start(const QString&) override {}
    void stop() override {}
    void setScreenProvider(ScreenProvider provider) override;

    PTYStreamAnalyzer& analyzer() { return *analyzer_; }

private:
    std::unique_ptr<PTYStreamAnalyzer> analyzer_;
};

// Codex sessions are judged from the event records of their rollout file, found and followed on
// the monitor's own queue. The state callback runs on the main thread. Until the rollout
// appears the monitor never reports.
class CodexStateMonitor final : public AgentStateMonitor {
public:
    struct Options {
        CodexRolloutResolver::Options resolver;
        JSONLTailer::Options tailer;
    };

    CodexStateMonitor();
    explicit CodexStateMonitor(Options options);
    ~CodexStateMonitor() override;

    void setOnStateChange(StateCallback callback) override;
    bool attentionIsConfirmMenu() const override { return false; }
    void feed(QByteArrayView) override {}
    // Looks for a rollout of this directory created from now on.
    void start(const QString& workingDirectory) override;
    void stop() override;

    // The state one rollout line announces; none for lines that announce nothing.
    static std::optional<SessionState> stateForRolloutLine(QStringView line);
    // The state after a batch: the last line that announces one wins.
    static SessionState stateAfterBatch(SessionState current, const QStringList& lines);

    static inline const QString kQueueLabel = QStringLiteral("com.varnix.codex-state");

    struct Core;
    struct MainSide;

private:
    std::shared_ptr<MainSide> main_;
    std::shared_ptr<Core> core_;
};
