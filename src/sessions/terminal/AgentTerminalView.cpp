#include "sessions/terminal/AgentTerminalView.h"

#include "core/Log.h"
#include "core/Text.h"
#include "sessions/terminal/TmuxCheatsheet.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

#include <cstdlib>
#include <ctime>

namespace {

// Local file paths of a drag, in the order given; empty when it carries none.
QStringList localFilePaths(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    return paths;
}

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

double uptimeSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

}  // namespace

AgentTerminalView::AgentTerminalView(QWidget* parent) : TerminalWidget(parent) {
    setAcceptDrops(true);
    cheatsheetTimer_.setSingleShot(true);
    cheatsheetTimer_.setTimerType(Qt::PreciseTimer);  // 3.5 s, not up to 5% more
    connect(&cheatsheetTimer_, &QTimer::timeout, this, &AgentTerminalView::hideCheatsheet);
    // Wheel events over the scroll bar concern this view as well.
    for (QScrollBar* bar : findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly)) bar->installEventFilter(this);
}

AgentTerminalView::~AgentTerminalView() {
    cheatsheetTimer_.stop();
    if (cheatsheetFade_) cheatsheetFade_->stop();
}

QString AgentTerminalView::currentScreenText() const {
    const TerminalSurface* s = surface();
    QStringList lines;
    lines.reserve(s->rows());
    for (int row = 0; row < s->rows(); ++row) {
        QString text = s->rowText(row);
        qsizetype end = text.size();
        while (end > 0 && text.at(end - 1) == QLatin1Char(' ')) --end;
        text.truncate(end);
        lines << text;
    }
    return lines.join(QLatin1Char('\n'));
}

// ---- Hooks

void AgentTerminalView::dataReceived(QByteArrayView bytes) {
    if (onPtyData) onPtyData(bytes);
    TerminalWidget::dataReceived(bytes);
}

void AgentTerminalView::dataSent(QByteArrayView bytes) {
    if (inputTraceEnabled()) {
        const QString message = outgoingTraceMessage(bytes);
        if (!message.isEmpty()) trace(message);
    }
    TerminalWidget::dataSent(bytes);
}

void AgentTerminalView::processEnded(std::optional<int> exitCode) {
    SystemLog::write(u"AgentTerminalView",
                     QStringLiteral("processTerminated exitCode=%1")
                         .arg(exitCode ? QString::number(*exitCode) : QStringLiteral("nil")));
    TerminalWidget::processEnded(exitCode);
    if (onProcessTerminated) onProcessTerminated(exitCode);
}

// ---- Wheel and pointer

bool AgentTerminalView::isPointerTarget(const QWidget* hit) const {
    return hit && hit->window() == window() && (hit == this || isAncestorOf(hit));
}

bool AgentTerminalView::mouseReportingOn() const {
    // libvterm has no X10 mode; a program asking for it reads as Off.
    using Tracking = TerminalSurface::MouseTracking;
    const Tracking tracking = surface()->mouseTracking();
    return mouseReportingAllowed() &&
           (tracking == Tracking::Normal || tracking == Tracking::ButtonEvent || tracking == Tracking::AnyEvent);
}

bool AgentTerminalView::wheelGoesToProgram() const {
    return mouseReportingOn() || surface()->isAlternateScreen();
}

