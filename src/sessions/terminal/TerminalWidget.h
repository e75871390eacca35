#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

#include "sessions/terminal/TerminalSurface.h"

class QScrollBar;
class QMenu;

// The terminal emulator view: draws a TerminalSurface with QPainter and feeds it keyboard,
// mouse, IME and clipboard input. Repaints are driven by the surface's damage and coalesced to
// at most one per display frame, however fast the child writes.
//
// Specialised views hook in through the three protected virtuals (bytes received, bytes sent,
// process ended) and reach the emulator state through surface().
class TerminalWidget : public QWidget {
    Q_OBJECT
public:
    explicit TerminalWidget(QWidget* parent = nullptr);
    ~TerminalWidget() override;

    TerminalSurface* surface() const { return surface_.get(); }

    // ---- The child process
    bool startProcess(const QString& executable, const QStringList& arguments,
                      const QStringList& environment = {}, const QString& workingDirectory = {});
    void terminate();
    bool isRunning() const { return surface_->isRunning(); }

    void sendText(const QString& text) { surface_->sendText(text); }
    void sendBytes(QByteArrayView bytes) { surface_->sendBytes(bytes); }
    void paste(const QString& text);

    // ---- Font and colours
    void setTerminalFont(const QFont& font);
    QFont terminalFont() const { return font_; }
    void setBackgroundColor(const QColor& color);
    void setForegroundColor(const QColor& color);
    void setCursorColor(const QColor& color);
    void setSelectionColor(const QColor& color);
    void setAnsiColor(int index, const QColor& color);
    void setAnsiColors(const std::array<QColor, 16>& colors);
    QColor backgroundColor() const;
    QColor foregroundColor() const;
    QColor cursorColor() const;
    QColor selectionColor() const { return selectionColor_; }
    QColor ansiColor(int index) const;

    // ---- Mouse reporting: whether the program may have the mouse when it asks for it.
    void setMouseReportingAllowed(bool allowed) { mouseReportingAllowed_ = allowed; }
    bool mouseReportingAllowed() const { return mouseReportingAllowed_; }

    // ---- Geometry
    QSize cellSize() const { return {cellWidth_, cellHeight_}; }
    // The rectangle the cells are drawn in.
    QRect terminalRect() const;
    // The cell (column, row) under a point of the widget, clamped to the screen.
    QPoint cellAt(const QPoint& pos) const;
    QSize sizeForCells(int columns, int rows) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // ---- Selection and scroll-back
    bool hasSelection() const { return hasSelection_; }
    QString selectedText() const;
    void selectAll();
    void clearSelection();
    void copy();
    void pasteClipboard();
    // Lines scrolled back from the live screen (0 = following the output).
    int scrollbackOffset() const { return viewOffset_; }
    void scrollLines(int lines);  // positive: towards older lines
    void scrollToBottom();

signals:
    void titleChanged(const QString& title);
    void bell();
    void processTerminated(std::optional<int> exitCode);

protected:
    // Every chunk read from the child, on the main thread, before the emulator sees it.
    virtual void dataReceived(QByteArrayView bytes);
    // Every byte sequence on its way to the child (typed keys, replies to queries).
    virtual void dataSent(QByteArrayView bytes);
    // The child ended; the exit code is none when a signal ended it. Emits processTerminated.
    virtual void processEnded(std::optional<int> exitCode);

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct FontFace;
    struct SelPos {
        int64_t line = 0;
        int col = 0;
        auto operator<=>(const SelPos&) const = default;
    };
    enum class SelectMode { Character, Word, Line };

    void scheduleFrame();
    void frame();
    void requestRepaint(const QRegion& region);
    void updateMetrics();
    void updateGeometryFromSize();
    void updateScrollBar();
    void styleScrollBar();
    void followOutput();
    void resetBlink();

    bool mouseReportingActive(Qt::KeyboardModifiers modifiers) const;
    int reportButton(Qt::MouseButton button) const;

    // Lines by their stable number (see TerminalSurface::linesPushed()).
    int64_t firstLine() const;
    int64_t lastLine() const;  // exclusive
    const TermRow* lineRow(int64_t line, TermRow& scratch) const;
    bool lineWrapped(int64_t line) const;
    int64_t lineAtViewRow(int row) const;
    SelPos selPosAt(const QPoint& pos, bool nearestBoundary) const;
    void updateSelection(const QPoint& pos);
    std::pair<SelPos, SelPos> orderedSelection() const;
    SelPos wordStart(SelPos p) const;
    SelPos wordEnd(SelPos p) const;
    void publishSelection();

    void paintRow(QPainter& painter, const TermRow& row, int viewRow, int64_t line, int top);
    void paintText(QPainter& painter, const TermRow& row, int col, int x, int baseline, int top, uint32_t attrs,
                   const QColor& color, int width);

    std::unique_ptr<TerminalSurface> surface_;
    QScrollBar* scrollBar_ = nullptr;

    QFont font_;
    std::unique_ptr<FontFace> faces_[4];  // regular, bold, italic, bold italic
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    int ascent_ = 12;
    int underlinePos_ = 14;
    int lineWidth_ = 1;

    QColor selectionColor_{0x26, 0x4F, 0x78};
    bool mouseReportingAllowed_ = true;

    // Frames: damage is collected and painted at most once per display frame.
    QTimer frameTimer_;
    QElapsedTimer sinceFrame_;
    QElapsedTimer syncHeld_;
    int frameInterval_ = 16;
    bool flooding_ = false;
    QRegion pendingRegion_;
    bool fullRepaint_ = true;

    QTimer blinkTimer_;
    bool blinkOn_ = true;
    bool focused_ = false;

    int viewOffset_ = 0;
    int64_t lastPushed_ = 0;
    double wheelPixels_ = 0;

    bool hasSelection_ = false;
    bool selecting_ = false;
    SelectMode selectMode_ = SelectMode::Character;
    SelPos selAnchor_;
    SelPos selAnchorEnd_;
    SelPos selHead_;
    QElapsedTimer lastDoubleClick_;
    QPoint lastDoubleClickPos_;
    int heldButton_ = 0;
    int lastReportedCol_ = -1;
    int lastReportedRow_ = -1;

    QString preedit_;
    mutable TermRow scratch_;
    struct Resolved {
        uint32_t fg, bg;
    };
    std::vector<Resolved> rowColors_;
};
