// pelmora-window-count: counts as the window's commands do, for timing that path.
//
//   pelmora-window-count DIR...
//   pelmora-window-count --default-jobs
//
// For each directory: stats::CountTree (the engine with its default number of threads, the
// figures mirrored into DirStats), then the figures read back from DirStats as the Stats
// command's labels are. Prints "DIRS FILES BYTES" per directory. With --default-jobs, prints
// the number of threads a count uses by default on this machine.
#include <cstdio>
#include <string_view>

#include "stats/counting.h"

int main(int argc, char** argv) {
    using namespace pelmora::stats;
    if (argc < 2) {
        std::fprintf(stderr, "usage: pelmora-window-count DIR...\n");
        return 2;
    }
    if (std::string_view(argv[1]) == "--default-jobs") {
        std::printf("%u\n", defaultJobs());
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        CountTree(argv[i]);
        std::printf("%lld %lld %s\n", static_cast<long long>(DirStats.DirCount),
                    static_cast<long long>(DirStats.FileCount),
                    DirStats.ByteTotal.toFixed0().c_str());
    }
    return 0;
}
