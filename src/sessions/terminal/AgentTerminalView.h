#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

#include "sessions/terminal/TerminalWidget.h"

// The terminal view every session shows: the terminal widget plus what the rest of the
// application needs around it (output tap, exit callback, screen text, wheel forwarding to
// full-screen programs, the tmux hint card, file drops, input tracing).
class AgentTerminalView : public TerminalWidget {
    Q_OBJECT
public:
    explicit AgentTerminalView(QWidget* parent = nullptr);
    ~AgentTerminalView() override;

    // Every chunk read from the child, before the emulator sees it (main thread).
    std::function<void(QByteArrayView)> onPtyData;
    // Label of this view in input-trace lines; "term" when empty.
    QString inputTraceLabel;
    // The child ended; none when a signal ended it.
    std::function<void(std::optional<int>)> onProcessTerminated;

    // The visible screen, one line per row, trailing blanks removed, joined with "\n".
    QString currentScreenText() const;

    // Ctrl+B hint card for plain terminal tabs; installed at most once.
    void installKeyMonitor();
    bool hasKeyMonitor() const { return keyMonitorInstalled_; }

protected:
    void dataReceived(QByteArrayView bytes) override;
    void dataSent(QByteArrayView bytes) override;
    void processEnded(std::optional<int> exitCode) override;

private:
    bool keyMonitorInstalled_ = false;
};
