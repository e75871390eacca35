#include "sessions/terminal/TerminalWidget.h"

#include "sessions/terminal/BoxDrawing.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace {

constexpr int kScrollBarWidth = 10;
constexpr int kBlinkMillis = 530;
constexpr int kSyncHoldMillis = 150;

QColor toColor(uint32_t rgb) {
    return QColor::fromRgb(QRgb(0xFF000000u | rgb));
}

uint32_t toRgb(const QColor& c) {
    return uint32_t(c.rgb()) & 0xFFFFFF;
}

uint32_t blend(uint32_t a, uint32_t b, int weightA /* of 256 */) {
    auto ch = [&](int shift) {
        const int x = int((a >> shift) & 0xFF), y = int((b >> shift) & 0xFF);
        return uint32_t((x * weightA + y * (256 - weightA)) >> 8) << shift;
    };
    return ch(16) | ch(8) | ch(0);
}

bool isWordChar(char32_t c) {
    if (c == 0 || c == ' ') return false;
    if (c > 0x7F) return true;
    return std::isalnum(int(c)) || std::strchr("_-./~:@%+#?&=", int(c)) != nullptr;
}

}  // namespace

// One style of the terminal font, with the glyph lookup used for drawing runs of cells at
// exact cell positions.
struct TerminalWidget::FontFace {
    QFont font;
    QRawFont raw;
    bool synthItalic = false;
    bool synthBold = false;
    std::array<quint32, 128> ascii{};
    QHash<char32_t, quint32> glyphs;
    QHash<char32_t, qreal> advances;  // of characters the font lacks, drawn with fallback

    explicit FontFace(const QFont& f) : font(f), raw(QRawFont::fromFont(f)) {
        synthItalic = f.italic() && raw.style() == QFont::StyleNormal;
        synthBold = f.bold() && raw.weight() < QFont::DemiBold;
        ascii.fill(~0u);
    }

    quint32 lookup(char32_t c) {
        if (c < 128 && ascii[c] != ~0u) return ascii[c];
        if (c >= 128) {
            auto it = glyphs.constFind(c);
            if (it != glyphs.constEnd()) return *it;
        }
        QChar units[2];
        int n = 1;
        if (c > 0xFFFF) {
            units[0] = QChar::highSurrogate(c);
            units[1] = QChar::lowSurrogate(c);
            n = 2;
        } else {
            units[0] = QChar(char16_t(c));
        }
        quint32 index[2] = {0, 0};
        int count = 2;
        if (!raw.isValid() || !raw.glyphIndexesForChars(units, n, index, &count) || count < 1) index[0] = 0;
        if (c < 128) ascii[c] = index[0];
        else glyphs.insert(c, index[0]);
        return index[0];
    }

    qreal fallbackAdvance(char32_t c, const QString& text) {
        auto it = advances.constFind(c);
        if (it != advances.constEnd()) return *it;
        const qreal a = QFontMetricsF(font).horizontalAdvance(text);
        advances.insert(c, a);
        return a;
    }
};

TerminalWidget::TerminalWidget(QWidget* parent)
    : QWidget(parent), surface_(std::make_unique<TerminalSurface>(80, 24)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::IBeamCursor);
    setContentsMargins(4, 2, 0, 2);

    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setCursor(Qt::ArrowCursor);
    scrollBar_->setFocusPolicy(Qt::NoFocus);
    scrollBar_->setRange(0, 0);
    scrollBar_->hide();
    styleScrollBar();
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
        const int offset = scrollBar_->maximum() - value;
        if (offset != viewOffset_) {
            viewOffset_ = offset;
            fullRepaint_ = true;
            scheduleFrame();
        }
    });

    surface_->onReceived = [this](QByteArrayView bytes) { dataReceived(bytes); };
    surface_->onSent = [this](QByteArrayView bytes) { dataSent(bytes); };
    surface_->onProcessEnded = [this](std::optional<int> code) { processEnded(code); };
    surface_->onDamage = [this] { scheduleFrame(); };
    surface_->onTitleChanged = [this](const QString& title) { emit titleChanged(title); };
    surface_->onBell = [this] { emit bell(); };

    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &TerminalWidget::frame);
    sinceFrame_.start();

    blinkTimer_.setInterval(kBlinkMillis);
    connect(&blinkTimer_, &QTimer::timeout, this, [this] {
        if (!surface_->cursorBlinks()) {
            if (!blinkOn_) blinkOn_ = true;
            else return;
        } else {
            blinkOn_ = !blinkOn_;
        }
        const int row = surface_->cursorRow() + viewOffset_;
        if (row < surface_->rows()) {
            const QRect area = terminalRect();
            requestRepaint(QRect(area.left(), area.top() + row * cellHeight_, area.width(), cellHeight_));
        }
    });

    QFont initial = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    initial.setFamilies({QStringLiteral("JetBrains Mono"), QStringLiteral("DejaVu Sans Mono"), initial.family()});
    initial.setPixelSize(13);
    setTerminalFont(initial);
}

TerminalWidget::~TerminalWidget() {
    surface_->onReceived = nullptr;
    surface_->onSent = nullptr;
    surface_->onProcessEnded = nullptr;
    surface_->onDamage = nullptr;
    surface_->onTitleChanged = nullptr;
    surface_->onBell = nullptr;
}

