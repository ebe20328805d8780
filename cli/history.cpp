// pelmora-cli history LIST [--explain DIR] [--since DATE] [--until DATE] [--top N]
//                     [--csv|--json|--plot FILE]
//
// The growth report of LIST's history: per directory its figures at the first and the last
// snapshot of the range, the change and the growth per day, largest growth first, and the
// subdirectory that grew most. With --explain, where one directory grew: its subdirectories'
// changes between the first and the last snapshot of the range that hold them, largest change
// first, with the share of the directory's change each makes. --plot runs
// pelmora-chart beside this program (it needs Qt's painting; pelmora-cli loads no Qt), with the
// same limits and the same statuses. A range without a snapshot is no error: the table says
// so, --csv has its header, --json is [] and the chart is drawn without lines (status 0).
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/stdout.h"
#include "history/History.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "stats/formatcount.h"

namespace pelmora::cli {

namespace {

enum { kOptSince = 1, kOptUntil, kOptTop, kOptCsv, kOptJson, kOptPlot, kOptExplain };

constexpr OptionDef kOptions[] = {
    {"since", '\0', true, kOptSince},     {"until", '\0', true, kOptUntil},
    {"top", '\0', true, kOptTop},         {"csv", '\0', false, kOptCsv},
    {"json", '\0', false, kOptJson},      {"plot", '\0', true, kOptPlot},
    {"explain", '\0', true, kOptExplain},
};

std::string number(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

std::string grouped(__int128 v, char separator) {
    const std::int64_t clamped =
        v > INT64_MAX ? INT64_MAX : (v < INT64_MIN ? INT64_MIN : static_cast<std::int64_t>(v));
    return stats::FormatCount(clamped, separator);
}

std::string signedGrouped(__int128 v, char separator) {
    return (v > 0 ? "+" : "") + grouped(v, separator);
}

std::string percent(const std::optional<double>& p) {
    if (!p) return "-";
    return (*p > 0 ? "+" : "") + number(*p, 1) + "%";
}

std::string pad(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

constexpr const char* kHeads[] = {"First bytes",  "Last bytes", "Bytes change", "%",
                                  "Files change", "%",          "Bytes per day"};
constexpr std::size_t kColumns = std::size(kHeads);

// A directory's cells under kHeads.
std::array<std::string, kColumns> cellsOf(const history::DirectoryGrowth& d, char sep) {
    return {grouped(d.first.bytes, sep),
            grouped(d.last.bytes, sep),
            signedGrouped(d.bytesChange, sep),
            percent(d.bytesPercent),
            signedGrouped(d.filesChange, sep),
            percent(d.filesPercent),
            d.bytesPerDay ? signedGrouped(static_cast<__int128>(std::llround(*d.bytesPerDay)), sep)
                          : "-"};
}

// "3 snapshots from 2026-12-01T00:00:00Z to 2026-12-08T00:00:00Z (7 days)"
std::string rangeLine(const std::vector<history::SnapshotInfo>& snapshots) {
    const history::SnapshotInfo& first = snapshots.front();
    const history::SnapshotInfo& last = snapshots.back();
    std::string s = std::to_string(snapshots.size()) + " snapshot" +
                    (snapshots.size() == 1 ? "" : "s") + " from " + history::formatUtc(first.time) +
                    " to " + history::formatUtc(last.time);
    if (snapshots.size() > 1 && last.time > first.time)
        s += " (" + history::formatInterval(last.time - first.time) + ")";
    return s + "\n";
}

std::string grewMostCell(const history::DirectoryGrowth& d) {
    if (!d.grewMost) return "-";
    return d.grewMost->empty() ? "(other)" : *d.grewMost;
}

// The table for a terminal, its counts grouped by the locale's separator. Over less than a day
// there is no rate per day: the first line says how long the range is, the change is the
// change over it. Written a line at a time (the columns' widths come from a first pass).
void table(const history::HistoryReport& report) {
    const char sep = platform::localeThousandsSeparator();
    std::string s = rangeLine(report.snapshots);
    std::array<std::size_t, kColumns> widths;
    for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::strlen(kHeads[c]);
    std::size_t grewWidth = std::strlen("Grew most");
    for (const history::DirectoryGrowth& d : report.directories) {
        const auto cells = cellsOf(d, sep);
        for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], cells[c].size());
        grewWidth = std::max(grewWidth, grewMostCell(d).size());
    }
    for (std::size_t c = 0; c < kColumns; ++c) s += pad(kHeads[c], widths[c]) + "  ";
    s += "Grew most" + std::string(grewWidth - std::strlen("Grew most"), ' ') + "  Directory\n";
    out().write(s);
    for (const history::DirectoryGrowth& d : report.directories) {
        const auto cells = cellsOf(d, sep);
        s.clear();
        for (std::size_t c = 0; c < kColumns; ++c) s += pad(cells[c], widths[c]) + "  ";
        const std::string grew = grewMostCell(d);
        s += grew + std::string(grewWidth - std::min(grewWidth, grew.size()), ' ') + "  ";
        s += d.path;
        if (d.appeared) s += " (appeared " + history::formatUtc(d.first.time) + ")";
        if (d.disappeared) s += " (gone after " + history::formatUtc(d.last.time) + ")";
        s += '\n';
        out().write(s);
    }
    if (report.directoryCount > report.directories.size())
        out().write("and " + std::to_string(report.directoryCount - report.directories.size()) +
                    " more directories\n");
}

constexpr const char* kExplainHeads[] = {"Bytes change", "%",         "Files change", "%",
                                         "Share",        "Last bytes"};
constexpr std::size_t kExplainColumns = std::size(kExplainHeads);

std::array<std::string, kExplainColumns> explainCellsOf(const history::DirectoryGrowth& d,
                                                        char sep) {
    return {signedGrouped(d.bytesChange, sep),         percent(d.bytesPercent),
            signedGrouped(d.filesChange, sep),         percent(d.filesPercent),
            d.share ? number(*d.share, 1) + "%" : "-", grouped(d.last.bytes, sep)};
}

// Where one directory grew, as a table: the range, the directory's own change, then its
// subdirectories.
void explainTable(const history::Explanation& e) {
    const char sep = platform::localeThousandsSeparator();
    const history::DirectoryGrowth& dir = *e.directory;
    std::string s = rangeLine(e.snapshots);
    s += dir.path + ": " + signedGrouped(dir.bytesChange, sep) + " bytes (" +
         percent(dir.bytesPercent) + "), " + signedGrouped(dir.filesChange, sep) + " files, " +
         grouped(dir.first.bytes, sep) + " to " + grouped(dir.last.bytes, sep) + " bytes\n";
    std::array<std::size_t, kExplainColumns> widths;
    for (std::size_t c = 0; c < kExplainColumns; ++c) widths[c] = std::strlen(kExplainHeads[c]);
    for (const history::DirectoryGrowth& d : e.subdirectories) {
        const auto cells = explainCellsOf(d, sep);
        for (std::size_t c = 0; c < kExplainColumns; ++c)
            widths[c] = std::max(widths[c], cells[c].size());
    }
    for (std::size_t c = 0; c < kExplainColumns; ++c) s += pad(kExplainHeads[c], widths[c]) + "  ";
    s += "Subdirectory\n";
    out().write(s);
    for (const history::DirectoryGrowth& d : e.subdirectories) {
        const auto cells = explainCellsOf(d, sep);
        s.clear();
        for (std::size_t c = 0; c < kExplainColumns; ++c) s += pad(cells[c], widths[c]) + "  ";
        s += d.path;
        if (d.appeared) s += " (appeared)";
        if (d.disappeared) s += " (gone)";
        if (d.inOtherFirst) s += " (among (other) at first)";
        if (d.inOtherLast) s += " (among (other) at last)";
        s += '\n';
        out().write(s);
    }
    if (e.subdirectories.empty()) out().write("No subdirectories were recorded.\n");
    if (e.subdirectoryCount > e.subdirectories.size())
        out().write("and " + std::to_string(e.subdirectoryCount - e.subdirectories.size()) +
                    " more subdirectories\n");
}

std::string csvField(std::string_view text) {
    std::string s = "\"";
    for (char c : text) s += c == '"' ? std::string("\"\"") : std::string(1, c);
    return s + '"';
}

std::string optionalNumber(const std::optional<double>& v, int decimals, const char* none) {
    return v ? number(*v, decimals) : none;
}

constexpr const char* kCsvHeader =
    "path,first_time,first_directories,first_files,first_bytes,last_time,last_directories,"
    "last_files,last_bytes,bytes_change,bytes_percent,files_change,files_percent,"
    "bytes_per_day,appeared,disappeared";

// A directory's CSV fields under kCsvHeader, without the line's end.
std::string csvFields(const history::DirectoryGrowth& d) {
    std::string s = csvField(d.path);
    for (const history::Figures* f : {&d.first, &d.last})
        s += "," + history::formatUtc(f->time) + "," + std::to_string(f->directories) + "," +
             std::to_string(f->files) + "," + history::toDecimal(f->bytes);
    s += "," + history::toDecimal(d.bytesChange) + "," + optionalNumber(d.bytesPercent, 2, "") +
         "," + std::to_string(d.filesChange) + "," + optionalNumber(d.filesPercent, 2, "") + "," +
         optionalNumber(d.bytesPerDay, 1, "") + "," + (d.appeared ? "1" : "0") + "," +
         (d.disappeared ? "1" : "0");
    return s;
}

// CSV and JSON go out a directory at a time, never as one text.
void csv(const history::HistoryReport& report) {
    out().write(std::string(kCsvHeader) + "\n");
    for (const history::DirectoryGrowth& d : report.directories) out().write(csvFields(d) + "\n");
}

void explainCsv(const history::Explanation& e) {
    out().write(std::string(kCsvHeader) + ",share,other,in_other_first,in_other_last\n");
    for (const history::DirectoryGrowth& d : e.subdirectories)
        out().write(csvFields(d) + "," + optionalNumber(d.share, 2, "") + "," +
                    (d.other ? "1" : "0") + "," + (d.inOtherFirst ? "1" : "0") + "," +
                    (d.inOtherLast ? "1" : "0") + "\n");
}

const char* boolean(bool b) {
    return b ? "true" : "false";
}

// A directory's members, without the braces.
std::string jsonMembers(const history::DirectoryGrowth& d) {
    std::string s = jsonPathMembers("path", d.path);
    for (const auto& [key, f] : {std::pair{"first", &d.first}, std::pair{"last", &d.last}})
        s += std::string(", \"") + key + "\": {\"time\": \"" + history::formatUtc(f->time) +
             "\", \"directories\": " + std::to_string(f->directories) +
             ", \"files\": " + std::to_string(f->files) +
             ", \"bytes\": " + history::toDecimal(f->bytes) + "}";
    s += ", \"bytes_change\": " + history::toDecimal(d.bytesChange) +
         ", \"files_change\": " + std::to_string(d.filesChange) +
         ", \"bytes_percent\": " + optionalNumber(d.bytesPercent, 2, "null") +
         ", \"files_percent\": " + optionalNumber(d.filesPercent, 2, "null") +
         ", \"bytes_per_day\": " + optionalNumber(d.bytesPerDay, 1, "null") +
         ", \"appeared\": " + boolean(d.appeared) + ", \"disappeared\": " + boolean(d.disappeared);
    return s;
}

void jsonArray(const std::vector<history::DirectoryGrowth>& all,
               const std::function<std::string(const history::DirectoryGrowth&)>& members) {
    out().write("[");
    for (std::size_t i = 0; i < all.size(); ++i)
        out().write((i == 0 ? "\n  {" : ",\n  {") + members(all[i]) + "}");
    out().write(all.empty() ? "]\n" : "\n]\n");
}

void json(const history::HistoryReport& report) {
    jsonArray(report.directories, [](const history::DirectoryGrowth& d) {
        std::string s = jsonMembers(d) + ", ";
        if (!d.grewMost)
            s += "\"grew_most\": null";
        else if (d.grewMost->empty())
            s += "\"grew_most\": \"(other)\"";
        else
            s += jsonPathMembers("grew_most", platform::joinPattern(d.path, *d.grewMost));
        return s;
    });
}

void explainJson(const history::Explanation& e) {
    jsonArray(e.subdirectories, [](const history::DirectoryGrowth& d) {
        return jsonMembers(d) + ", \"share\": " + optionalNumber(d.share, 2, "null") +
               ", \"other\": " + boolean(d.other) +
               ", \"in_other_first\": " + boolean(d.inOtherFirst) +
               ", \"in_other_last\": " + boolean(d.inOtherLast);
    });
}

// Runs pelmora-chart, whose statuses are this program's.
int plot(const Args& chartArgs) {
    const std::string exe = platform::programDirectory() + "pelmora-chart";
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& a : chartArgs) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        message(std::string("history: cannot start pelmora-chart: ") + std::strerror(errno));
        return kExitFailed;
    }
    if (pid == 0) {
        ::execv(exe.c_str(), argv.data());
        message("history: cannot start " + exe + ": " + std::strerror(errno));
        ::_exit(kExitFailed);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) return kExitFailed;
    return WEXITSTATUS(status);
}

