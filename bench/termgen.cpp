// termgen KIND MEGABYTES: writes a deterministic terminal stream (see StreamGen.h) to stdout.
#include "StreamGen.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: termgen plain|color|redraw|text80 MEGABYTES\n", stderr);
        return 2;
    }
    const std::string out = streamgen::generate(argv[1], size_t(std::atof(argv[2]) * 1000 * 1000));
    if (out.empty()) {
        std::fputs("termgen: unknown kind\n", stderr);
        return 2;
    }
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() ? 0 : 1;
}