bool TerminalWidget::startProcess(const QString& executable, const QStringList& arguments,
                                  const QStringList& environment, const QString& workingDirectory) {
    updateGeometryFromSize();
    return surface_->startProcess(executable, arguments, environment, workingDirectory);
}

void TerminalWidget::terminate() {
    surface_->terminate();
}

void TerminalWidget::dataReceived(QByteArrayView) {}

void TerminalWidget::dataSent(QByteArrayView) {}

void TerminalWidget::processEnded(std::optional<int> exitCode) {
    emit processTerminated(exitCode);
}

void TerminalWidget::paste(const QString& text) {
    if (text.isEmpty()) return;
    scrollToBottom();
    surface_->paste(text);
}

// ---- Font and colours

void TerminalWidget::setTerminalFont(const QFont& font) {
    font_ = font;
    font_.setStyleHint(QFont::TypeWriter);
    font_.setKerning(false);
    font_.setFixedPitch(true);
    updateMetrics();
    updateGeometryFromSize();
    updateGeometry();
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::updateMetrics() {
    for (int i = 0; i < 4; ++i) {
        QFont f = font_;
        f.setBold(i & 1);
        f.setItalic(i & 2);
        faces_[i] = std::make_unique<FontFace>(f);
    }
    const QFontMetricsF fm(font_);
    cellWidth_ = std::max(1, int(std::lround(fm.horizontalAdvance(QLatin1Char('M')))));
    cellHeight_ = std::max(1, int(std::ceil(fm.ascent() + fm.descent())));
    ascent_ = int(std::ceil(fm.ascent()));
    if (ascent_ >= cellHeight_) ascent_ = cellHeight_ - 1;
    lineWidth_ = std::max(1, int(std::lround(fm.lineWidth())));
    underlinePos_ = std::min(cellHeight_ - lineWidth_, ascent_ + std::max(1, int(std::lround(fm.underlinePos()))));
}

void TerminalWidget::setBackgroundColor(const QColor& color) {
    surface_->setDefaultColors(surface_->defaultForeground(), toRgb(color), surface_->cursorColor());
    styleScrollBar();
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::setForegroundColor(const QColor& color) {
    surface_->setDefaultColors(toRgb(color), surface_->defaultBackground(), surface_->cursorColor());
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::setCursorColor(const QColor& color) {
    surface_->setDefaultColors(surface_->defaultForeground(), surface_->defaultBackground(), toRgb(color));
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::setSelectionColor(const QColor& color) {
    selectionColor_ = color;
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::setAnsiColor(int index, const QColor& color) {
    if (index < 0 || index > 15) return;
    surface_->setPaletteColor(index, toRgb(color));
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::setAnsiColors(const std::array<QColor, 16>& colors) {
    for (int i = 0; i < 16; ++i) surface_->setPaletteColor(i, toRgb(colors[size_t(i)]));
    fullRepaint_ = true;
    scheduleFrame();
}

QColor TerminalWidget::backgroundColor() const { return toColor(surface_->defaultBackground()); }
QColor TerminalWidget::foregroundColor() const { return toColor(surface_->defaultForeground()); }
QColor TerminalWidget::cursorColor() const { return toColor(surface_->cursorColor()); }
QColor TerminalWidget::ansiColor(int index) const { return toColor(surface_->paletteColor(std::clamp(index, 0, 15))); }

// ---- Geometry

QRect TerminalWidget::terminalRect() const {
    QRect r = contentsRect();
    r.setRight(width() - kScrollBarWidth - 1);
    return r;
}

QPoint TerminalWidget::cellAt(const QPoint& pos) const {
    const QRect area = terminalRect();
    const int col = std::clamp((pos.x() - area.left()) / std::max(cellWidth_, 1), 0, surface_->columns() - 1);
    const int row = std::clamp((pos.y() - area.top()) / std::max(cellHeight_, 1), 0, surface_->rows() - 1);
    return {pos.x() < area.left() ? 0 : col, pos.y() < area.top() ? 0 : row};
}

QSize TerminalWidget::sizeForCells(int columns, int rows) const {
    const QMargins m = contentsMargins();
    return {columns * cellWidth_ + m.left() + kScrollBarWidth, rows * cellHeight_ + m.top() + m.bottom()};
}

QSize TerminalWidget::sizeHint() const {
    return sizeForCells(80, 24);
}

QSize TerminalWidget::minimumSizeHint() const {
    return sizeForCells(10, 3);
}

void TerminalWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scrollBar_->setGeometry(width() - kScrollBarWidth, 0, kScrollBarWidth, height());
    updateGeometryFromSize();
}

void TerminalWidget::updateGeometryFromSize() {
    const QRect area = terminalRect();
    const int cols = std::max(1, area.width() / cellWidth_);
    const int rows = std::max(1, area.height() / cellHeight_);
    if (cols != surface_->columns() || rows != surface_->rows()) clearSelection();
    surface_->resize(cols, rows, cols * cellWidth_, rows * cellHeight_);
    viewOffset_ = std::min(viewOffset_, surface_->scrollback().size());
    lastPushed_ = surface_->linesPushed();
    fullRepaint_ = true;
    updateScrollBar();
    scheduleFrame();
}

// ---- Frames

void TerminalWidget::scheduleFrame() {
    if (frameTimer_.isActive()) return;
    const qint64 since = sinceFrame_.elapsed();
    frameTimer_.start(int(std::max<qint64>(0, (flooding_ ? 2 * frameInterval_ : frameInterval_) - since)));
}

void TerminalWidget::requestRepaint(const QRegion& region) {
    pendingRegion_ += region;
    scheduleFrame();
}

void TerminalWidget::frame() {
    // Inside a synchronized update the frame waits for its end, but never long.
    if (surface_->synchronizedUpdate()) {
        if (!syncHeld_.isValid()) syncHeld_.start();
        if (syncHeld_.elapsed() < kSyncHoldMillis) {
            frameTimer_.start(frameInterval_);
            return;
        }
    } else {
        syncHeld_.invalidate();
    }
    sinceFrame_.restart();
    if (QScreen* s = screen()) {
        const qreal hz = s->refreshRate();
        frameInterval_ = hz >= 30 ? std::max(4, int(1000.0 / hz)) : 16;
    }
    TerminalSurface& s = *surface_;
    const std::vector<uint8_t>& damage = s.damage();
    const int rows = s.rows();

    followOutput();
    const int64_t pushed = s.linesPushed();
    // A selection whose text was overwritten no longer means anything.
    if (hasSelection_ && !selecting_) {
        const auto [a, b] = orderedSelection();
        for (int r = 0; r < rows; ++r) {
            if (!(damage[size_t(r)] & TerminalSurface::kContentChanged)) continue;
            const int64_t line = pushed + r;
            if (line >= a.line && line <= b.line) {
                hasSelection_ = false;
                fullRepaint_ = true;
                break;
            }
        }
    }

    // When every row was rewritten or scrolled away since the last frame, the output is a
    // flood nobody reads frame by frame: the next frame waits one refresh longer, which leaves
    // the time to the emulator (input is still handled at once; only its echo waits).
    int rewritten = 0;
    for (int r = 0; r < rows; ++r) rewritten += (damage[size_t(r)] & TerminalSurface::kContentChanged) ? 1 : 0;
    flooding_ = rows > 1 && (rewritten == rows || s.scrolledSinceDamage() >= rows);

    const QRect area = terminalRect();
    QRegion region = pendingRegion_;
    pendingRegion_ = QRegion();
    if (fullRepaint_ || viewOffset_ > 0) {
        region = rect();
        fullRepaint_ = false;
    } else {
        int r = 0;
        while (r < rows) {
            if (!(damage[size_t(r)] & TerminalSurface::kRepaint)) {
                ++r;
                continue;
            }
            int end = r + 1;
            while (end < rows && (damage[size_t(end)] & TerminalSurface::kRepaint)) ++end;
            region += QRect(area.left(), area.top() + r * cellHeight_, area.width(), (end - r) * cellHeight_);
            r = end;
        }
    }
    s.takeDamage();
    updateScrollBar();
    // Pointer motion without a button reaches the view only when the program asked for it.
    const bool anyMotion = s.mouseTracking() == TerminalSurface::MouseTracking::AnyEvent;
    if (hasMouseTracking() != anyMotion) setMouseTracking(anyMotion);
    if (!region.isEmpty()) update(region);
}

void TerminalWidget::updateScrollBar() {
    const int size = surface_->scrollback().size();
    const QSignalBlocker block(scrollBar_);
    scrollBar_->setRange(0, size);
    scrollBar_->setPageStep(surface_->rows());
    scrollBar_->setValue(size - viewOffset_);
    // Its gutter is always kept, so the columns never change when the bar appears.
    scrollBar_->setVisible(size > 0 && !surface_->isAlternateScreen());
}

void TerminalWidget::styleScrollBar() {
    // A thin handle over the terminal's own background, like the rest of the view.
    const QColor bg = backgroundColor();
    const QColor handle = bg.lightness() < 128 ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 70);
    const QColor hover = bg.lightness() < 128 ? QColor(255, 255, 255, 120) : QColor(0, 0, 0, 120);
    scrollBar_->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: %1; width: %2px; margin: 0; border: none; }"
                       "QScrollBar::handle:vertical { background: %3; min-height: 24px; margin: 2px 2px 2px 3px;"
                       " border-radius: 2px; }"
                       "QScrollBar::handle:vertical:hover { background: %4; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(bg.name())
            .arg(kScrollBarWidth)
            .arg(handle.name(QColor::HexArgb), hover.name(QColor::HexArgb)));
}

void TerminalWidget::resetBlink() {
    blinkOn_ = true;
    if (focused_) blinkTimer_.start();
}

// ---- Painting

void TerminalWidget::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect area = terminalRect();
    const TerminalSurface& s = *surface_;
    const int rows = s.rows();
    const QColor defaultBg = toColor(s.reverseVideo() ? s.defaultForeground() : s.defaultBackground());

    // Margins and the part of the area no whole cell fills.
    const QRect grid(area.topLeft(), QSize(s.columns() * cellWidth_, rows * cellHeight_));
    for (const QRect& r : QRegion(event->rect()).subtracted(grid)) p.fillRect(r, defaultBg);

    const QRect dirty = event->rect();
    const int first = std::max(0, (dirty.top() - area.top()) / cellHeight_);
    const int last = std::min(rows - 1, (dirty.bottom() - area.top()) / cellHeight_);
    const int sbSize = s.scrollback().size();
    for (int r = first; r <= last; ++r) {
        const int top = area.top() + r * cellHeight_;
        if (!event->region().intersects(QRect(area.left(), top, area.width(), cellHeight_))) continue;
        const int index = sbSize - viewOffset_ + r;  // in scroll-back, then screen
        const TermRow* row;
        if (index < sbSize) {
            s.scrollback().decode(index, scratch_, s.columns());
            row = &scratch_;
        } else {
            row = &s.screenRow(index - sbSize);
        }
        paintRow(p, *row, r, s.linesPushed() - viewOffset_ + r, top);
    }
}

void TerminalWidget::paintRow(QPainter& p, const TermRow& row, int viewRow, int64_t line, int top) {
    const TerminalSurface& s = *surface_;
    const QRect area = terminalRect();
    const int cols = std::min(s.columns(), int(row.cells.size()));
    const bool reverseScreen = s.reverseVideo();
    const uint32_t defFg = reverseScreen ? s.defaultBackground() : s.defaultForeground();
    const uint32_t defBg = reverseScreen ? s.defaultForeground() : s.defaultBackground();
    const uint32_t selBg = toRgb(selectionColor_);
    const int selAlpha = selectionColor_.alpha();  // a translucent selection tints the cells beneath
    const int baseline = top + ascent_;

    // Selection columns on this line, [selFrom, selTo).
    int selFrom = 0, selTo = 0;
    if (hasSelection_) {
        const auto [a, b] = orderedSelection();
        if (line >= a.line && line <= b.line) {
            selFrom = line == a.line ? a.col : 0;
            selTo = line == b.line ? b.col : cols;
        }
    }
    const bool cursorHere = viewOffset_ + s.cursorRow() == viewRow && s.cursorVisible();
    const int cursorCol = s.cursorColumn();
    const bool blockCursor = cursorHere && focused_ && blinkOn_ && s.cursorShape() == TerminalSurface::CursorShape::Block &&
                             preedit_.isEmpty();

    // Resolved colours per cell.
    const int n = cols;
    rowColors_.resize(size_t(n));
    auto* colors = rowColors_.data();
    for (int c = 0; c < n; ++c) {
        const TermCell& cell = row.cells[size_t(c)];
        uint32_t fgColor = cell.fg;
        // Bold in one of the eight base colours shows the bright one, as xterm does: programs
        // draw grey as bold black (htop's zero values) and expect it to be seen.
        if ((cell.chAttrs & TermCell::kBold) && TermColor::isIndexed(fgColor) && (fgColor & 0xFF) < 8) fgColor += 8;
        uint32_t fg = TermColor::isDefault(fgColor) ? defFg : s.resolve(fgColor, true);
        uint32_t bg = TermColor::isDefault(cell.bg) ? defBg : s.resolve(cell.bg, false);
        const uint32_t a = cell.attrs();
        if (a & TermCell::kReverse) std::swap(fg, bg);
        if (a & TermCell::kDim) fg = blend(fg, bg, 160);
        if (c >= selFrom && c < selTo) bg = selAlpha >= 255 ? selBg : blend(selBg, bg, selAlpha);
        if (blockCursor && (c == cursorCol || (c == cursorCol + 1 && cell.isTail()))) {
            bg = s.cursorColor();
            fg = defBg;
        }
        colors[c] = {fg, bg};
    }

    // Backgrounds, in runs.
    p.fillRect(QRect(area.left(), top, area.width(), cellHeight_), toColor(defBg));
    for (int c = 0; c < n;) {
        const uint32_t bg = colors[c].bg;
        int e = c + 1;
        while (e < n && colors[e].bg == bg) ++e;
        if (bg != defBg) p.fillRect(QRect(area.left() + c * cellWidth_, top, (e - c) * cellWidth_, cellHeight_), toColor(bg));
        c = e;
    }

    // Text: runs of glyphs the font has, at exact cell positions; everything else cell by cell.
    QVector<quint32> glyphs;
    QVector<QPointF> positions;
    int runFace = -1;
    uint32_t runColor = 0;
    auto flush = [&] {
        if (glyphs.isEmpty()) return;
        FontFace& face = *faces_[runFace];
        QGlyphRun run;
        run.setRawFont(face.raw);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        p.setPen(toColor(runColor));
        if (face.synthItalic) {
            p.save();
            p.translate(0, baseline);
            p.shear(-0.2, 0);
            p.translate(0, -baseline);
            p.drawGlyphRun(QPointF(0, 0), run);
            p.restore();
        } else {
            p.drawGlyphRun(QPointF(0, 0), run);
        }
        if (face.synthBold) p.drawGlyphRun(QPointF(1, 0), run);
        glyphs.clear();
        positions.clear();
    };
    for (int c = 0; c < n; ++c) {
        const TermCell& cell = row.cells[size_t(c)];
        const uint32_t ch = cell.ch();
        if (ch == 0 || ch == ' ' || cell.isTail()) continue;
        const uint32_t a = cell.attrs();
        const int x = area.left() + c * cellWidth_;
        const int width = (a & TermCell::kWide) ? 2 : 1;
        if (BoxDrawing::handles(ch)) {
            flush();
            BoxDrawing::draw(p, QRect(x, top, cellWidth_ * width, cellHeight_), ch, toColor(colors[c].fg));
            continue;
        }
        const int faceIndex = ((a & TermCell::kBold) ? 1 : 0) | ((a & TermCell::kItalic) ? 2 : 0);
        FontFace& face = *faces_[faceIndex];
        const quint32 glyph = (a & TermCell::kCombined) || width == 2 ? 0 : face.lookup(ch);
        if (glyph == 0) {
            flush();
            paintText(p, row, c, x, baseline, top, a, toColor(colors[c].fg), width);
            continue;
        }
        if (faceIndex != runFace || colors[c].fg != runColor) {
            flush();
            runFace = faceIndex;
            runColor = colors[c].fg;
        }
        glyphs.append(glyph);
        positions.append(QPointF(x, baseline));
    }
    flush();

    // Underline and strike-through.
    for (int c = 0; c < n; ++c) {
        const TermCell& cell = row.cells[size_t(c)];
        const int ul = cell.underline();
        const bool strike = cell.attrs() & TermCell::kStrike;
        if (!ul && !strike) continue;
        const int x = area.left() + c * cellWidth_;
        const QColor color = toColor(colors[c].fg);
        if (ul == 1) p.fillRect(QRect(x, top + underlinePos_, cellWidth_, lineWidth_), color);
        else if (ul == 2) {
            p.fillRect(QRect(x, top + underlinePos_, cellWidth_, lineWidth_), color);
            p.fillRect(QRect(x, std::max(top, top + underlinePos_ - 2 * lineWidth_), cellWidth_, lineWidth_), color);
        } else if (ul == 3) {
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(color, lineWidth_));
            QPainterPath wave;
            const qreal y = top + underlinePos_ + 0.5;
            wave.moveTo(x, y);
            const qreal half = cellWidth_ / 2.0;
            wave.quadTo(x + half / 2, y - 1.5, x + half, y);
            wave.quadTo(x + half * 1.5, y + 1.5, x + cellWidth_, y);
            p.drawPath(wave);
            p.restore();
        }
        if (strike) p.fillRect(QRect(x, top + (ascent_ * 2) / 3, cellWidth_, lineWidth_), color);
    }

    // The cursor, when it is not the filled block drawn above.
    if (cursorHere && cursorCol < cols) {
        const int x = area.left() + cursorCol * cellWidth_;
        const int w = (row.cells[size_t(cursorCol)].attrs() & TermCell::kWide) ? 2 * cellWidth_ : cellWidth_;
        const QColor cc = toColor(s.cursorColor());
        if (!preedit_.isEmpty()) {
            // Text being composed by the input method, at the cursor.
            p.setFont(font_);
            const QFontMetrics fm(font_);
            const int pw = fm.horizontalAdvance(preedit_);
            p.fillRect(QRect(x, top, pw, cellHeight_), toColor(defBg));
            p.setPen(toColor(defFg));
            p.drawText(QPoint(x, baseline), preedit_);
            p.fillRect(QRect(x, top + underlinePos_, pw, lineWidth_), toColor(defFg));
        } else if (!focused_) {
            p.setPen(QPen(cc, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRect(x, top, w - 1, cellHeight_ - 1));
        } else if (blinkOn_) {
            if (s.cursorShape() == TerminalSurface::CursorShape::Underline)
                p.fillRect(QRect(x, top + cellHeight_ - 2 * lineWidth_, w, 2 * lineWidth_), cc);
            else if (s.cursorShape() == TerminalSurface::CursorShape::Bar)
                p.fillRect(QRect(x, top, std::max(2, lineWidth_ * 2), cellHeight_), cc);
        }
    }
}

void TerminalWidget::paintText(QPainter& p, const TermRow& row, int col, int x, int baseline, int top, uint32_t attrs,
                               const QColor& color, int width) {
    std::u32string chars;
    row.appendText(col, chars);
    const QString text = QString::fromUcs4(chars.data(), qsizetype(chars.size()));
    const int faceIndex = ((attrs & TermCell::kBold) ? 1 : 0) | ((attrs & TermCell::kItalic) ? 2 : 0);
    FontFace& face = *faces_[faceIndex];
    const qreal advance = face.fallbackAdvance(chars.empty() ? 0 : chars[0], text);
    const int room = width * cellWidth_;
    p.save();
    p.setClipRect(QRect(x, top, room, cellHeight_));
    p.setFont(face.font);
    p.setPen(color);
    if (advance > room * 1.05) {
        // Too wide for its cells (emoji and some symbols in fallback fonts): scale to fit.
        const qreal scale = room / advance;
        p.translate(x, baseline);
        p.scale(scale, scale);
        p.drawText(QPointF(0, 0), text);
    } else {
        p.drawText(QPointF(x + (room - advance) / 2.0, baseline), text);
    }
    p.restore();
}

// ---- Keyboard and input method

bool TerminalWidget::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride) {
        // Tab and Shift+Tab belong to the terminal, not to focus chains or shortcuts.
        auto* key = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && mods == Qt::NoModifier) {
            e->accept();
            return true;
        }
    }
    return QWidget::event(e);
}

