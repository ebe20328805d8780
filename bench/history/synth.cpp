// pelmora-history-synth LIST [WEEKS]: fills LIST's history with a year (or WEEKS) of weekly
// snapshots of eight directories with plausible growth: photos with holiday jumps, a database
// growing ever faster, a build folder cleaned now and then, logs rotated monthly, backups,
// downloads going up and down. The same figures on every run. For docs/history.png:
//   pelmora-history-synth /tmp/demo/WEEKLY.PML && pelmora-chart /tmp/demo/WEEKLY.PML -o
//   docs/history.png
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "history/History.h"

namespace {

using namespace pelmora;

constexpr double kGiB = 1024.0 * 1024 * 1024;
constexpr std::int64_t kStart = 1767582000;  // 2026-01-05T03:00:00Z, a Monday

struct Directory {
    const char* path;
    double averageFile;  // bytes per file, for plausible counts
    std::function<double(int week, std::mt19937& rng)> bytes;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: pelmora-history-synth LIST [WEEKS]\n");
        return 2;
    }
    const int weeks = argc == 3 ? std::atoi(argv[2]) : 52;
    std::mt19937 rng(20260105);
    double downloads = 6 * kGiB;
    double build = 3 * kGiB;
    const std::vector<Directory> dirs = {
        {"/home/alice/Pictures/Photos", 4.2e6,
         [](int w, std::mt19937& r) {
             double b =
                 48 * kGiB + w * 0.25 * kGiB + std::uniform_real_distribution<>(0, 0.1)(r) * kGiB;
             if (w >= 16) b += 9 * kGiB;   // spring holiday
             if (w >= 31) b += 14 * kGiB;  // summer holiday
             if (w >= 51) b += 5 * kGiB;
             return b;
         }},
        {"/var/lib/postgresql/15/main", 8.0e6,
         [](int w, std::mt19937&) { return 12 * kGiB * std::exp(w / 30.0); }},
        {"/srv/backups/nightly", 2.5e8,
         [](int w, std::mt19937&) { return 30 * kGiB + w * 0.9 * kGiB; }},
        {"/home/alice/Projects/pelmora/build-release", 6.0e4,
         [&build](int w, std::mt19937& r) {
             build += std::uniform_real_distribution<>(0.4, 1.6)(r) * kGiB;
             if (w % 13 == 12) build = 3 * kGiB;  // cleaned every quarter
             return build;
         }},
        {"/home/alice/Downloads", 3.0e7,
         [&downloads](int, std::mt19937& r) {
             downloads =
                 std::max(1.0 * kGiB, downloads + std::normal_distribution<>(0.15, 1.2)(r) * kGiB);
             return downloads;
         }},
        {"/var/log", 1.5e5,
         [](int w, std::mt19937&) { return 0.6 * kGiB + (w % 4) * 0.45 * kGiB; }},
        {"/home/alice/Videos/Family/2026 - Summer in Brittany (4K masters, unedited)", 1.2e9,
         [](int w, std::mt19937&) {
             return w < 30 ? 2 * kGiB : w < 33 ? 2 * kGiB + (w - 29) * 20 * kGiB : 62 * kGiB;
         }},
        {"/home/alice/Documents", 6.0e5,
         [](int w, std::mt19937&) { return 7.5 * kGiB + w * 0.04 * kGiB; }},
    };
    try {
        for (int w = 0; w < weeks; ++w) {
            history::Snapshot s;
            s.time = kStart + w * 7LL * 86400 + std::uniform_int_distribution<>(0, 900)(rng);
            s.host = "workstation";
            s.listPath = argv[1];
            for (const Directory& d : dirs) {
                history::Row row;
                row.entry = d.path;
                const double b = std::round(d.bytes(w, rng));
                row.bytes = static_cast<__int128>(b);
                row.files = static_cast<std::int64_t>(b / d.averageFile) + 1;
                row.directories = row.files / 40 + 1;
                row.overhead = (row.files + row.directories) * 2048;
                row.allocated = static_cast<std::int64_t>(b * 1.01);
                s.rows.push_back(row);
            }
            history::recordSnapshot(argv[1], s);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmora-history-synth: %s\n", e.what());
        return 1;
    }
    return 0;
}
