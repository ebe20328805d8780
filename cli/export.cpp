// pelmora-cli export [--output FILE] [--history [--depth N]] [--metrics FILE] [--disk-usage]
//                    [--jobs N] [--quiet] LIST
// pelmora-cli snapshot [--depth N] [--metrics FILE] [--disk-usage] [--jobs N] [--quiet] LIST
//
// LIST is an ordinary path, used as given. The cluster overhead is that of the volume of the
// current directory, probed once. The data file is replaced in one step (a failure or an
// interrupt leaves the previous one whole and no temporary file), and a second export of the
// same list while one runs is refused at once. With --history, and for snapshot, the figures
// go to LIST's history as one snapshot, each directory with its subdirectories down to --depth
// (1 by default, 0 for none), from the same walk. With --metrics, they go to a Prometheus text
// file too, written last and only when everything before it succeeded: its timestamp says when
// the list was last exported successfully (an empty list included).
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "cli/counting.h"
#include "cli/metrics.h"
#include "cli/signals.h"
#include "cli/stdout.h"
#include "history/History.h"
#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/paths.h"
#include "platform/volumes.h"
#include "stats/counting.h"

namespace pelmora::cli {

namespace {

enum { kOptOutput = 1, kOptHistory, kOptMetrics, kOptDepth };

constexpr OptionDef kExportOptions[] = {
    kCountingOptions[0],
    kCountingOptions[1],
    kCountingOptions[2],
    {"output", 'o', true, kOptOutput},
    {"history", '\0', false, kOptHistory},
    {"metrics", '\0', true, kOptMetrics},
    {"depth", '\0', true, kOptDepth},
};

constexpr OptionDef kSnapshotOptions[] = {
    kCountingOptions[0],
    kCountingOptions[1],
    kCountingOptions[2],
    {"metrics", '\0', true, kOptMetrics},
    {"depth", '\0', true, kOptDepth},
};

int fail(const std::string& text) {
    message(text + ".");
    return kExitFailed;
}

// A snapshot without a data file: the lines go nowhere.
class NoSink : public output::DataSink {
  public:
    void write(std::string_view) override {}
    void close() override {}
};

// The data file on standard output (-o -).
class StdoutSink : public output::DataSink {
  public:
    void write(std::string_view bytes) override { out().write(bytes); }
    void close() override {}
};

// Standard output could not take the lines in full (the message is said).
struct StdoutLost {};

// The end of the counting: a signal that arrived after the last count still stops the export
// before anything is put in place; the lines on standard output go out whole before a snapshot
// of them is recorded; from then on the export finishes, and a signal no longer changes its
// status.
class CommittingSink : public output::DataSink {
  public:
    CommittingSink(output::DataSink& sink, bool toStdout) : m_sink(sink), m_toStdout(toStdout) {}
    void write(std::string_view bytes) override { m_sink.write(bytes); }
    void close() override {
        stopIfInterrupted();
        if (m_toStdout && !out().finish()) throw StdoutLost{};
        workCommitted();
        m_sink.close();
    }