bool TerminalWidget::focusNextPrevChild(bool) {
    return false;
}

void TerminalWidget::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    const Qt::KeyboardModifiers chord = mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    if (chord == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_C) {
        copy();
        return;
    }
    if (chord == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_V) {
        pasteClipboard();
        return;
    }
    if (chord == Qt::ShiftModifier && !surface_->isAlternateScreen()) {
        const int page = std::max(1, surface_->rows() - 1);
        switch (key) {
        case Qt::Key_PageUp: scrollLines(page); return;
        case Qt::Key_PageDown: scrollLines(-page); return;
        case Qt::Key_Home: scrollLines(surface_->scrollback().size()); return;
        case Qt::Key_End: scrollToBottom(); return;
        default: break;
        }
    }
    if (surface_->sendKey(key, mods, event->text())) {
        scrollToBottom();
        resetBlink();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TerminalWidget::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) {
        surface_->sendText(event->commitString());
        scrollToBottom();
    }
    if (preedit_ != event->preeditString()) {
        preedit_ = event->preeditString();
        fullRepaint_ = true;
        scheduleFrame();
    }
    event->accept();
}

QVariant TerminalWidget::inputMethodQuery(Qt::InputMethodQuery query) const {
    const QRect area = terminalRect();
    const QRect cursor(area.left() + surface_->cursorColumn() * cellWidth_,
                       area.top() + (surface_->cursorRow() + viewOffset_) * cellHeight_, cellWidth_, cellHeight_);
    switch (query) {
    case Qt::ImEnabled: return true;
    case Qt::ImCursorRectangle: return cursor;
    case Qt::ImFont: return font_;
    case Qt::ImCursorPosition: return 0;
    case Qt::ImSurroundingText: return QString();
    case Qt::ImHints: return int(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    default: return QWidget::inputMethodQuery(query);
    }
}

void TerminalWidget::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focused_ = true;
    surface_->setFocused(true);
    resetBlink();
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focused_ = false;
    surface_->setFocused(false);
    blinkTimer_.stop();
    blinkOn_ = true;
    fullRepaint_ = true;
    scheduleFrame();
}