bool AgentTerminalView::forwardWheel(QWheelEvent* event, QPointF pos) {
    if (!wheelGoesToProgram()) return false;
    TerminalSurface* s = surface();

    // Qt on X11 turns Alt+wheel into a horizontal wheel; here Alt is a modifier of the report.
    const Qt::KeyboardModifiers mods = event->modifiers();
    auto vertical = [&](QPoint delta) { return delta.y() == 0 && (mods & Qt::AltModifier) ? delta.x() : delta.y(); };
    const int pixels = vertical(event->pixelDelta());
    const int angle = vertical(event->angleDelta());
    constexpr int kStep = QWheelEvent::DefaultDeltasPerStep;
    int lines;
    if (!event->pixelDelta().isNull()) {
        lines = wheelAccumulator_.add(pixels, double(height()) / std::max(s->rows(), 1));
    } else if (angle % kStep == 0) {
        lines = TerminalWheelScroll::lines(double(angle) / kStep);
    } else {
        // A high-resolution wheel sends a step in fractions; each whole step is one line, as a
        // classic wheel's step is.
        lines = wheelStepAccumulator_.add(angle, kStep);
    }
    if (lines == 0) return true;

    if (mouseReportingOn()) {
        const QPoint cell = TerminalWheelScroll::cellAt(pos.x(), height() - pos.y(), width(), height(), s->columns(),
                                                        s->rows());
        const int button = lines > 0 ? 4 : 5;
        for (int i = 0; i < std::abs(lines); ++i) {
            s->sendMouseReport(button, false, mods & Qt::ShiftModifier, mods & Qt::AltModifier,
                               mods & Qt::ControlModifier, cell.x(), cell.y());
        }
        return true;
    }
    const bool application = s->applicationCursorKeys();
    const QByteArray up = application ? QByteArrayLiteral("\x1bOA") : QByteArrayLiteral("\x1b[A");
    const QByteArray down = application ? QByteArrayLiteral("\x1bOB") : QByteArrayLiteral("\x1b[B");
    for (int i = 0; i < std::abs(lines); ++i) s->sendBytes(lines > 0 ? up : down);
    return true;
}

void AgentTerminalView::wheelEvent(QWheelEvent* event) {
    if (forwardWheel(event, event->position())) {
        event->accept();
        return;
    }
    TerminalWidget::wheelEvent(event);
}

bool AgentTerminalView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget != this && isPointerTarget(widget)) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            if (forwardWheel(wheel, widget->mapTo(this, wheel->position()))) {
                wheel->accept();
                return true;
            }
        }
    }
    return TerminalWidget::eventFilter(watched, event);
}

void AgentTerminalView::mouseMoveEvent(QMouseEvent* event) {
    // In any-event tracking, motion without a button is not reported: agents' interfaces
    // redraw on every report, and the pointer merely passing over must not disturb them.
    if (surface()->mouseTracking() == TerminalSurface::MouseTracking::AnyEvent && event->buttons() == Qt::NoButton) {
        event->accept();
        return;
    }
    TerminalWidget::mouseMoveEvent(event);
}

// ---- Keys and the hint card

void AgentTerminalView::installKeyMonitor() {
    if (keyMonitorInstalled_) return;
    keyMonitorInstalled_ = true;
}

void AgentTerminalView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (inputTraceEnabled()) {
        const char* name = key == Qt::Key_Left    ? "left"
                           : key == Qt::Key_Right ? "right"
                           : key == Qt::Key_Down  ? "down"
                           : key == Qt::Key_Up    ? "up"
                                                  : nullptr;
        if (name) {
            trace(QStringLiteral("keyDown ") + QLatin1StringView(name) +
                  (event->isAutoRepeat() ? QStringLiteral(" (repeat)") : QString()));
        }
    }
    // A modifier pressed on its own is not a key stroke yet (pressing Ctrl for the next Ctrl+B
    // must not hide the card).
    if (keyMonitorInstalled_ && !isModifierKey(key)) {
        if (key == Qt::Key_B && event->modifiers() == Qt::ControlModifier) showCheatsheet();
        else if (isCheatsheetShown()) hideCheatsheet();
    }
    // Always on to the terminal: Ctrl+B is tmux's prefix.
    TerminalWidget::keyPressEvent(event);
}

bool AgentTerminalView::isCheatsheetShown() const {
    return cheatsheet_ && !cheatsheet_->isHidden();
}

