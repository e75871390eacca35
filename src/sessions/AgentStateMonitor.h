#pragma once

#include "sessions/SessionState.h"

#include <QByteArrayView>
#include <QString>
#include <functional>

// Decides, continuously, what a session's agent is doing. A session owns one for its whole life.
class AgentStateMonitor {
public:
    using StateCallback = std::function<void(SessionState)>;
    using ScreenProvider = std::function<QString()>;

    virtual ~AgentStateMonitor() = default;

    // Called on a state change; may be called from a monitor's own queue.
    virtual void setOnStateChange(StateCallback callback) = 0;
    // True while the current needsAttention comes from a numbered confirmation menu.
    virtual bool attentionIsConfirmMenu() const = 0;
    // Bytes the child wrote to the terminal, in order, on the main thread.
    virtual void feed(QByteArrayView ptyBytes) = 0;
    virtual void start(const QString& workingDirectory) = 0;
    virtual void stop() = 0;
    // The terminal's visible text, for monitors that judge the screen; others ignore it.
    virtual void setScreenProvider(ScreenProvider provider) { (void)provider; }
};

// The monitor of plain shells: always idle, never reports.
class NullStateMonitor final : public AgentStateMonitor {
public:
    void setOnStateChange(StateCallback callback) override { onStateChange_ = std::move(callback); }
    bool attentionIsConfirmMenu() const override { return false; }
    void feed(QByteArrayView) override {}
    void start(const QString&) override {}
    void stop() override {}
    SessionState state() const { return SessionState::idle; }

private:
    StateCallback onStateChange_;
};