// ---- Mouse

bool TerminalWidget::mouseReportingActive(Qt::KeyboardModifiers modifiers) const {
    // Shift always selects, as in other terminals, so text can be copied from mouse programs.
    return mouseReportingAllowed_ && surface_->mouseTracking() != TerminalSurface::MouseTracking::Off &&
           surface_->mouseTracking() != TerminalSurface::MouseTracking::X10 && !(modifiers & Qt::ShiftModifier) &&
           viewOffset_ == 0;
}

int TerminalWidget::reportButton(Qt::MouseButton button) const {
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::MiddleButton: return 2;
    case Qt::RightButton: return 3;
    default: return 0;
    }
}

void TerminalWidget::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    if (mouseReportingActive(event->modifiers())) {
        const int button = reportButton(event->button());
        if (button) {
            const QPoint cell = cellAt(pos);
            surface_->mouseMove(cell.x(), cell.y(), event->modifiers());
            surface_->mouseButton(button, true, event->modifiers());
            heldButton_ = button;
        }
        return;
    }
    if (event->button() == Qt::MiddleButton) {
        paste(QApplication::clipboard()->text(QClipboard::Selection));
        return;
    }
    if (event->button() != Qt::LeftButton) return;

    const bool triple = lastDoubleClick_.isValid() && lastDoubleClick_.elapsed() < QApplication::doubleClickInterval() &&
                        (pos - lastDoubleClickPos_).manhattanLength() < 6;
    if (triple) {
        lastDoubleClick_.invalidate();
        selectMode_ = SelectMode::Line;
        const SelPos p = selPosAt(pos, false);
        selAnchor_ = {p.line, 0};
        while (selAnchor_.line > firstLine() && lineWrapped(selAnchor_.line - 1)) --selAnchor_.line;
        selAnchorEnd_ = {p.line, surface_->columns()};
        while (lineWrapped(selAnchorEnd_.line) && selAnchorEnd_.line + 1 < lastLine()) ++selAnchorEnd_.line;
        selHead_ = selAnchorEnd_;
        hasSelection_ = true;
        selecting_ = true;
        fullRepaint_ = true;
        scheduleFrame();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier && hasSelection_) {
        selecting_ = true;
        updateSelection(pos);
        return;
    }
    selectMode_ = SelectMode::Character;
    selAnchor_ = selAnchorEnd_ = selHead_ = selPosAt(pos, true);
    if (hasSelection_) {
        fullRepaint_ = true;
        scheduleFrame();
    }
    hasSelection_ = false;
    selecting_ = true;
}

void TerminalWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (mouseReportingActive(event->modifiers())) {
        mousePressEvent(event);
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    lastDoubleClick_.start();
    lastDoubleClickPos_ = pos;
    selectMode_ = SelectMode::Word;
    const SelPos p = selPosAt(pos, false);
    selAnchor_ = wordStart(p);
    selAnchorEnd_ = wordEnd(p);
    selHead_ = selAnchorEnd_;
    hasSelection_ = selAnchor_ < selAnchorEnd_;
    selecting_ = true;
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (mouseReportingActive(event->modifiers()) && !selecting_) {
        const QPoint cell = cellAt(pos);
        if (cell.x() != lastReportedCol_ || cell.y() != lastReportedRow_) {
            lastReportedCol_ = cell.x();
            lastReportedRow_ = cell.y();
            surface_->mouseMove(cell.x(), cell.y(), event->modifiers());
        }
        return;
    }
    if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
    const QRect area = terminalRect();
    if (pos.y() < area.top()) scrollLines(1);
    else if (pos.y() >= area.top() + surface_->rows() * cellHeight_) scrollLines(-1);
    updateSelection(pos);
}

void TerminalWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (heldButton_ && reportButton(event->button()) == heldButton_) {
        const QPoint cell = cellAt(event->position().toPoint());
        surface_->mouseMove(cell.x(), cell.y(), event->modifiers());
        surface_->mouseButton(heldButton_, false, event->modifiers());
        heldButton_ = 0;
        return;
    }
    if (event->button() == Qt::LeftButton && selecting_) {
        selecting_ = false;
        if (hasSelection_) publishSelection();
    }
}

