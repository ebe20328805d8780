// pelmora-depth-count: a count that also keeps the figures of the directories below its start.
//
//   pelmora-depth-count DEPTH DIR
//
// Counts DIR with the engine's default threads and keeps every directory down to DEPTH levels
// below it (0: a plain count). Prints "DIRS FILES BYTES KEPT" and, on stderr, the peak resident
// memory in KiB.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "stats/engine.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelmora-depth-count DEPTH DIR\n");
        return 2;
    }
    pelmora::stats::CountOptions options;
    options.depth = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const pelmora::stats::CountResult r = pelmora::stats::count(argv[2], options);
    std::printf("%lld %lld %s %zu\n", static_cast<long long>(r.directories),
                static_cast<long long>(r.files), r.byteTotal.toFixed0().c_str(), r.below.size());
    // The high-water mark of this program's own memory (getrusage's would include what a
    // parent held when it forked this process).
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            std::fprintf(stderr, "peak %ld KiB\n", std::strtol(line.c_str() + 6, nullptr, 10));
    }
    return 0;
}
