// pelmora-cli count [--csv|--json] [-d N [--top N] [--sort KEY]] [-h|--si] [-a] [--exclude P]...
//                   [--disk-usage] [--jobs N] [--quiet] DIR...
// pelmora-cli count --ncdu-export FILE [-a] [--exclude P]... DIR
//
// Per DIR the Stats panel's four lines (and "Space On Disk N"), a data-file line or a JSON
// object, all with LF line ends; with -d (or -h, --si) one line per directory down to that
// depth, a data-file line each, or JSON objects nested in "children". Every directory that
// could not be read is named on stderr and the figures of the rest are printed; the status is
// then kExitIncomplete. Hidden entries left out that hold data are told of in one line.
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/counting.h"
#include "cli/human.h"
#include "cli/json.h"
#include "cli/ncdu.h"
#include "cli/signals.h"
#include "cli/stdout.h"
#include "cli/tree.h"
#include "platform/locale.h"
#include "platform/volumes.h"
#include "stats/counting.h"
#include "stats/exclude.h"
#include "stats/formatcount.h"

namespace pelmora::cli {

namespace {

enum {
    kOptCsv = 1,
    kOptJson,
    kOptDepth,
    kOptTop,
    kOptSort,
    kOptHuman,
    kOptSi,
    kOptAll,
    kOptExclude,
    kOptOneFileSystem,
    kOptNcdu,
};

constexpr OptionDef kOptions[] = {
    kCountingOptions[0],
    kCountingOptions[1],
    kCountingOptions[2],
    {"csv", '\0', false, kOptCsv},
    {"json", '\0', false, kOptJson},
    {"max-depth", 'd', true, kOptDepth},
    {"top", '\0', true, kOptTop},
    {"sort", '\0', true, kOptSort},
    {"human-readable", 'h', false, kOptHuman},
    {"si", '\0', false, kOptSi},
    {"all", 'a', false, kOptAll},
    {"exclude", '\0', true, kOptExclude},
    {"one-file-system", 'x', false, kOptOneFileSystem},
    {"ncdu-export", '\0', true, kOptNcdu},
};

// What the command line asked for.
struct Request {
    Counting counting;
    bool csv = false;
    bool json = false;
    std::optional<unsigned> depth;
    std::size_t top = 0;
    std::optional<SortKey> sort;
    unsigned humanBase = 0;  // 1024 for -h, 1000 for --si, 0 for whole numbers
    bool all = false;
    std::vector<std::string> exclude;
    std::optional<std::string> ncdu;
    std::vector<std::string> dirs;
};

template <typename T>
bool parseNumber(const std::string& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Takes one option; returns "" or the usage error's text.
std::string take(Request& rq, int id, const std::string& value) {
    switch (id) {
        case kOptCsv:
            rq.csv = true;
            break;
        case kOptJson:
            rq.json = true;
            break;
        case kOptDepth:
            if (unsigned d = 0; parseNumber(value, d))
                rq.depth = d;
            else
                return "--max-depth needs a whole number, 0 or more";
            break;
        case kOptTop:
            if (!parseNumber(value, rq.top) || rq.top == 0)
                return "--top needs a number, 1 or more";
            break;
        case kOptSort:
            if (value == "bytes")
                rq.sort = SortKey::Bytes;
            else if (value == "files")
                rq.sort = SortKey::Files;
            else if (value == "dirs")
                rq.sort = SortKey::Dirs;
            else if (value == "name")
                rq.sort = SortKey::Name;
            else
                return "--sort takes bytes, files, dirs or name";
            break;
        case kOptHuman:
            rq.humanBase = 1024;
            break;
        case kOptSi:
            rq.humanBase = 1000;
            break;
        case kOptAll:
            rq.all = true;
            break;
        case kOptExclude:
            if (value.empty()) return "--exclude needs a pattern";
            rq.exclude.push_back(value);
            break;
        case kOptOneFileSystem:
            break;  // a count never leaves the start's file system
        case kOptNcdu:
            if (value.empty()) return "--ncdu-export needs a file name (\"-\" for standard output)";
            rq.ncdu = value;
            break;
        default:
            return rq.counting.take(id, value);
    }
    return {};
}

// The combinations that mean nothing; returns "" or the usage error's text.
std::string check(const Request& rq) {
    if (rq.csv && rq.json) return "--csv and --json exclude each other";
    if (rq.ncdu) {
        if (rq.csv || rq.json || rq.depth || rq.top != 0 || rq.sort || rq.humanBase != 0)
            return "--ncdu-export writes the whole tree: no --csv, --json, -d, --top, --sort, -h "
                   "or --si with it";
        if (rq.dirs.size() != 1) return "--ncdu-export takes exactly one DIR";
    }
    if ((rq.top != 0 || rq.sort) && !rq.depth) return "--top and --sort need --max-depth";
    if (rq.humanBase != 0 && (rq.csv || rq.json))
        return "-h and --si are for the text output, not --csv or --json";
    if (rq.dirs.empty()) return "no directory given";
    return {};
}

// "pelmora-cli: N hidden entries not counted (use --all)", naming the DIR when there are
// several.
void noteHidden(const stats::CountResult& r, std::string_view dir, bool several) {
    if (r.hiddenLeftOut <= 0) return;
    std::string text = std::to_string(r.hiddenLeftOut) +
                       (r.hiddenLeftOut == 1 ? " hidden entry" : " hidden entries") +
                       " not counted";
    if (several) text += " below '" + std::string(dir) + "'";
    message(text + " (use --all)");
}

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

// The JSON members of one directory, without the braces: path, figures, errors.
std::string jsonMembers(const TreeRow& row, std::int32_t entryOverhead, bool diskUsage,
                        const std::vector<stats::CountError>& errors) {
    std::string s = jsonPathMembers("path", row.path) +
                    ", \"directories\": " + std::to_string(row.directories) +
                    ", \"files\": " + std::to_string(row.files) +
                    ", \"bytes\": " + row.byteTotal.toFixed0() + ", \"overhead\": " +
                    std::to_string(stats::overheadFor(row.directories, row.files, entryOverhead));
    if (diskUsage) s += ", \"allocated\": " + std::to_string(row.allocatedBytes);
    s += std::string(", \"incomplete\": ") + (row.errorCount == 0 ? "false" : "true") +
         ", \"errors\": [";
    bool first = true;
    for (const stats::CountError& e : errors) {
        // A directory below the DIR lists the kept errors of its own tree.
        if (row.depth > 0 && e.path != row.path &&
            !(e.path.starts_with(row.path) && e.path[row.path.size()] == '/'))
            continue;
        s += (first ? "{" : ", {") + jsonPathMembers("path", e.path) +
             ", \"error\": " + jsonString(std::strerror(e.error)) + "}";
        first = false;
    }
    return s + "]";
}

// One DIR's object; with a depth, its directories nested in "children", one a line.
std::string jsonObject(const std::vector<TreeRow>& rows, const stats::CountResult& r,
                       std::int32_t entryOverhead, bool diskUsage, std::optional<unsigned> depth) {
    std::string s;
    // The objects still open, by depth, and whether each has had a child yet.
    std::vector<bool> open;
    const auto indent = [](std::size_t level) { return std::string(2 + 2 * level, ' '); };
    const auto close = [&] {
        s += open.back() ? "\n" + indent(open.size() - 1) + "]}" : "]}";
        open.pop_back();
    };
    for (const TreeRow& row : rows) {
        while (open.size() > row.depth) close();
        if (!open.empty()) {
            s += (open.back() ? ",\n" : "\n") + indent(row.depth);
            open.back() = true;
        }
        s += "{" + jsonMembers(row, entryOverhead, diskUsage, r.errors);
        if (depth && row.depth < *depth) {
            s += ", \"children\": [";
            open.push_back(false);
        } else {
            s += "}";
        }
    }
    while (!open.empty()) close();
    return s;
}

// The text table: a header, then per directory its figures and its path, indented by depth.
class Table {
  public:
    Table(unsigned humanBase, bool diskUsage, char separator)
        : m_base(humanBase), m_diskUsage(diskUsage), m_separator(separator) {
        m_rows.push_back({"Directories", "Files", "Bytes", "On Disk", "Path"});
    }

    void add(const TreeRow& row) {
        m_rows.push_back(
            {stats::FormatCount(row.directories, m_separator),
             stats::FormatCount(row.files, m_separator),
             m_base != 0 ? humanSize(row.exactBytes, m_base)
                         : stats::FormatCount(row.byteTotal, m_separator),
             m_base != 0
                 ? humanSize(row.allocatedBytes, m_base)
                 : stats::FormatCount(static_cast<std::int64_t>(row.allocatedBytes), m_separator),
             std::string(2 * row.depth, ' ') + row.path});
    }

    std::string text() const {
        std::size_t width[4] = {};
        for (const auto& r : m_rows) {
            for (std::size_t c = 0; c < 4; ++c) width[c] = std::max(width[c], r[c].size());
        }
        std::string s;
        for (const auto& r : m_rows) {
            for (std::size_t c = 0; c < 4; ++c) {
                if (c == 3 && !m_diskUsage) continue;
                s += std::string(width[c] - r[c].size(), ' ') + r[c] + "  ";
            }
            s += r[4] + '\n';
        }
        return s;
    }

  private:
    const unsigned m_base;
    const bool m_diskUsage;
    const char m_separator;
    std::vector<std::array<std::string, 5>> m_rows;
};

// --ncdu-export: the tree of one DIR to FILE (replaced in one step) or to stdout.
int exportNcdu(const Request& rq, const stats::Exclusion& exclusion) {
    const std::string& dir = rq.dirs.front();
    try {
        std::unique_ptr<output::DataSink> file;
        class StdoutSink : public output::DataSink {
          public:
            void write(std::string_view bytes) override { out().write(bytes); }
            void close() override {}
        } toStdout;
        if (*rq.ncdu != "-") file = std::make_unique<output::FileSink>(*rq.ncdu);
        output::DataSink& sink = file ? *file : toStdout;
        stats::CountResult r;
        {
            Progress progress(dir, rq.counting);
            NcduRules rules;
            rules.hidden = rq.all;
            rules.exclude = &exclusion;
            rules.cancel = &interrupted();
            rules.progress = progress.figures();
            r = writeNcduExport(dir, rules, sink, static_cast<std::int64_t>(std::time(nullptr)));
        }
        reportErrors(dir, r);
        if (!rq.all) noteHidden(r, dir, false);
        // A signal that came during the last directory still keeps the file from its place.
        stopIfInterrupted();
        sink.close();
        if (!out().finish()) return kExitFailed;
        return r.complete() ? kExitOk : kExitIncomplete;
    } catch (const std::bad_alloc&) {
        throw;  // main's "out of memory"
    } catch (const stats::Cancelled&) {
        throw;  // main's 128 + the signal
    } catch (const std::exception& e) {
        message(std::string(e.what()) + ".");
        return kExitFailed;
    }
}

}  // namespace

std::span<const OptionDef> countOptions() {
    return kOptions;
}

int runCount(const Args& args) {
    ParsedOptions parsed;
    if (const std::string e = parseOptions(args, kOptions, parsed); !e.empty())
        return usageError("count", e);
    Request rq;
    for (const auto& [id, value] : parsed.options) {
        if (const std::string e = take(rq, id, value); !e.empty()) return usageError("count", e);
    }
    rq.dirs = parsed.operands;
    if (const std::string e = check(rq); !e.empty()) return usageError("count", e);
    const stats::Exclusion exclusion(rq.exclude);
    if (rq.ncdu) return exportNcdu(rq, exclusion);

    // Like the window's start-up: the volume of the current directory sets the overhead.
    stats::ProbeVolume(platform::systemVolumes());
    const std::int32_t entryOverhead = stats::EntryOverhead;
    const char separator = platform::localeThousandsSeparator();
    const bool diskUsage = rq.counting.diskUsage;
    const bool table = rq.depth || rq.humanBase != 0;
    const unsigned depth = rq.depth.value_or(0);
    const SortKey key = rq.sort.value_or(SortKey::Bytes);
    bool complete = true;
    Table lines(rq.humanBase, diskUsage, separator);
    if (rq.json) out().write("[");
    CountRules rules;
    rules.depth = depth;
    rules.hidden = rq.all;
    rules.noteHidden = !rq.all;
    rules.exclude = exclusion.empty() ? nullptr : &exclusion;
    // A DIR inside another one is answered by the other's walk.
    CountedList counted(rq.dirs, rq.counting, rules);
    for (std::size_t i = 0; i < rq.dirs.size(); ++i) {
        const std::string& dir = rq.dirs[i];
        const stats::CountResult r = counted.counts().take(i);
        reportErrors(dir, r);
        noteHidden(r, dir, rq.dirs.size() > 1);
        complete = complete && r.complete();
        const std::vector<TreeRow> rows = sortedTree(dir, r, key, rq.top);
        if (rq.csv) {
            for (const TreeRow& row : rows) {
                const output::LineFigures f{
                    row.directories, row.files, row.byteTotal,
                    stats::overheadFor(row.directories, row.files, entryOverhead)};
                const std::int64_t allocated = static_cast<std::int64_t>(row.allocatedBytes);
                std::string line = dataLine(row.path, f, diskUsage ? &allocated : nullptr);
                line.erase(line.size() - 2);
                out().write(line + '\n');
            }
        } else if (rq.json) {
            out().write((i == 0 ? "\n  " : ",\n  ") +
                        jsonObject(rows, r, entryOverhead, diskUsage, rq.depth));
        } else if (table) {
            for (const TreeRow& row : rows) lines.add(row);
        } else {
            out().write(
                humanLines(dir, output::figuresOf(r, entryOverhead), r, diskUsage, separator));
        }
        out().flush();
    }
    if (rq.json) out().write("\n]\n");
    if (table && !rq.csv && !rq.json) out().write(lines.text());
    if (!out().finish()) return kExitFailed;
    return complete ? kExitOk : kExitIncomplete;
}

}  // namespace pelmora::cli
