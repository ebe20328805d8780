// What count, export and snapshot share: the counting options, one count of a directory with
// interruption (and the progress line), and the messages of the directories it could not read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "output/DataFile.h"
#include "stats/engine.h"

namespace pelmora::cli {

enum CountingOptionId { kOptJobs = 1000, kOptQuiet, kOptDiskUsage };

inline constexpr OptionDef kCountingOptions[] = {
    {"jobs", 'j', true, kOptJobs},
    {"quiet", 'q', false, kOptQuiet},
    {"disk-usage", '\0', false, kOptDiskUsage},
};

struct Counting {
    unsigned jobs = 0;
    bool quiet = false;
    bool diskUsage = false;

    // Takes one of kCountingOptions. Returns "" or the usage error's text.
    std::string take(int id, const std::string& value);
};

// The engine's options for `counting`: its threads and disk usage, stopped by SIGINT or SIGTERM
// (stats::Cancelled).
stats::CountOptions countOptions(const Counting& counting);

class ProgressLine;

// Directories counted in one walk per enclosing entry (the entries of a list, or the DIRs of
// count), stopped by SIGINT or SIGTERM, with the progress line on a terminal's stderr for the
// whole run (unless --quiet).
class CountedList {
  public:
    CountedList(std::vector<std::string> entries, const Counting& counting, unsigned depth = 0);
    ~CountedList();
    CountedList(const CountedList&) = delete;
    CountedList& operator=(const CountedList&) = delete;

    stats::ListCount& counts() { return *m_counts; }

  private:
    std::unique_ptr<stats::CountProgress> m_progress;
    std::unique_ptr<ProgressLine> m_line;
    std::unique_ptr<stats::ListCount> m_counts;
};

// Says on stderr which directories could not be read: one line per kept error,
// "cannot read directory 'PATH': REASON", and one more when more were found than kept.
void reportErrors(std::string_view dir, const stats::CountResult& result);

// The data-file line of `entry` (CR LF), with `allocated` as a sixth field when given.
std::string dataLine(std::string_view entry, const output::LineFigures& figures,
                     const std::int64_t* allocated);

}  // namespace pelmora::cli
