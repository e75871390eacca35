#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "sessions/terminal/TerminalGrid.h"

class PtyProcess;

// The headless half of the terminal: libvterm's state layer driving our own screen grid and
// scroll-back, the child on its pseudo-terminal, the byte taps in both directions, and the
// encodings of keys, mouse reports and pastes. No widget code; the view draws from it.
class TerminalSurface : public QObject {
    Q_OBJECT
public:
    enum class MouseTracking { Off, X10, Normal, ButtonEvent, AnyEvent };
    enum class CursorShape { Block, Underline, Bar };

    static constexpr int kDefaultScrollback = 10000;

    explicit TerminalSurface(int columns = 80, int rows = 24, QObject* parent = nullptr);
    ~TerminalSurface() override;

    // ---- The child process
    // `environment` holds "NAME=value" entries (empty: this process's environment). TERM is
    // set to xterm-256color when it is missing. Once a child has ended another may be started.
    bool startProcess(const QString& executable, const QStringList& arguments,
                      const QStringList& environment = {}, const QString& workingDirectory = {});
    // Hangs up the child's process group and closes the terminal; the end is still reported.
    void terminate();
    bool isRunning() const;
    qint64 processId() const;
    QString errorString() const { return error_; }
    // Set once the child has ended: its exit code, or the signal that killed it.
    std::optional<int> exitCode() const { return exitCode_; }
    int terminationSignal() const { return termSignal_; }

    // ---- Taps and notifications, all on the owning (main) thread
    // Every chunk read from the child, before the emulator sees it.
    std::function<void(QByteArrayView)> onReceived;
    // Every byte sequence on its way to the child (typed keys, replies to queries), unaltered.
    std::function<void(QByteArrayView)> onSent;
    // The child ended: its exit code, or none when a signal ended it.
    std::function<void(std::optional<int>)> onProcessEnded;
    // Something visible changed since the last takeDamage(); called once per such period.
    std::function<void()> onDamage;
    std::function<void(const QString&)> onTitleChanged;
    std::function<void()> onBell;

    // ---- Input to the emulator and output to the child
    // Emulates `bytes` as if the child had written them (no tap).
    void feed(QByteArrayView bytes);
    void sendBytes(QByteArrayView bytes);
    void sendText(QStringView text);
    // Pasted text: line ends become CR, control characters are dropped, and it is bracketed
    // when the program asked for bracketed paste.
    void paste(QStringView text);
    // A key press (Qt key code, modifiers, the text it produced). False when nothing was sent.
    bool sendKey(int key, Qt::KeyboardModifiers modifiers, QStringView text = {});
    // One mouse button report at a cell (button 1-3, or 4/5 for the wheel), encoded in the
    // program's mouse protocol; nothing when the program does not track the mouse.
    void sendMouseReport(int button, bool release, bool shift, bool meta, bool control, int column, int row);
    // Pointer input as the view sees it; libvterm decides what the program is told.
    void mouseMove(int column, int row, Qt::KeyboardModifiers modifiers);
    void mouseButton(int button, bool pressed, Qt::KeyboardModifiers modifiers);
    void setFocused(bool focused);

    // ---- Emulator state
    int columns() const { return cols_; }
    int rows() const { return rows_; }
    void resize(int columns, int rows, int pixelWidth = 0, int pixelHeight = 0);
    bool isAlternateScreen() const { return screen_ == &alt_; }
    MouseTracking mouseTracking() const { return mouseTracking_; }
    bool applicationCursorKeys() const;
    bool bracketedPaste() const;
    // Text of visible row `row` (0 = top), trailing blanks removed; empty out of range.
    QString rowText(int row) const;
    QString screenText() const;
    QString title() const { return title_; }
    int cursorRow() const { return cursorRow_; }
    int cursorColumn() const { return cursorCol_; }
    bool cursorVisible() const { return cursorVisible_; }
    bool cursorBlinks() const { return cursorBlink_; }
    CursorShape cursorShape() const { return cursorShape_; }
    bool reverseVideo() const { return reverseVideo_; }
    // The program is between the begin and end of a synchronized update (mode 2026): the view
    // should not show a half-drawn frame.
    bool synchronizedUpdate() const { return synchronizedUpdate_; }
    static constexpr int kSynchronizedUpdate = 2026;

    // ---- Cells for the view
    const TermRow& screenRow(int row) const { return screen_->row(row); }
    const TermScrollback& scrollback() const { return scrollback_; }
    void setScrollbackLimit(int lines);
    // Rows ever pushed into the scroll-back minus rows taken back: with it a line keeps one
    // number while it scrolls (screen row r is line linesPushed() + r).
    int64_t linesPushed() const { return linesPushed_; }

    // Damage since the last takeDamage(): per screen row, bit 1 = repaint, bit 2 = content
    // written (not just moved).
    enum : uint8_t { kRepaint = 1, kContentChanged = 2 };
    const std::vector<uint8_t>& damage() const { return damage_; }
    int scrolledSinceDamage() const { return scrolled_; }
    void takeDamage();

    // ---- Colours the program may ask about (and the view draws with), as 0xRRGGBB.
    void setDefaultColors(uint32_t foreground, uint32_t background, uint32_t cursor);
    void setPaletteColor(int index, uint32_t rgb);
    uint32_t paletteColor(int index) const { return palette_[size_t(index & 0xFF)]; }
    uint32_t defaultForeground() const { return defaultFg_; }
    uint32_t defaultBackground() const { return defaultBg_; }
    uint32_t cursorColor() const { return cursorColor_; }
    uint32_t resolve(uint32_t termColor, bool foreground) const;

    struct Impl;  // libvterm glue, defined in the .cpp

private:
    friend struct Impl;
    void feedScanned(const char* data, size_t size);
    void setSynchronizedUpdate(bool on);
    void fullReset();
    void write(const char* data, size_t size);
    void markDirty(int row, uint8_t bits) {
        damage_[size_t(row)] |= bits;
        if (!damagePending_) damageStarted();
    }
    void damageStarted();
    void markAllDirty(uint8_t bits);
    void processEnded(int status);
    QByteArray capture(const std::function<void()>& fn) const;

    std::unique_ptr<Impl> d_;
    PtyProcess* pty_ = nullptr;
    int cols_;
    int rows_;
    TermScreenBuffer primary_;
    TermScreenBuffer alt_;
    TermScreenBuffer* screen_ = &primary_;
    TermScrollback scrollback_{kDefaultScrollback};
    int64_t linesPushed_ = 0;

    std::vector<uint8_t> damage_;
    bool damagePending_ = false;
    int scrolled_ = 0;

    int cursorRow_ = 0;
    int cursorCol_ = 0;
    bool cursorVisible_ = true;
    bool cursorBlink_ = true;
    CursorShape cursorShape_ = CursorShape::Block;
    bool reverseVideo_ = false;
    bool synchronizedUpdate_ = false;
    MouseTracking mouseTracking_ = MouseTracking::Off;
    QString title_;
    QString error_;
    std::optional<int> exitCode_;
    int termSignal_ = 0;

    std::array<uint32_t, 256> palette_{};
    uint32_t defaultFg_ = 0xD0D0D0;
    uint32_t defaultBg_ = 0x000000;
    uint32_t cursorColor_ = 0xD0D0D0;
};
