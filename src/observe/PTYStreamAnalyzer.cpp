#include "observe/PTYStreamAnalyzer.h"

#include <QStringView>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif


namespace {

constexpr unsigned char kEsc = 27;
constexpr unsigned char kBel = 7;

inline bool isText(unsigned char b) { return unsigned(b - 32) < 95u || b == 10; }

// "?1049" as the control sequence's parameter bytes, shifted in one by one.
constexpr quint64 kLeaveAlternateScreenParams =
    (quint64('?') << 32) | (quint64('1') << 24) | (quint64('0') << 16) | (quint64('4') << 8) | quint64('9');

// The end of the run of text bytes that starts at p.
inline const unsigned char* skipText(const unsigned char* p, const unsigned char* end) {
#ifdef __SSE2__
    // Sixteen at a time: signed, every byte of 128 or more is below 32.
    const __m128i space = _mm_set1_epi8(32), tilde = _mm_set1_epi8(126), lineFeed = _mm_set1_epi8(10);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i outside = _mm_or_si128(_mm_cmpgt_epi8(space, v), _mm_cmpgt_epi8(v, tilde));
        const int mask = _mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi8(v, lineFeed), outside));
        if (mask) return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    while (p < end && isText(*p)) ++p;
    return p;
}

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
    frameTimer_.setSingleShot(true);
    idleTimer_.setSingleShot(true);
    // The timers are members: they die with the analyser, so they never outlive it.
    QObject::connect(&frameTimer_, &QTimer::timeout, &frameTimer_, [this] { analyzeFrame(); });
    QObject::connect(&idleTimer_, &QTimer::timeout, &idleTimer_, [this] { idleTimeout(); });
}

PTYStreamAnalyzer::~PTYStreamAnalyzer() = default;

void PTYStreamAnalyzer::feed(QByteArrayView bytes) {
    // The escape state is worked on in locals: the compiler keeps them in registers, which it
    // could not do for members while storing bytes through a char pointer.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    Escape escape = escape_;
    int length = escapeLength_;
    unsigned char last = escapeLast_;
    int paramLength = csiParamLength_;
    quint64 params = csiParams_;

    // A control sequence from its parameters on; clears `escape` when its final byte is seen.
    auto scanCsi = [&](const unsigned char* q) {
        while (q < end) {
            const unsigned char b = *q++;
            if (b >= 64 && b <= 126) {
                escape = Escape::None;
                if (b == 'l' && paramLength == 5 && params == kLeaveAlternateScreenParams) {
                    escape_ = escape;
                    // Leaving the alternate screen: the full-screen program is gone.
                    updateState(SessionState::idle, false);
                }
                break;
            }
            // No length bound; only the first bytes are kept.
            if (paramLength < 9) {
                params = (params << 8) | b;
                ++paramLength;
            }
        }
        return q;
    };

    while (p < end) {
        switch (escape) {
        case Escape::None:
            while (p < end) {
                const auto* run = p;
                p = skipText(p, end);
                if (p > run) appendText(run, p - run, end);
                if (p == end) break;
                if (*p != kEsc) {
                    // Carriage return, tab, other controls and all non-ASCII bytes are dropped.
                    ++p;
                    continue;
                }
                if (end - p >= 2 && p[1] == '[') {
                    // The usual case, handled without leaving this loop.
                    escape = Escape::Csi;
                    paramLength = 0;
                    params = 0;
                    p = scanCsi(p + 2);
                    if (escape != Escape::None) break;
                    continue;
                }
                escape = Escape::Start;
                length = 1;
                ++p;
                break;
            }
            break;
        case Escape::Start: {
            const unsigned char b = *p++;
            ++length;
            if (b == '[') {
                escape = Escape::Csi;
                paramLength = 0;
                params = 0;
            } else if (b == ']') {
                escape = Escape::Osc;
                last = b;
            } else {
                escape = Escape::None;  // a two-byte escape
            }
            break;
        }
        case Escape::Csi:
            p = scanCsi(p);
            break;
        case Escape::Osc:
            // Ends at BEL or ESC \; abandoned at its 257th byte, after which bytes are text again.
            while (p < end) {
                const unsigned char b = *p++;
                ++length;
                if (b == kBel || (b == '\\' && last == kEsc) || length > kMaxOscBytes) {
                    escape = Escape::None;
                    break;
                }
                last = b;
            }
            break;
        }
    }
    escape_ = escape;
    escapeLength_ = length;
    escapeLast_ = last;
    csiParamLength_ = paramLength;
    csiParams_ = params;

    frameTimer_.start(kFrameDelayMs);
    idleTimer_.start(idleTimeoutMs_);
}

void PTYStreamAnalyzer::appendText(const unsigned char* data, qsizetype size, const unsigned char* end) {
    // Only the last 2000 characters are ever read; the buffer holds up to twice that so it is
    // compacted once per two thousand characters at most.
    if (size >= kRecentTextLimit) {
        std::memcpy(recentText_, data + size - kRecentTextLimit, size_t(kRecentTextLimit));
        recentTextSize_ = kRecentTextLimit;
        return;
    }
    if (recentTextSize_ + size > kRecentTextCapacity) {
        const qsizetype keep = kRecentTextLimit - size;
        std::memmove(recentText_, recentText_ + recentTextSize_ - keep, size_t(keep));
        recentTextSize_ = keep;
    }
#ifdef __SSE2__
    // Short runs (words between attribute changes) are copied as one 16-byte block when both
    // sides have room; the bytes past the run are overwritten by the next append.
    if (size <= 16 && end - data >= 16 && recentTextSize_ + 16 <= kRecentTextCapacity) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(recentText_ + recentTextSize_),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
        recentTextSize_ += size;
        return;
    }
#else
    (void)end;
#endif
    std::memcpy(recentText_ + recentTextSize_, data, size_t(size));
    recentTextSize_ += size;
}

QString PTYStreamAnalyzer::recentText() const {
    const qsizetype size = std::min(recentTextSize_, kRecentTextLimit);
    return QString::fromLatin1(recentText_ + recentTextSize_ - size, size);
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
