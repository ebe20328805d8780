// pelmora-listbench: times what the list and the data file cost, for bench/lists.sh.
//
//   pelmora-listbench load FILE            loads FILE as a watched list; prints lines, seconds
//   pelmora-listbench export LIST ROUNDS   writes LIST's data file ROUNDS times in each of two
//                                          ways, side by side in each round: through the
//                                          one-step replacement the program uses, and through a
//                                          plain truncating write (this program's only); prints
//                                          the median seconds of each, the spread of the
//                                          difference within a round, and the same two writes
//                                          without counting (what the replacement adds)
//
// Both exports count every directory with CountTree, as the window does.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/locale.h"
#include "platform/replacefile.h"
#include "platform/volumes.h"
#include "stats/counting.h"

using namespace pelmora;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The data file as it was written before: created or emptied, then written in blocks.
class PlainSink : public output::DataSink {
  public:
    explicit PlainSink(const std::string& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) {
        if (m_fd < 0) std::exit(3);
    }
    void write(std::string_view bytes) override {
        m_buffer.append(bytes);
        if (m_buffer.size() >= output::FileSink::kBlockSize) flush();
    }
    void close() override {
        flush();
        ::close(m_fd);
    }

  private:
    void flush() {
        if (platform::writeAll(m_fd, m_buffer) != 0) std::exit(3);
        m_buffer.clear();
    }
    int m_fd;
    std::string m_buffer;
};

int load(const char* path) {
    list::WatchedList l;
    const double t0 = now();
    list::loadList(l, path);
    const double t1 = now();
    for (int i = 1; i < l.count(); ++i)
        if (platform::compareTextIgnoreCase(l.at(i - 1), l.at(i)) > 0) {
            std::fprintf(stderr, "not sorted at %d\n", i);
            return 1;
        }
    std::printf("%d lines loaded in %.3f s\n", l.count(), t1 - t0);
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int exportBoth(const char* listPath, int rounds) {
    list::WatchedList l;
    list::loadList(l, listPath);
    stats::ProbeVolume(platform::systemVolumes());
    const std::string data = output::dataFileName(listPath);
    std::vector<double> atomic, plain, ratio;
    for (int r = 0; r < rounds; ++r) {
        double took[2] = {0, 0};
        for (int way = 0; way < 2; ++way) {
            const bool replaced = (r + way) % 2 == 0;  // alternate which goes first
            const double t0 = now();
            stats::ListCount counts(l.entries(), {});
            if (replaced) {
                output::FileSink sink(data, listPath);
                output::writeDataFile(l, sink, output::countEach(counts), stats::EntryOverhead);
            } else {
                PlainSink sink(data);
                output::writeDataFile(l, sink, output::countEach(counts), stats::EntryOverhead);
            }
            took[replaced ? 0 : 1] = now() - t0;
        }
        atomic.push_back(took[0]);
        plain.push_back(took[1]);
        ratio.push_back(took[0] / took[1] - 1);  // the pair ran side by side
    }
    // The same lines without counting: what the replacement itself adds, in absolute terms.
    std::vector<double> atomicOnly, plainOnly;
    const output::CountFunction fixed = [](std::size_t, std::string_view) {
        return stats::CountResult{};
    };
    for (int r = 0; r < rounds; ++r) {
        double t0 = now();
        {
            output::FileSink sink(data, listPath);
            output::writeDataFile(l, sink, fixed, 0);
        }
        atomicOnly.push_back(now() - t0);
        t0 = now();
        {
            PlainSink sink(data);
            output::writeDataFile(l, sink, fixed, 0);
        }
        plainOnly.push_back(now() - t0);
    }
    std::sort(ratio.begin(), ratio.end());
    const double a = median(atomic), p = median(plain);
    std::printf(
        "%d entries, %d rounds: replaced %.4f s, plain %.4f s (medians); difference within a "
        "round: median %+.1f %%, quartiles %+.1f %% .. %+.1f %%\n",
        l.count(), rounds, a, p, 100 * ratio[ratio.size() / 2], 100 * ratio[ratio.size() / 4],
        100 * ratio[ratio.size() * 3 / 4]);
    std::printf("  writing alone (no count): replaced %.2f ms, plain %.2f ms (medians)\n",
                1000 * median(atomicOnly), 1000 * median(plainOnly));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "load") return load(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "export")
        return exportBoth(argv[2], std::atoi(argv[3]));
    std::fputs("usage: pelmora-listbench load FILE | export LIST ROUNDS\n", stderr);
    return 2;
}