void TerminalWidget::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    if (delta.y() == 0) {
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int notches = delta.y() / 120 != 0 ? delta.y() / 120 : (delta.y() > 0 ? 1 : -1);
    int lines;
    if (!event->pixelDelta().isNull()) {
        wheelPixels_ += event->pixelDelta().y();
        lines = int(wheelPixels_ / cellHeight_);
        wheelPixels_ -= lines * cellHeight_;
    } else {
        lines = notches * QApplication::wheelScrollLines();
    }
    if (mouseReportingActive(event->modifiers())) {
        const QPoint cell = cellAt(pos);
        const int count = std::abs(event->pixelDelta().isNull() ? notches : lines);
        const Qt::KeyboardModifiers m = event->modifiers();
        for (int i = 0; i < count; ++i)
            surface_->sendMouseReport(delta.y() > 0 ? 4 : 5, false, m & Qt::ShiftModifier, m & Qt::AltModifier,
                                      m & Qt::ControlModifier, cell.x(), cell.y());
    } else if (surface_->isAlternateScreen()) {
        // Full-screen programs without mouse support scroll with the cursor keys.
        for (int i = 0; i < std::abs(lines); ++i) surface_->sendKey(lines > 0 ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier);
    } else {
        scrollLines(lines);
    }
    event->accept();
}

