// What count, export and snapshot share: the counting options, one count of a directory with
// interruption (and the progress line), and the messages of the directories it could not read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
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

// The progress line on a terminal's stderr while it lives (unless --quiet, or stderr is no
// terminal), fed from the running figures it holds; `first` is shown until a count names the
// directory it reads.
class Progress {
  public:
    Progress(std::string_view first, const Counting& counting);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Where a count adds its figures; null when no line is shown.
    stats::CountProgress* figures() { return m_figures.get(); }

  private:
    std::unique_ptr<stats::CountProgress> m_figures;
    std::unique_ptr<ProgressLine> m_line;
};

// What count asks of a walk beyond the counting options (stats::CountOptions' fields of the
// same names): the other commands count with none of it.
struct CountRules {
    unsigned depth = 0;       // keep the figures of the directories down to this depth
    bool hidden = false;      // --all
    bool noteHidden = false;  // tell how many hidden entries holding data were left out
    const stats::Exclusion* exclude = nullptr;  // --exclude; not owned
};

// Directories counted in one walk per enclosing entry (the entries of a list, or the DIRs of
// count), stopped by SIGINT or SIGTERM, with the progress line on a terminal's stderr for the
// whole run (unless --quiet).
class CountedList {
  public:
    // Over a copy of `entries` of its own.
    CountedList(std::vector<std::string> entries, const Counting& counting,
                const CountRules& rules);
    // Over a list that stays as it is meanwhile: `size` entries read through `entryAt`.
    CountedList(std::size_t size, stats::ListCount::EntryAt entryAt, const Counting& counting,
                unsigned depth = 0);
    ~CountedList();
    CountedList(const CountedList&) = delete;
    CountedList& operator=(const CountedList&) = delete;

    stats::ListCount& counts() { return *m_counts; }

  private:
    std::unique_ptr<Progress> m_progress;
    std::unique_ptr<stats::ListCount> m_counts;
};

// Says on stderr which directories could not be read: one line per kept error,
// "cannot read directory 'PATH': REASON", and one more when more were found than kept.
void reportErrors(std::string_view dir, const stats::CountResult& result);

// The data-file line of `entry` (CR LF), with `allocated` as a sixth field when given.
std::string dataLine(std::string_view entry, const output::LineFigures& figures,
                     const std::int64_t* allocated);

}  // namespace pelmora::cli
