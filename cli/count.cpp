#include <charconv>
#include <iostream>

#include "cli/commands.h"
#include "output/DataFile.h"
#include "platform/paths.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "stats/engine.h"

namespace pelmora::cli {

namespace {

// Collects a data-file line for printing.
class StringSink : public output::DataSink {
  public:
    std::string bytes;
    void write(std::string_view b) override { bytes.append(b); }
    void close() override {}
};

}  // namespace

bool parseJobs(const std::string& text, unsigned& jobs) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 1024)
        return false;
    jobs = value;
    return true;
}

unsigned defaultJobs() {
    return stats::defaultJobs();
}

int runCount(const Args& args) {
    bool csv = false;
    unsigned jobs = defaultJobs();
    std::vector<std::string> dirs;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--csv") {
            csv = true;
        } else if (options && (a == "--jobs" || a == "-j")) {
            if (i + 1 >= args.size() || !parseJobs(args[i + 1], jobs))
                return usageError("count: --jobs needs a number from 1 to 1024");
            ++i;
        } else if (options && a.rfind("--jobs=", 0) == 0) {
            if (!parseJobs(a.substr(7), jobs))
                return usageError("count: --jobs needs a number from 1 to 1024");
        } else if (options && a.size() > 1 && a[0] == '-') {
            return usageError("count: unknown option '" + a + "'");
        } else {
            dirs.push_back(a);
        }
    }
    if (dirs.empty()) return usageError("count: no directory given");

    // Like the window's start-up: the volume of the current directory sets the overhead.
    stats::ProbeVolume();
    const std::int32_t entryOverhead = stats::EntryOverhead;
    stats::CountOptions counting;
    counting.jobs = jobs;
    for (const std::string& dir : dirs) {
        const stats::CountResult s = stats::count(dir, counting);
        const output::LineFigures figures = output::figuresOf(s, entryOverhead);
        if (csv) {
            StringSink line;
            output::writeDataLine(line, dir, figures);
            std::cout << line.bytes;
        } else {
            std::cout << dir << '\n'
                      << "Total Directories " << stats::FormatCount(figures.dirCount) << '\n'
                      << "Total Files " << stats::FormatCount(figures.fileCount) << '\n'
                      << "Total Bytes " << stats::FormatCount(figures.byteTotal) << '\n'
                      << "Cluster Overhead " << stats::FormatCount(figures.overhead) << '\n';
        }
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

}  // namespace pelmora::cli
