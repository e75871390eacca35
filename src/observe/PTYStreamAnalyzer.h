#pragma once

#include "sessions/SessionState.h"

#include <QByteArrayView>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

// Judges an agent's state from what it writes to its terminal: escape sequences are stripped
// (leaving the alternate screen means idle at once), printable ASCII is kept as recent text, and
// once output pauses for a frame the last lines of the screen are matched against marker
// phrases. Eight seconds without output end a generating or thinking phase.
//
// Main thread only. The work per byte is constant and the memory is fixed: the recent text
// keeps its last 2000 characters and escape sequences are never stored whole.
class PTYStreamAnalyzer {
public:
    using StateCallback = std::function<void(SessionState)>;
    using ScreenProvider = std::function<QString()>;

    static constexpr int kFrameDelayMs = 50;
    static constexpr int kIdleTimeoutMs = 8000;
    static constexpr qsizetype kRecentTextLimit = 2000;
    // An operating-system command longer than this (the escape byte included) is abandoned.
    static constexpr int kMaxOscBytes = 256;
    static constexpr int kTailLines = 15;

    PTYStreamAnalyzer();
    ~PTYStreamAnalyzer();
    PTYStreamAnalyzer(const PTYStreamAnalyzer&) = delete;
    PTYStreamAnalyzer& operator=(const PTYStreamAnalyzer&) = delete;

    void setOnStateChange(StateCallback callback) { onStateChange_ = std::move(callback); }
    // The terminal's visible screen; without one the recent text is judged.
    void setScreenProvider(ScreenProvider provider) { screenProvider_ = std::move(provider); }
    void setIdleTimeoutMs(int ms) { idleTimeoutMs_ = ms; }

    SessionState state() const { return state_; }
    bool attentionIsConfirmMenu() const { return attentionIsConfirmMenu_; }
    // The latest printable output, at most its last 2000 characters.
    QString recentText() const;
    bool inEscape() const { return escape_ != Escape::None; }

    void feed(QByteArrayView bytes);
    // Runs by itself 50 ms after the last chunk; public so a caller can force a frame.
    void analyzeFrame();

    // The decision for one screen, given the current state: the new state (none: no change)
    // and whether a needsAttention comes from a numbered confirmation menu.
    struct Decision {
        std::optional<SessionState> state;
        bool confirmMenu = false;
    };
    // The last 15 lines that are not blank, joined with "\n" and lower-cased.
    static QString tailOf(const QString& text);
    static Decision decide(const QString& tail, SessionState current);

private:
    enum class Escape : unsigned char { None, Start, Csi, Osc };

    // `end` bounds the input the run lies in.
    void appendText(const unsigned char* data, qsizetype size, const unsigned char* end);
    void updateState(SessionState next, bool confirmMenu);
    void idleTimeout();

    StateCallback onStateChange_;
    ScreenProvider screenProvider_;
    SessionState state_ = SessionState::idle;
    bool attentionIsConfirmMenu_ = false;

    // The escape sequence in progress, kept as what matters of it rather than its bytes.
    Escape escape_ = Escape::None;
    int escapeLength_ = 0;            // bytes so far, the escape byte included
    unsigned char escapeLast_ = 0;    // the previous byte, for ESC \ (string terminator)
    quint64 csiParams_ = 0;           // the first parameter bytes, enough to tell "?1049"
    int csiParamLength_ = 0;          // counted up to 9

    static constexpr qsizetype kRecentTextCapacity = 2 * kRecentTextLimit;
    char recentText_[kRecentTextCapacity];
    qsizetype recentTextSize_ = 0;
    QTimer frameTimer_;
    QTimer idleTimer_;
    int idleTimeoutMs_ = kIdleTimeoutMs;
};