void TerminalWidget::contextMenuEvent(QContextMenuEvent* event) {
    if (mouseReportingActive(event->modifiers())) return;
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("Copy"), this, &TerminalWidget::copy);
    copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyAction->setEnabled(hasSelection_);
    QAction* pasteAction = menu.addAction(tr("Paste"), this, &TerminalWidget::pasteClipboard);
    pasteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    pasteAction->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, &TerminalWidget::selectAll);
    menu.exec(event->globalPos());
}

// ---- Scrolling

void TerminalWidget::followOutput() {
    // Keep a scrolled-back view on the same lines while output pushes more into the scroll-back.
    const int64_t pushed = surface_->linesPushed();
    if (pushed == lastPushed_) return;
    if (viewOffset_ > 0) {
        viewOffset_ = int(std::clamp<int64_t>(viewOffset_ + (pushed - lastPushed_), 0, surface_->scrollback().size()));
        fullRepaint_ = true;
    }
    lastPushed_ = pushed;
}

void TerminalWidget::scrollLines(int lines) {
    followOutput();
    const int next = std::clamp(viewOffset_ + lines, 0, surface_->scrollback().size());
    if (next == viewOffset_) return;
    viewOffset_ = next;
    fullRepaint_ = true;
    updateScrollBar();
    scheduleFrame();
}

void TerminalWidget::scrollToBottom() {
    scrollLines(-viewOffset_);
}

// ---- Selection

int64_t TerminalWidget::firstLine() const {
    return surface_->linesPushed() - surface_->scrollback().size();
}

int64_t TerminalWidget::lastLine() const {
    return surface_->linesPushed() + surface_->rows();
}

const TermRow* TerminalWidget::lineRow(int64_t line, TermRow& scratch) const {
    const TerminalSurface& s = *surface_;
    if (line >= s.linesPushed()) {
        const int r = int(line - s.linesPushed());
        return r < s.rows() ? &s.screenRow(r) : nullptr;
    }
    const int64_t index = line - firstLine();
    if (index < 0) return nullptr;
    s.scrollback().decode(int(index), scratch, s.columns());
    return &scratch;
}

bool TerminalWidget::lineWrapped(int64_t line) const {
    const TerminalSurface& s = *surface_;
    if (line >= s.linesPushed()) {
        const int r = int(line - s.linesPushed());
        return r < s.rows() && s.screenRow(r).wrapped;
    }
    const int64_t index = line - firstLine();
    return index >= 0 && s.scrollback().isWrapped(int(index));
}

int64_t TerminalWidget::lineAtViewRow(int row) const {
    return surface_->linesPushed() - viewOffset_ + row;
}

