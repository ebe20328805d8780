// What count, export and snapshot share: the counting options, one count of a directory with
// interruption (and the progress line), and the messages of the directories it could not read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Counts `dir`; raises stats::Cancelled when SIGINT or SIGTERM arrives.
stats::CountResult countDirectory(std::string_view dir, const Counting& counting);

// Says on stderr which directories could not be read: one line per kept error,
// "cannot read directory 'PATH': REASON", and one more when more were found than kept.
void reportErrors(std::string_view dir, const stats::CountResult& result);

// The data-file line of `entry` (CR LF), with `allocated` as a sixth field when given.
std::string dataLine(std::string_view entry, const output::LineFigures& figures,
                     const std::int64_t* allocated);

}  // namespace pelmora::cli
