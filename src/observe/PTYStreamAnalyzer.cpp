#include "observe/PTYStreamAnalyzer.h"

#include <QStringView>

#include <cstring>

namespace {

constexpr unsigned char kEsc = 27;
constexpr unsigned char kBel = 7;
// The text buffer compacts to its last 2000 characters when it reaches this size.
constexpr size_t kRecentTextCapacity = 4096;

inline bool isText(unsigned char b) { return (b >= 32 && b <= 126) || b == 10; }

bool isBlankLine(QStringView line) {
    for (const QChar c : line)
        if (!c.isSpace()) return false;
    return true;
}

bool containsAny(const QString& text, std::initializer_list<QLatin1StringView> phrases) {
    for (const auto& phrase : phrases)
        if (text.contains(phrase)) return true;
    return false;
}

}  // namespace

PTYStreamAnalyzer::PTYStreamAnalyzer() {
    recentText_.reserve(kRecentTextCapacity);
    frameTimer_.setSingleShot(true);
    idleTimer_.setSingleShot(true);
    // The timers are members: they die with the analyser, so they never outlive it.
    QObject::connect(&frameTimer_, &QTimer::timeout, &frameTimer_, [this] { analyzeFrame(); });
    QObject::connect(&idleTimer_, &QTimer::timeout, &idleTimer_, [this] { idleTimeout(); });
}

PTYStreamAnalyzer::~PTYStreamAnalyzer() = default;

void PTYStreamAnalyzer::feed(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (escape_ != Escape::None) {
            p = consumeEscape(p, end);
            continue;
        }
        const auto* run = p;
        while (p < end && isText(*p)) ++p;
        if (p > run) appendText(run, p - run);
        if (p == end) break;
        if (*p == kEsc) {
            escape_ = Escape::Start;
            escapeLength_ = 1;
            escapeLast_ = kEsc;
        }
        // Every other byte (carriage return, tab, controls, all non-ASCII) is dropped.
        ++p;
    }
    if (recentText_.size() > size_t(kRecentTextLimit))
        recentText_.erase(0, recentText_.size() - size_t(kRecentTextLimit));

    frameTimer_.start(kFrameDelayMs);
    idleTimer_.start(idleTimeoutMs_);
}

const unsigned char* PTYStreamAnalyzer::consumeEscape(const unsigned char* p, const unsigned char* end) {
    switch (escape_) {
    case Escape::Start: {
        const unsigned char b = *p++;
        ++escapeLength_;
        if (b == '[') {
            escape_ = Escape::Csi;
            csiParamLength_ = 0;
        } else if (b == ']') {
            escape_ = Escape::Osc;
            escapeLast_ = b;
        } else {
            endEscape();  // a two-byte escape
        }
        return p;
    }
    case Escape::Csi:
        // Ends at its first byte from "@" to "~"; no length bound, but only a few bytes are kept.
        while (p < end) {
            const unsigned char b = *p++;
            if (b >= 64 && b <= 126) {
                finishCsi(b);
                endEscape();
                return p;
            }
            if (csiParamLength_ < int(sizeof csiParams_)) csiParams_[csiParamLength_] = char(b);
            if (csiParamLength_ < 1 << 30) ++csiParamLength_;
        }
        return p;
    case Escape::Osc:
        // Ends at BEL or ESC \; abandoned at its 257th byte, after which bytes are text again.
        while (p < end) {
            const unsigned char b = *p++;
            ++escapeLength_;
            if (b == kBel || (b == '\\' && escapeLast_ == kEsc)) {
                endEscape();
                return p;
            }
            if (escapeLength_ > kMaxOscBytes) {
                endEscape();
                return p;
            }
            escapeLast_ = b;
        }
        return p;
    case Escape::None:
        break;
    }
    return p;
}

void PTYStreamAnalyzer::finishCsi(unsigned char finalByte) {
    // Leaving the alternate screen: the full-screen program is gone.
    if (finalByte == 'l' && csiParamLength_ == 5 && std::memcmp(csiParams_, "?1049", 5) == 0)
        updateState(SessionState::idle, false);
}

void PTYStreamAnalyzer::appendText(const unsigned char* data, qsizetype size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    if (size >= kRecentTextLimit) {
        recentText_.assign(chars + size - kRecentTextLimit, size_t(kRecentTextLimit));
        return;
    }
    if (recentText_.size() + size_t(size) > kRecentTextCapacity)
        recentText_.erase(0, recentText_.size() + size_t(size) - size_t(kRecentTextLimit));
    recentText_.append(chars, size_t(size));
}

void PTYStreamAnalyzer::analyzeFrame() {
    const QString text = screenProvider_ ? screenProvider_() : recentText();
    const Decision decision = decide(tailOf(text), state_);
    if (decision.state) updateState(*decision.state, decision.confirmMenu);
}

QString PTYStreamAnalyzer::tailOf(const QString& text) {
    // Walk back from the end collecting the last lines that are not blank.
    QStringView lines[kTailLines];
    int count = 0;
    qsizetype end = text.size();
    while (count < kTailLines) {
        const qsizetype nl = end > 0 ? text.lastIndexOf(QLatin1Char('\n'), end - 1) : -1;
        const qsizetype begin = nl + 1;
        const QStringView line = QStringView(text).mid(begin, end - begin);
        if (!isBlankLine(line)) lines[count++] = line;
        if (nl < 0) break;
        end = nl;
    }
    QString tail;
    for (int i = count - 1; i >= 0; --i) {
        tail += lines[i];
        if (i > 0) tail += QLatin1Char('\n');
    }
    return tail.toLower();
}

PTYStreamAnalyzer::Decision PTYStreamAnalyzer::decide(const QString& tail, SessionState current) {
    using L = QLatin1StringView;
    if (containsAny(tail, {L("tab to amend"), L("allow all edits"), L("don't ask again")}) ||
        (tail.contains(L("do you want to")) && tail.contains(L("1. yes"))))
        return {SessionState::needsAttention, true};
    if ((tail.contains(L("allow")) && tail.contains(L("deny"))) || containsAny(tail, {L("[y/n]"), L("(y/n)")}))
        return {SessionState::needsAttention, false};
    const bool interruptible = containsAny(tail, {L("esc to interrupt"), L("esc to cancel")});
    if (interruptible && tail.contains(L("thinking"))) return {SessionState::thinking, false};
    if (interruptible) return {SessionState::generating, false};
    if (containsAny(tail, {L("/effort"), L("shift+tab to cycle"), L("> ")})) return {SessionState::userInput, false};
    if (tail.endsWith(L("$ ")) || tail.endsWith(L("% "))) return {SessionState::idle, false};
    if (tail.endsWith(QStringView(u"\u276F "))) return {SessionState::idle, false};
    if (current == SessionState::needsAttention) return {SessionState::userInput, false};
    return {};
}

void PTYStreamAnalyzer::updateState(SessionState next, bool confirmMenu) {
    attentionIsConfirmMenu_ = next == SessionState::needsAttention && confirmMenu;
    if (next == state_) return;
    state_ = next;
    if (onStateChange_) onStateChange_(next);
}

void PTYStreamAnalyzer::idleTimeout() {
    if (state_ == SessionState::generating || state_ == SessionState::thinking)
        updateState(SessionState::userInput, false);
}