void clockWarning(bool wentBackwards, const std::string& listPath) {
    if (wentBackwards)
        message("history: the clock went backwards between snapshots of " + listPath +
                "; they are taken in order of recording");
}

int runExplain(const std::string& listPath, const std::string& dir, const history::Query& query,
               bool asCsv, bool asJson) {
    history::Explanation e;
    try {
        e = history::explainHistory(listPath, dir, query);
    } catch (const history::HistoryError& error) {
        message(error.what());
        return kExitFailed;
    }
    clockWarning(e.clockWentBackwards, listPath);
    if (asCsv) {
        explainCsv(e);
    } else if (asJson) {
        explainJson(e);
    } else if (e.emptyRange) {
        out().write("No snapshot of " + listPath + " lies in that range.\n");
    } else if (!e.directory) {
        out().write("No snapshot of " + listPath + " in that range holds the subdirectories of " +
                    dir + ": pelmora-cli snapshot records them.\n");
    } else {
        explainTable(e);
    }
    return out().finish() ? kExitOk : kExitFailed;
}

}  // namespace

std::span<const OptionDef> historyOptions() {
    return kOptions;
}

int runHistory(const Args& args) {
    ParsedOptions parsed;
    if (const std::string e = parseOptions(args, kOptions, parsed); !e.empty())
        return usageError("history", e);
    history::Query query;
    std::optional<std::string> plotFile;
    std::optional<std::string> explain;
    bool asCsv = false, asJson = false;
    const std::int64_t now = history::nowUtc();
    for (const auto& [id, value] : parsed.options) {
        if (id == kOptSince || id == kOptUntil) {
            const std::optional<std::int64_t> t = history::parseTime(value, id == kOptUntil, now);
            if (!t)
                return usageError("history", "invalid date '" + value + "' (" +
                                                 std::string(history::kTimeForms) + ")");
            (id == kOptSince ? query.range.since : query.range.until) = t;
        } else if (id == kOptTop) {
            const std::optional<std::size_t> n = history::parseTop(value, history::kMaxTop);
            if (!n)
                return usageError("history", "--top needs a number from 1 to " +
                                                 std::to_string(history::kMaxTop));
            query.top = *n;
        } else if (id == kOptCsv) {
            asCsv = true;
        } else if (id == kOptJson) {
            asJson = true;
        } else if (id == kOptPlot) {
            plotFile = value;
        } else if (id == kOptExplain) {
            if (value.empty()) return usageError("history", "--explain needs a directory");
            explain = value;
        }
    }
    if (int(asCsv) + int(asJson) + int(plotFile.has_value()) > 1)
        return usageError("history", "--csv, --json and --plot exclude each other");
    if (parsed.operands.size() != 1 || parsed.operands.front().empty())
        return usageError("history", "exactly one list file is needed");
    const std::string& listPath = parsed.operands.front();
    if (query.range.since && query.range.until && *query.range.since > *query.range.until)
        return usageError("history", "--since lies after --until");
    if (plotFile) {
        if (plotFile->empty()) return usageError("history", "--plot needs a file name");
        if (query.top > history::kMaxChartTop)
            return usageError("history", "--top needs a number from 1 to " +
                                             std::to_string(history::kMaxChartTop) +
                                             " with --plot");
        // The times as this run read them (an age counts from now, not from the chart's start),
        // then "--", so that a list whose name begins with '-' stays the list.
        Args chartArgs;
        if (query.range.since)
            chartArgs.insert(chartArgs.end(), {"--since", history::formatUtc(*query.range.since)});
        if (query.range.until)
            chartArgs.insert(chartArgs.end(), {"--until", history::formatUtc(*query.range.until)});
        if (query.top != 0) chartArgs.insert(chartArgs.end(), {"--top", std::to_string(query.top)});
        if (explain) chartArgs.insert(chartArgs.end(), {"--explain", *explain});
        chartArgs.insert(chartArgs.end(), {"-o", *plotFile, "--", listPath});
        return plot(chartArgs);
    }

    if (explain) return runExplain(listPath, *explain, query, asCsv, asJson);
    history::HistoryReport report;
    try {
        report = history::queryHistory(listPath, query);
    } catch (const history::HistoryError& e) {
        message(e.what());
        return kExitFailed;
    }
    clockWarning(report.clockWentBackwards, listPath);
    if (asCsv) {
        csv(report);
    } else if (asJson) {
        json(report);
    } else if (report.emptyRange) {
        out().write("No snapshot of " + listPath + " lies in that range.\n");
    } else {
        table(report);
    }
    return out().finish() ? kExitOk : kExitFailed;
}

}  // namespace pelmora::cli
