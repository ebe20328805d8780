// pelmora-cli count [--csv|--json] [--disk-usage] [--jobs N] [--quiet] DIR...
//
// Per DIR the Stats panel's four lines (and "Space On Disk N"), a data-file line or a JSON
// object, all with LF line ends. Every directory that could not be read is named on stderr and
// the figures of the rest are printed; the status is then kExitIncomplete.
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/counting.h"
#include "cli/json.h"
#include "cli/stdout.h"
#include "platform/locale.h"
#include "platform/volumes.h"
#include "stats/counting.h"
#include "stats/formatcount.h"

namespace pelmora::cli {

namespace {

enum { kOptCsv = 1, kOptJson };

constexpr OptionDef kOptions[] = {
    kCountingOptions[0],
    kCountingOptions[1],
    kCountingOptions[2],
    {"csv", '\0', false, kOptCsv},
    {"json", '\0', false, kOptJson},
};

std::string humanLines(const std::string& dir, const output::LineFigures& f,
                       const stats::CountResult& r, bool diskUsage, char sep) {
    std::string s = dir + "\nTotal Directories " + stats::FormatCount(f.dirCount, sep) +
                    "\nTotal Files " + stats::FormatCount(f.fileCount, sep) + "\nTotal Bytes " +
                    stats::FormatCount(f.byteTotal, sep) + "\nCluster Overhead " +
                    stats::FormatCount(f.overhead, sep) + '\n';
    if (diskUsage)
        s += "Space On Disk " +
             stats::FormatCount(static_cast<std::int64_t>(r.allocatedBytes), sep) + '\n';
    return s;
}

std::string jsonObject(const std::string& dir, const output::LineFigures& f,
                       const stats::CountResult& r, bool diskUsage) {
    std::string s =
        "{" + jsonPathMembers("path", dir) + ", \"directories\": " + std::to_string(f.dirCount) +
        ", \"files\": " + std::to_string(f.fileCount) + ", \"bytes\": " + f.byteTotal.toFixed0() +
        ", \"overhead\": " + std::to_string(f.overhead);
    if (diskUsage) s += ", \"allocated\": " + std::to_string(r.allocatedBytes);
    s += std::string(", \"incomplete\": ") + (r.complete() ? "false" : "true") + ", \"errors\": [";
    for (std::size_t i = 0; i < r.errors.size(); ++i) {
        s += (i == 0 ? "{" : ", {") + jsonPathMembers("path", r.errors[i].path) +
             ", \"error\": " + jsonString(std::strerror(r.errors[i].error)) + "}";
    }
    return s + "]}";
}

}  // namespace

std::span<const OptionDef> countOptions() {
    return kOptions;
}

int runCount(const Args& args) {
    ParsedOptions parsed;
    if (const std::string e = parseOptions(args, kOptions, parsed); !e.empty())
        return usageError("count", e);
    Counting counting;
    bool csv = false, json = false;
    for (const auto& [id, value] : parsed.options) {
        if (id == kOptCsv)
            csv = true;
        else if (id == kOptJson)
            json = true;
        else if (const std::string e = counting.take(id, value); !e.empty())
            return usageError("count", e);
    }
    if (csv && json) return usageError("count", "--csv and --json exclude each other");
    if (parsed.operands.empty()) return usageError("count", "no directory given");

    // Like the window's start-up: the volume of the current directory sets the overhead.
    stats::ProbeVolume(platform::systemVolumes());
    const std::int32_t entryOverhead = stats::EntryOverhead;
    const char separator = platform::localeThousandsSeparator();
    bool complete = true;
    if (json) out().write("[");
    // A DIR inside another one is answered by the other's walk.
    CountedList counted(parsed.operands, counting);
    for (std::size_t i = 0; i < parsed.operands.size(); ++i) {
        const std::string& dir = parsed.operands[i];
        const stats::CountResult r = counted.counts().take(i);
        reportErrors(dir, r);
        complete = complete && r.complete();
        const output::LineFigures f = output::figuresOf(r, entryOverhead);
        if (csv) {
            const std::int64_t allocated = static_cast<std::int64_t>(r.allocatedBytes);
            std::string line = dataLine(dir, f, counting.diskUsage ? &allocated : nullptr);
            line.erase(line.size() - 2);
            out().write(line + '\n');
        } else if (json) {
            out().write((i == 0 ? "\n  " : ",\n  ") + jsonObject(dir, f, r, counting.diskUsage));
        } else {
            out().write(humanLines(dir, f, r, counting.diskUsage, separator));
        }
        out().flush();
    }
    if (json) out().write("\n]\n");
    if (!out().finish()) return kExitFailed;
    return complete ? kExitOk : kExitIncomplete;
}

}  // namespace pelmora::cli
