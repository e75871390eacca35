// The emulator alone (no PTY, no drawing) on the three streams, against libvterm's own screen
// layer and against its parser with callbacks that do nothing (the ceiling), in the same run.
#include "StreamGen.h"
#include "sessions/terminal/TerminalSurface.h"

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <map>

namespace {

constexpr int kCols = 120, kRows = 40;
constexpr size_t kChunk = 4096;  // what one read of the terminal gives

const std::string& stream(const std::string& kind) {
    static std::map<std::string, std::string> cache;
    auto it = cache.find(kind);
    if (it == cache.end()) {
        std::string s;
        // The terminal's line discipline turns LF into CR LF on the way.
        for (char c : streamgen::generate(kind, 8 * 1000 * 1000)) {
            if (c == '\n') s += '\r';
            s += c;
        }
        it = cache.emplace(kind, std::move(s)).first;
    }
    return it->second;
}

template <typename Feed>
void run(benchmark::State& state, const std::string& kind, Feed feed) {
    const std::string& data = stream(kind);
    for (auto _ : state) {
        for (size_t i = 0; i < data.size(); i += kChunk) feed(data.data() + i, std::min(kChunk, data.size() - i));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void Surface(benchmark::State& state, const std::string& kind) {
    TerminalSurface surface(kCols, kRows);
    run(state, kind, [&](const char* p, size_t n) { surface.feed(QByteArrayView(p, qsizetype(n))); });
}

int noDamage(VTermRect, void*) { return 1; }
int noPush(int, const VTermScreenCell*, void*) { return 1; }

void VTermScreenLayer(benchmark::State& state, const std::string& kind) {
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static const VTermScreenCallbacks callbacks = {&noDamage, nullptr, nullptr, nullptr, nullptr, nullptr, &noPush, nullptr};
    vterm_screen_set_callbacks(screen, &callbacks, nullptr);
    vterm_screen_reset(screen, 1);
    run(state, kind, [&](const char* p, size_t n) { vterm_input_write(vt, p, n); });
    vterm_free(vt);
}

int glyph(VTermGlyphInfo*, VTermPos, void*) { return 1; }
int cursor(VTermPos, VTermPos, int, void*) { return 1; }
int scroll(VTermRect, int, int, void*) { return 1; }
int erase(VTermRect, int, void*) { return 1; }
int pen(void*) { return 1; }
int penAttr(VTermAttr, VTermValue*, void*) { return 1; }
int prop(VTermProp, VTermValue*, void*) { return 1; }

void VTermParserCeiling(benchmark::State& state, const std::string& kind) {
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 1);
    VTermState* st = vterm_obtain_state(vt);
    static const VTermStateCallbacks callbacks = {&glyph, &cursor, &scroll, nullptr, &erase, &pen, &penAttr, &prop};
    vterm_state_set_callbacks(st, &callbacks, nullptr);
    vterm_state_reset(st, 1);
    run(state, kind, [&](const char* p, size_t n) { vterm_input_write(vt, p, n); });
    vterm_free(vt);
}

}  // namespace

BENCHMARK_CAPTURE(VTermParserCeiling, plain, std::string("plain"));
BENCHMARK_CAPTURE(VTermScreenLayer, plain, std::string("plain"));
BENCHMARK_CAPTURE(Surface, plain, std::string("plain"));
BENCHMARK_CAPTURE(VTermParserCeiling, color, std::string("color"));
BENCHMARK_CAPTURE(VTermScreenLayer, color, std::string("color"));
BENCHMARK_CAPTURE(Surface, color, std::string("color"));
BENCHMARK_CAPTURE(VTermParserCeiling, redraw, std::string("redraw"));
BENCHMARK_CAPTURE(VTermScreenLayer, redraw, std::string("redraw"));
BENCHMARK_CAPTURE(Surface, redraw, std::string("redraw"));

BENCHMARK_MAIN();