TerminalWidget::SelPos TerminalWidget::selPosAt(const QPoint& pos, bool nearestBoundary) const {
    const QRect area = terminalRect();
    const int rows = surface_->rows();
    int row = (pos.y() - area.top()) / std::max(1, cellHeight_);
    if (pos.y() < area.top()) row = 0;
    row = std::clamp(row, 0, rows - 1);
    const qreal fx = qreal(pos.x() - area.left()) / std::max(1, cellWidth_);
    int col = nearestBoundary ? int(std::lround(fx)) : int(std::floor(fx));
    col = std::clamp(col, 0, surface_->columns() - (nearestBoundary ? 0 : 1));
    if (pos.y() >= area.top() + rows * cellHeight_) col = surface_->columns();
    return {lineAtViewRow(row), col};
}

std::pair<TerminalWidget::SelPos, TerminalWidget::SelPos> TerminalWidget::orderedSelection() const {
    // The anchor is a range (a word or a line when selecting by words or lines).
    if (selHead_ < selAnchor_) return {selHead_, selAnchorEnd_};
    return {selAnchor_, std::max(selAnchorEnd_, selHead_)};
}

TerminalWidget::SelPos TerminalWidget::wordStart(SelPos p) const {
    TermRow scratch;
    const TermRow* row = lineRow(p.line, scratch);
    if (!row) return p;
    const int cols = int(row->cells.size());
    int c = std::min(p.col, cols - 1);
    if (row->cells[size_t(c)].isTail() && c > 0) --c;
    if (!isWordChar(row->cells[size_t(c)].ch())) return {p.line, c};
    while (c > 0) {
        const TermCell& prev = row->cells[size_t(c - 1)];
        const TermCell& prevHead = prev.isTail() && c > 1 ? row->cells[size_t(c - 2)] : prev;
        if (!isWordChar(prevHead.ch())) break;
        c -= prev.isTail() ? 2 : 1;
    }
    return {p.line, std::max(c, 0)};
}

TerminalWidget::SelPos TerminalWidget::wordEnd(SelPos p) const {
    TermRow scratch;
    const TermRow* row = lineRow(p.line, scratch);
    if (!row) return p;
    const int cols = int(row->cells.size());
    int c = std::min(p.col, cols - 1);
    if (row->cells[size_t(c)].isTail() && c > 0) --c;
    if (!isWordChar(row->cells[size_t(c)].ch())) return {p.line, c + ((row->cells[size_t(c)].attrs() & TermCell::kWide) ? 2 : 1)};
    while (c < cols) {
        const TermCell& cell = row->cells[size_t(c)];
        if (cell.isTail()) {
            ++c;
            continue;
        }
        if (!isWordChar(cell.ch())) break;
        ++c;
    }
    return {p.line, c};
}

void TerminalWidget::updateSelection(const QPoint& pos) {
    SelPos head = selPosAt(pos, selectMode_ == SelectMode::Character);
    if (selectMode_ == SelectMode::Word) {
        head = head < selAnchor_ ? wordStart(head) : wordEnd(head);
    } else if (selectMode_ == SelectMode::Line) {
        if (head < selAnchor_) {
            head.col = 0;
            while (head.line > firstLine() && lineWrapped(head.line - 1)) --head.line;
        } else {
            head.col = surface_->columns();
            while (lineWrapped(head.line) && head.line + 1 < lastLine()) ++head.line;
        }
    }
    if (head == selHead_) return;
    selHead_ = head;
    const auto [a, b] = orderedSelection();
    hasSelection_ = a < b;
    fullRepaint_ = true;
    scheduleFrame();
}

QString TerminalWidget::selectedText() const {
    if (!hasSelection_) return {};
    const auto [a, b] = orderedSelection();
    const int cols = surface_->columns();
    std::u32string out;
    TermRow scratch;
    for (int64_t line = std::max(a.line, firstLine()); line <= b.line && line < lastLine(); ++line) {
        const TermRow* row = lineRow(line, scratch);
        if (!row) continue;
        const int from = line == a.line ? a.col : 0;
        const int to = std::min(line == b.line ? b.col : cols, int(row->cells.size()));
        std::u32string text;
        for (int c = from; c < to; ++c) {
            if (row->cells[size_t(c)].ch() == 0 && !row->cells[size_t(c)].isTail()) text.push_back(U' ');
            else row->appendText(c, text);
        }
        const bool wraps = row->wrapped && line != b.line && to >= cols;
        if (!wraps) {
            while (!text.empty() && text.back() == U' ') text.pop_back();
        }
        out += text;
        if (line != b.line && !wraps) out.push_back(U'\n');
    }
    return QString::fromUcs4(out.data(), qsizetype(out.size()));
}

void TerminalWidget::selectAll() {
    selectMode_ = SelectMode::Character;
    selAnchor_ = selAnchorEnd_ = {firstLine(), 0};
    selHead_ = {lastLine() - 1, surface_->columns()};
    hasSelection_ = true;
    selecting_ = false;
    publishSelection();
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::clearSelection() {
    if (!hasSelection_) return;
    hasSelection_ = false;
    selecting_ = false;
    fullRepaint_ = true;
    scheduleFrame();
}

void TerminalWidget::publishSelection() {
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection()) clipboard->setText(selectedText(), QClipboard::Selection);
}

void TerminalWidget::copy() {
    if (!hasSelection_) return;
    QApplication::clipboard()->setText(selectedText(), QClipboard::Clipboard);
}

void TerminalWidget::pasteClipboard() {
    paste(QApplication::clipboard()->text(QClipboard::Clipboard));
}
