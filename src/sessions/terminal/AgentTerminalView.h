#pragma once

#include <QByteArrayView>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

#include "sessions/terminal/TerminalWheelScroll.h"
#include "sessions/terminal/TerminalWidget.h"
#include "sessions/terminal/TmuxCheatsheet.h"

class QGraphicsOpacityEffect;
class QPropertyAnimation;


// The terminal view every session shows: the terminal widget plus what the rest of the
// application needs around it (output tap, exit callback, screen text, wheel forwarding to
// full-screen programs, the tmux hint card, file drops, input tracing).
//
// Qt hands wheel, pointer and key events only to the widget under the pointer or with the
// focus, so the view's own handlers (and a filter on its scroll bar) see exactly the events
// that concern it.
class AgentTerminalView : public TerminalWidget {
    Q_OBJECT
public:
    static constexpr int kCheatsheetMillis = 3500;
    static constexpr int kCheatsheetFadeMillis = 150;
    static constexpr int kCheatsheetInset = 14;

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

    // ---- The hint card
    // None until first shown; kept afterwards.
    VRNXTmuxCheatsheet* cheatsheet() const { return cheatsheet_; }
    // On the view (also while fading out).
    bool isCheatsheetShown() const;
    bool isCheatsheetTimerActive() const { return cheatsheetTimer_.isActive(); }
    int cheatsheetRemainingMillis() const { return cheatsheetTimer_.remainingTime(); }
    // How long the card stays; tests shorten it.
    void setCheatsheetDuration(int millis) { cheatsheetMillis_ = millis; }

    // ---- Wheel forwarding
    // Whether a wheel event over the view goes to the program (mouse reporting or the
    // alternate screen) rather than to the scroll-back.
    bool wheelGoesToProgram() const;
    const TerminalWheelScroll::DeltaAccumulator& wheelAccumulator() const { return wheelAccumulator_; }
    // The pointer is over this view or something inside it.
    bool isPointerTarget(const QWidget* hit) const;

    // ---- Input tracing (VRNX_INPUT_TRACE present, whatever its value; read once)
    static bool inputTraceEnabled();
    // The trace message for bytes sent to the child: Enter and the arrow keys; empty for
    // anything else.
    static QString outgoingTraceMessage(QByteArrayView bytes);

    // The text typed for dropped files: paths joined by blanks, a path with a blank (or a
    // quote) single-quoted. Paths with control characters are left out: typed, a line break
    // would run the command line.
    static QString dropText(const QStringList& paths);

protected:
    void dataReceived(QByteArrayView bytes) override;
    void dataSent(QByteArrayView bytes) override;
    void processEnded(std::optional<int> exitCode) override;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Sends the wheel event to the program when forwarding applies; false leaves it to the
    // scroll-back. `pos` is in view coordinates.
    bool forwardWheel(QWheelEvent* event, QPointF pos);
    // The program tracks the mouse (normal, button-event or any-event) and the view lets it.
    bool mouseReportingOn() const;
    void showCheatsheet();
    void hideCheatsheet();
    void placeCheatsheet();
    void trace(const QString& message) const;

    bool keyMonitorInstalled_ = false;
    QPointer<VRNXTmuxCheatsheet> cheatsheet_;
    QGraphicsOpacityEffect* cheatsheetOpacity_ = nullptr;
    QPropertyAnimation* cheatsheetFade_ = nullptr;
    QTimer cheatsheetTimer_;
    int cheatsheetMillis_ = kCheatsheetMillis;
    TerminalWheelScroll::DeltaAccumulator wheelAccumulator_;
    TerminalWheelScroll::DeltaAccumulator wheelStepAccumulator_;  // fractions of wheel steps
};
