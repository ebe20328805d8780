// pelmora-history-bench [--repeat N] [--dir DIR]: times the history's two costs a user waits for,
// each as a whole call (open, check, work, close), as pelmora-cli makes it:
//   record: one snapshot of a 10,000-entry list, into a history that already holds a year of
//           weekly snapshots of that list (limit 400 ms);
//   query:  the growth report over 365 snapshots of 1,000 directories, all directories and the
//           top 8 with their series for the chart (limit 300 ms);
//   explain: where one directory grew, over a year of weekly snapshots of a list of 10
//           directories with 1,000 subdirectories each, all of them changing every week
//           (limit 200 ms), and recording one more such snapshot (limit 400 ms).
// Each begins with SQLite's check of the whole file's structure, which grows with the file.
// Prints min, median and max wall time of N runs (default 15) and the median CPU time (which a
// busy machine does not inflate), and exits 1 when a wall-time median is over its limit.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <ctime>
#include <vector>

#include "history/History.h"

namespace {

using namespace pelmora;
using Clock = std::chrono::steady_clock;

history::Snapshot snapshotOf(const std::string& list, int entries, int n) {
    history::Snapshot s;
    s.time = 1767582000 + n * 86400LL;
    s.host = "bench";
    s.listPath = list;
    s.rows.reserve(entries);
    for (int i = 0; i < entries; ++i) {
        history::Row r;
        char path[96];
        std::snprintf(path, sizeof path, "/srv/data/projects/group-%03d/member-%05d", i / 100, i);
        r.entry = path;
        r.directories = 10 + i % 50;
        r.files = 1000 + i * 3 + n;
        r.bytes =
            static_cast<__int128>(1000000) * (i + 1) + static_cast<__int128>(n) * 4096 * (i % 7);
        r.overhead = (r.directories + r.files) * 2048;
        r.allocated = static_cast<std::int64_t>(r.bytes) + 4096;
        s.rows.push_back(std::move(r));
    }
    return s;
}

// Weekly snapshot `n` of `entries` directories with `children` subdirectories each, every one
// of them changed since the week before (the most a snapshot keeps).
history::Snapshot withChildren(const std::string& list, int entries, int children, int n) {
    history::Snapshot s = snapshotOf(list, entries, n * 7);
    s.depth = 1;
    for (history::Row& r : s.rows) {
        r.children.reserve(children);
        for (int c = 0; c < children; ++c) {
            history::ChildRow k;
            k.name = "sub-" + std::to_string(c);
            k.directories = c % 9;
            k.files = 10 + c + (c % 13 == 0 ? n : 0);
            k.bytes = static_cast<__int128>(4096) * (c + 1) + n * 512LL * (c % 7 + 1);
            r.children.push_back(std::move(k));
        }
    }
    return s;
}

struct Stats {
    double min, median, max, cpu;
};

double cpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

template <class F>
Stats measure(int repeat, F&& f) {
    std::vector<double> ms, cpu;
    for (int i = 0; i < repeat; ++i) {
        const double c0 = cpuMs();
        const auto t0 = Clock::now();
        f(i);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        cpu.push_back(cpuMs() - c0);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms.front(), ms[ms.size() / 2], ms.back(), cpu[cpu.size() / 2]};
}

bool report(const char* what, const Stats& s, double limit) {
    const bool ok = s.median <= limit;
    std::printf("%-38s wall min %6.1f  median %6.1f  max %6.1f  cpu %6.1f ms  (limit %.0f) %s\n",
                what, s.min, s.median, s.max, s.cpu, limit, ok ? "ok" : "OVER");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 15;
    std::string dir = (std::filesystem::temp_directory_path() / "pelmora-history-bench").string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else {
            std::fprintf(stderr, "usage: pelmora-history-bench [--repeat N] [--dir DIR]\n");
            return 2;
        }
    }
    try {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        bool ok = true;

        // A year of weekly snapshots of a 10,000-entry list, then one more each run.
        const std::string big = dir + "/BIG.PML";
        for (int n = 0; n < 52; ++n) history::recordSnapshot(big, snapshotOf(big, 10000, n * 7));
        std::vector<history::Snapshot> next;
        for (int i = 0; i < repeat; ++i) next.push_back(snapshotOf(big, 10000, 400 + i));
        ok &= report("record 10,000 entries (history of 52)",
                     measure(repeat, [&](int i) { history::recordSnapshot(big, next[i]); }), 400);

        // 365 daily snapshots of 1,000 directories.
        const std::string year = dir + "/YEAR.PML";
        for (int n = 0; n < 365; ++n) history::recordSnapshot(year, snapshotOf(year, 1000, n));
        std::size_t rows = 0;
        ok &= report("query 365 x 1,000, all directories",
                     measure(repeat,
                             [&](int) {
                                 history::Query q;
                                 rows = history::queryHistory(year, q).directories.size();
                             }),
                     300);
        ok &= report("query 365 x 1,000, top 8 with series",
                     measure(repeat,
                             [&](int) {
                                 history::Query q;
                                 q.top = 8;
                                 q.series = true;
                                 rows += history::queryHistory(year, q).directories.size();
                             }),
                     300);
        ok &= report("query 365 x 1,000, one month",
                     measure(repeat,
                             [&](int) {
                                 history::Query q;
                                 q.range.since = 1767582000 + 100 * 86400LL;
                                 q.range.until = 1767582000 + 130 * 86400LL;
                                 rows += history::queryHistory(year, q).directories.size();
                             }),
                     300);

        // A year of weekly snapshots of 10 directories with 1,000 subdirectories each.
        const std::string weeks = dir + "/WEEKS.PML";
        for (int n = 0; n < 52; ++n)
            history::recordSnapshot(weeks, withChildren(weeks, 10, 1000, n));
        const std::string explained = snapshotOf(weeks, 10, 0).rows[3].entry;
        ok &= report(
            "explain 52 x 1,000 subdirectories",
            measure(repeat,
                    [&](int) {
                        rows += history::explainHistory(weeks, explained, {}).subdirectories.size();
                    }),
            200);
        ok &= report(
            "explain 52 x 1,000, top 8 with series",
            measure(repeat,
                    [&](int) {
                        history::Query q;
                        q.top = 8;
                        q.series = true;
                        rows += history::explainHistory(weeks, explained, q).subdirectories.size();
                    }),
            200);
        std::vector<history::Snapshot> more;
        for (int i = 0; i < repeat; ++i) more.push_back(withChildren(weeks, 10, 1000, 60 + i));
        ok &= report("record 10 x 1,000 subdirectories",
                     measure(repeat, [&](int i) { history::recordSnapshot(weeks, more[i]); }), 400);
        std::printf(
            "database sizes: %.1f MiB (52+%d x 10,000), %.1f MiB (365 x 1,000), %.1f MiB "
            "(52+%d x 10 x 1,000 subdirectories)\n",
            std::filesystem::file_size(history::historyFileName(big)) / 1048576.0, repeat,
            std::filesystem::file_size(history::historyFileName(year)) / 1048576.0,
            std::filesystem::file_size(history::historyFileName(weeks)) / 1048576.0, repeat);
        std::filesystem::remove_all(dir);
        if (rows == 0) return 1;
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmora-history-bench: %s\n", e.what());
        return 1;
    }
}