void AgentTerminalView::showCheatsheet() {
    if (!cheatsheet_) {
        cheatsheet_ = new VRNXTmuxCheatsheet(this);
        cheatsheet_->hide();
        cheatsheetOpacity_ = new QGraphicsOpacityEffect(cheatsheet_);
        cheatsheetOpacity_->setOpacity(1);
        cheatsheet_->setGraphicsEffect(cheatsheetOpacity_);
        cheatsheetFade_ = new QPropertyAnimation(cheatsheetOpacity_, "opacity", cheatsheet_);
        cheatsheetFade_->setDuration(kCheatsheetFadeMillis);
        cheatsheetFade_->setEndValue(0.0);
        connect(cheatsheetFade_, &QPropertyAnimation::finished, this, [this] {
            if (cheatsheet_) cheatsheet_->hide();
        });
    }
    // Shown again while fading: the fade is cancelled, so it cannot take the card away.
    cheatsheetFade_->stop();
    if (cheatsheet_->isHidden()) {
        placeCheatsheet();
        cheatsheet_->show();
        cheatsheet_->raise();
    }
    cheatsheetOpacity_->setOpacity(1);
    cheatsheetTimer_.start(cheatsheetMillis_);
}

void AgentTerminalView::hideCheatsheet() {
    cheatsheetTimer_.stop();
    if (!isCheatsheetShown() || cheatsheetFade_->state() == QAbstractAnimation::Running) return;
    cheatsheetFade_->setStartValue(cheatsheetOpacity_->opacity());
    cheatsheetFade_->start();
}

void AgentTerminalView::placeCheatsheet() {
    if (!cheatsheet_) return;
    cheatsheet_->move(width() - kCheatsheetInset - cheatsheet_->width(),
                      height() - kCheatsheetInset - cheatsheet_->height());
}

void AgentTerminalView::resizeEvent(QResizeEvent* event) {
    TerminalWidget::resizeEvent(event);
    placeCheatsheet();
}

// ---- File drops

QString AgentTerminalView::dropText(const QStringList& paths) {
    QStringList parts;
    for (const QString& path : paths) {
        bool control = false;
        for (QChar c : path) control = control || c.unicode() < 0x20 || c.unicode() == 0x7F;
        if (control || path.isEmpty()) continue;
        const bool quote = path.contains(QLatin1Char(' ')) || path.contains(QLatin1Char('\''));
        parts << (quote ? shellQuote(path) : path);
    }
    return parts.join(QLatin1Char(' '));
}

void AgentTerminalView::dragEnterEvent(QDragEnterEvent* event) {
    if (localFilePaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void AgentTerminalView::dragMoveEvent(QDragMoveEvent* event) {
    if (localFilePaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void AgentTerminalView::dropEvent(QDropEvent* event) {
    const QString text = dropText(localFilePaths(event->mimeData()));
    if (text.isEmpty()) {
        event->ignore();
        return;
    }
    scrollToBottom();
    sendText(text);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// ---- Input tracing

bool AgentTerminalView::inputTraceEnabled() {
    static const bool enabled = qEnvironmentVariableIsSet("VRNX_INPUT_TRACE");
    return enabled;
}

QString AgentTerminalView::outgoingTraceMessage(QByteArrayView bytes) {
    const char* name = nullptr;
    if (bytes.size() == 1 && (bytes[0] == '\r' || bytes[0] == '\n')) {
        name = "ENTER";
    } else if (bytes.size() == 3 && bytes[0] == '\x1b' && (bytes[1] == '[' || bytes[1] == 'O')) {
        switch (bytes[2]) {
        case 'A': name = "up"; break;
        case 'B': name = "down"; break;
        case 'C': name = "right"; break;
        case 'D': name = "left"; break;
        default: break;
        }
    }
    if (!name) return {};
    QStringList hex;
    for (char byte : bytes) hex << QStringLiteral("%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0'));
    return QStringLiteral("send\u2192PTY ") + QLatin1StringView(name) + QStringLiteral("  bytes=") +
           hex.join(QLatin1Char(' '));
}

void AgentTerminalView::trace(const QString& message) const {
    const QString label = inputTraceLabel.isEmpty() ? QStringLiteral("term") : inputTraceLabel;
    const QString tag = QStringLiteral("VRNX-INPUT %1").arg(uptimeSeconds(), 0, 'f', 4);
    SystemLog::write(tag, label + QLatin1Char(' ') + message);
}
