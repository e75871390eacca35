// Throughput of the terminal-output analyser on an agent-like stream: full-screen redraws with
// synchronized updates, truecolour and 256-colour attributes, box drawing and other UTF-8 text,
// window titles, a spinner redrawn in place, and cursor movement. The baseline is a plain scan
// that looks at every byte once.
#include "observe/PTYStreamAnalyzer.h"

#include "BenchSupport.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdint>
#include <cstring>

namespace {

class Rng {
public:
    uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return uint32_t(state_ >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
private:
    uint64_t state_ = 0x5eed;
};

const char* const kWords[] = {"the", "function", "returns", "a", "value", "when", "error", "handling", "file",
                              "src/main.cpp", "const", "auto", "std::vector<int>", "42", "tests", "pass", "build"};

QByteArray agentStream(qsizetype size) {
    Rng rng;
    QByteArray out;
    out.reserve(size + 8192);
    const char* spinner[] = {"\xe2\x9c\xbb", "\xe2\x9c\xb6", "\xe2\x9c\xb3", "\xe2\x9c\xa2"};
    while (out.size() < size) {
        out += "\x1b[?2026h\x1b[?25l\x1b[H";
        out += "\x1b]0;\xe2\x9c\xb3 Claude Code\x07";
        for (int row = 0; row < 38; ++row) {
            out += "\x1b[2K";
            if (row % 7 == 0) out += "\x1b[38;2;215;119;87m\xe2\x8f\xba\x1b[39m ";
            else out += "\x1b[2m\xe2\x94\x82\x1b[22m ";
            const int words = 4 + int(rng.below(12));
            for (int w = 0; w < words; ++w) {
                if (rng.below(6) == 0) out += "\x1b[1m";
                if (rng.below(9) == 0) out += "\x1b[38;5;" + QByteArray::number(16 + rng.below(200)) + "m";
                out += kWords[rng.below(sizeof kWords / sizeof *kWords)];
                out += rng.below(20) == 0 ? "\xe2\x80\xa6 " : " ";
                if (rng.below(6) == 0) out += "\x1b[0m";
            }
            out += "\r\n";
        }
        // The status line redrawn a few times in place.
        for (int tick = 0; tick < 6; ++tick) {
            out += "\r\x1b[2K\x1b[38;5;174m";
            out += spinner[tick % 4];
            out += "\x1b[39m Thinking\xe2\x80\xa6 \x1b[2m(esc to interrupt \xc2\xb7 " + QByteArray::number(tick) +
                   "s \xc2\xb7 \xe2\x86\x91 1.2k tokens)\x1b[22m";
        }
        out += "\r\n\x1b[3A\x1b[12C\x1b[?25h\x1b[?2026l";
    }
    out.truncate(size);
    return out;
}

constexpr qsizetype kStreamBytes = 16 << 20;
constexpr qsizetype kChunk = 4096;

const QByteArray& stream() {
    static const QByteArray s = agentStream(kStreamBytes);
    return s;
}

// Baseline: one pass over every byte, doing the least a classifier must do (count escapes and
// printable bytes), in the same chunks.
void BM_ScanBaseline(benchmark::State& state) {
    const QByteArray& s = stream();
    uint64_t escapes = 0, printable = 0;
    for (auto _ : state) {
        for (qsizetype at = 0; at < s.size(); at += kChunk) {
            const auto* p = reinterpret_cast<const unsigned char*>(s.constData() + at);
            const qsizetype n = std::min(kChunk, s.size() - at);
            for (qsizetype i = 0; i < n; ++i) {
                escapes += p[i] == 27;
                printable += p[i] >= 32 && p[i] < 127;
            }
        }
        benchmark::DoNotOptimize(escapes);
        benchmark::DoNotOptimize(printable);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * s.size());
}
BENCHMARK(BM_ScanBaseline)->Unit(benchmark::kMillisecond);

// The analyser fed in terminal-sized chunks, timers restarted per chunk as in the application.
void BM_AnalyzerFeed(benchmark::State& state) {
    const QByteArray& s = stream();
    PTYStreamAnalyzer analyzer;
    for (auto _ : state) {
        for (qsizetype at = 0; at < s.size(); at += kChunk) analyzer.feed(QByteArrayView(s).sliced(at, std::min(kChunk, s.size() - at)));
    }
    benchmark::DoNotOptimize(analyzer.recentText());
    state.SetBytesProcessed(int64_t(state.iterations()) * s.size());
}
BENCHMARK(BM_AnalyzerFeed)->Unit(benchmark::kMillisecond);

// Plain text with no escapes at all: the text path alone.
void BM_AnalyzerFeedPlainText(benchmark::State& state) {
    QByteArray text;
    Rng rng;
    while (text.size() < kStreamBytes) {
        text += kWords[rng.below(sizeof kWords / sizeof *kWords)];
        text += rng.below(12) == 0 ? "\r\n" : " ";
    }
    PTYStreamAnalyzer analyzer;
    for (auto _ : state) {
        for (qsizetype at = 0; at < text.size(); at += kChunk)
            analyzer.feed(QByteArrayView(text).sliced(at, std::min(kChunk, text.size() - at)));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(BM_AnalyzerFeedPlainText)->Unit(benchmark::kMillisecond);

// One frame judgement over a full recent-text buffer (runs at most once per 50 ms pause).
void BM_AnalyzeFrame(benchmark::State& state) {
    PTYStreamAnalyzer analyzer;
    analyzer.feed(QByteArrayView(stream()).first(64 * 1024));
    for (auto _ : state) analyzer.analyzeFrame();
}
BENCHMARK(BM_AnalyzeFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the analyser's timers need the thread's event dispatcher
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_AnalyzerFeed", "BM_ScanBaseline"}, {"BM_AnalyzerFeedPlainText", "BM_ScanBaseline"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
