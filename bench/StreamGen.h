#pragma once

// Terminal streams for the benchmarks:
//   plain   lines of words, as a log or a compiler writes them
//   color   colour-heavy UTF-8: 16/256/true colours, bold, accents, wide CJK and emoji
//   redraw  full-screen redraws of a 120x40 screen by cursor addressing, no scrolling
//   text80  lines of exactly 80 columns (for the scroll-back memory figure)
#include <cstdio>
#include <string>

namespace streamgen {

inline unsigned long long state = 0x9E3779B97F4A7C15ull;
inline unsigned next(unsigned n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return unsigned((state >> 33) % n);
}

inline std::string word() {
    std::string w;
    const unsigned len = 1 + next(9);
    for (unsigned i = 0; i < len; ++i) w += char('a' + next(26));
    return w;
}

inline const char* const kWide[] = {"漢", "字", "日", "本", "語", "中", "文", "한", "국", "😀", "🚀", "✨"};

// Deterministic streams, the same in every run.
inline std::string generate(const std::string& kind, size_t target) {
    state = 0x9E3779B97F4A7C15ull;
    std::string out;
    out.reserve(target + 4096);
    while (out.size() < target) {
        if (kind == "plain") {
            std::string line;
            const unsigned words = next(19);
            for (unsigned i = 0; i < words && line.size() < 110; ++i) line += word() + ' ';
            out += line + '\n';
        } else if (kind == "color") {
            std::string line;
            const unsigned words = next(11);
            for (unsigned i = 0; i < words; ++i) {
                std::string w;
                const unsigned r = next(100);
                if (r < 30) w = word();
                else if (r < 50) for (unsigned k = 0; k <= next(3); ++k) w += kWide[next(9)];
                else if (r < 55) w = kWide[9 + next(3)];
                else w = "\xC3\xA9" + word() + "\xC3\xBC";
                const unsigned c = next(100);
                char sgr[48];
                if (c < 30) std::snprintf(sgr, sizeof sgr, "\x1b[%um", 31 + next(7));
                else if (c < 60) std::snprintf(sgr, sizeof sgr, "\x1b[38;5;%um", next(256));
                else if (c < 80) std::snprintf(sgr, sizeof sgr, "\x1b[1;38;2;%u;%u;%um", next(256), next(256), next(256));
                else sgr[0] = 0;
                line += sgr + w + (sgr[0] ? "\x1b[0m " : " ");
            }
            out += line + '\n';
        } else if (kind == "redraw") {
            out += "\x1b[H";
            for (int row = 1; row <= 40; ++row) {
                char pos[24];
                std::snprintf(pos, sizeof pos, "\x1b[%d;1H", row);
                out += pos;
                size_t col = 0;
                while (col < 110) {
                    const std::string w = word();
                    char sgr[24];
                    std::snprintf(sgr, sizeof sgr, "\x1b[%u;%um", 30 + next(8), 40 + next(8));
                    out += sgr + w + ' ';
                    col += w.size() + 1;
                }
                out += "\x1b[K";
            }
        } else if (kind == "text80") {
            std::string line;
            while (line.size() < 80) line += word() + ' ';
            out += line.substr(0, 80) + '\n';
        } else {
            return {};
        }
    }
    return out;
}

}  // namespace streamgen