  private:
    output::DataSink& m_sink;
    const bool m_toStdout;
};

history::Row rowOf(std::string_view entry, const stats::CountResult& r, bool diskUsage) {
    const output::LineFigures f = output::figuresOf(r, stats::EntryOverhead);
    history::Row row;
    row.entry = std::string(entry);
    row.directories = f.dirCount;
    row.files = f.fileCount;
    row.bytes = f.byteTotal.toInt128();
    row.overhead = f.overhead;
    if (diskUsage) row.allocated = static_cast<std::int64_t>(r.allocatedBytes);
    row.complete = r.complete();
    const std::string prefix = platform::joinPattern(entry, "");
    row.children.reserve(r.below.size());
    for (const stats::DirFigures& d : r.below) {
        if (!std::string_view(d.path).starts_with(prefix)) continue;
        history::ChildRow c;
        c.name = d.path.substr(prefix.size());
        c.directories = d.directories;
        c.files = d.files;
        c.bytes = d.byteTotal.toInt128();
        c.complete = d.errorCount == 0;
        row.children.push_back(std::move(c));
    }
    // Held until the snapshot is recorded, after the last count: no more than it keeps.
    row.children = history::keepLargest(std::move(row.children));
    return row;
}

// The N of --depth: 0 to history::kMaxChildDepth.
std::optional<unsigned> parseDepth(const std::string& text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '0' + int(history::kMaxChildDepth))
        return std::nullopt;
    return static_cast<unsigned>(text[0] - '0');
}

int run(const Args& args, bool snapshotOnly) {
    const char* const command = snapshotOnly ? "snapshot" : "export";
    ParsedOptions parsed;
    const std::span<const OptionDef> defs = snapshotOnly
                                                ? std::span<const OptionDef>(kSnapshotOptions)
                                                : std::span<const OptionDef>(kExportOptions);
    if (const std::string e = parseOptions(args, defs, parsed); !e.empty())
        return usageError(command, e);
    Counting counting;
    std::optional<std::string> output;
    std::optional<std::string> metricsPath;
    bool record = snapshotOnly;
    std::optional<unsigned> depth;
    for (const auto& [id, value] : parsed.options) {
        if (id == kOptOutput) {
            if (value.empty()) return usageError(command, "--output needs a file name");
            output = value;
        } else if (id == kOptHistory) {
            record = true;
        } else if (id == kOptMetrics) {
            if (value.empty()) return usageError(command, "--metrics needs a file name");
            metricsPath = value;
        } else if (id == kOptDepth) {
            depth = parseDepth(value);
            if (!depth)
                return usageError(command, "--depth needs a number from 0 to " +
                                               std::to_string(history::kMaxChildDepth));
        } else if (const std::string e = counting.take(id, value); !e.empty()) {
            return usageError(command, e);
        }
    }
    if (depth && !record) return usageError(command, "--depth goes with --history");
    if (parsed.operands.size() != 1 || parsed.operands.front().empty())
        return usageError(command, "exactly one list file is needed");
    const unsigned childDepth = record ? depth.value_or(history::kDefaultChildDepth) : 0;
    const std::string& listPath = parsed.operands.front();
    const bool metricsToStdout = metricsPath && *metricsPath == "-";
    if (metricsToStdout && output && *output == "-")
        return usageError(command, "--output and --metrics cannot both be standard output");

    try {
        stats::ProbeVolume(platform::systemVolumes());
        if (!platform::fileExists(listPath)) return fail("File " + listPath + " not found");
        list::WatchedList watched;
        list::loadList(watched, listPath);
        std::optional<ExportMetrics> metrics;
        if (metricsPath)
            metrics.emplace(*metricsPath, listPath, counting.diskUsage, stats::EntryOverhead);
        if (watched.count() == 0) {
            if (metrics) metrics->open(nullptr, history::historyFileName(listPath));
            const bool written = !metrics || metrics->write();
            if (!metricsToStdout) out().write("The list is empty.\n");
            return out().finish() && written ? kExitOk : kExitFailed;
        }
        const bool toStdout = output && *output == "-";
        const std::string dataFile = output ? *output : output::dataFileName(listPath);
        // Made before the first count, so that its refusals come first.
        std::unique_ptr<output::DataSink> sink;
        if (snapshotOnly)
            sink = std::make_unique<NoSink>();
        else if (toStdout)
            sink = std::make_unique<StdoutSink>();
        else
            sink = std::make_unique<output::FileSink>(dataFile, listPath);
        CommittingSink checked(*sink, toStdout && !snapshotOnly);
        const bool dataOnDisk = !snapshotOnly && !toStdout;
        if (metrics)
            metrics->open(dataOnDisk ? &dataFile : nullptr, history::historyFileName(listPath));

        history::Snapshot snapshot;
        bool complete = true;
        if (metrics) metrics->start();
        CountedList counted(
            static_cast<std::size_t>(watched.count()),
            [&watched](std::size_t i) { return watched.at(static_cast<int>(i)); }, counting,
            childDepth);
        output::writeDataFile(
            watched, checked, output::countEach(counted.counts()), stats::EntryOverhead,
            [&](std::size_t, std::string_view entry, const stats::CountResult& r) {
                reportErrors(entry, r);
                complete = complete && r.complete();
                if (record) snapshot.rows.push_back(rowOf(entry, r, counting.diskUsage));
                if (metrics) metrics->add(entry, r);
                return counting.diskUsage ? "," + std::to_string(r.allocatedBytes) : std::string();
            });
        int status = complete ? kExitOk : kExitIncomplete;
        if (record) {
            snapshot.host = history::hostName();
            snapshot.depth = childDepth;
            snapshot.listPath = platform::expandFileName(listPath);
            try {
                history::recordSnapshot(listPath, snapshot);
            } catch (const history::HistoryError& e) {
                message(e.what());
                status = kExitFailed;
            }
        }
        // The metrics tell of a success: written after the data file and the history, only when
        // both were.
        if (metrics && status != kExitFailed && !metrics->write()) status = kExitFailed;
        if (metricsToStdout) {
            // Standard output holds the metrics alone.
        } else if (dataOnDisk) {
            out().write("File " + dataFile + " created.\n");
        } else if (snapshotOnly && status != kExitFailed) {
            out().write("Snapshot recorded in " + history::historyFileName(listPath) + ".\n");
        }
        out().finish();  // a confirmation that cannot be shown is said on stderr; the work stands
        return status;
    } catch (const StdoutLost&) {
        return kExitFailed;
    } catch (const std::bad_alloc&) {
        throw;  // main's "out of memory"
    } catch (const stats::Cancelled&) {
        throw;  // main's 128 + the signal
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace

std::span<const OptionDef> exportOptions() {
    return kExportOptions;
}

std::span<const OptionDef> snapshotOptions() {
    return kSnapshotOptions;
}

int runExport(const Args& args) {
    return run(args, false);
}

int runSnapshot(const Args& args) {
    return run(args, true);
}

}  // namespace pelmora::cli
