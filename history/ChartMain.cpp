// pelmora-chart LIST [--explain DIR] [--since TIME] [--until TIME] [--top N] -o FILE.svg|FILE.png
//
// The growth chart of a list's history (with --explain, of one directory's subdirectories), for
// `pelmora-cli history --plot`, which runs this program beside it (it needs Qt's painting;
// pelmora-cli loads no Qt). Runs without a display. Exit status, as pelmora-cli's: 0 written (also
// for a range without a snapshot: the chart is drawn without lines and says so); 2 bad usage; 3 no
// history (none yet, or one that cannot be read or is refused), or the file could not be written in
// full. The terminating signals are held back from the start of the drawing to the end, so that
// neither the private runtime folder nor the chart's temporary file is ever left behind; one that
// came takes effect then.
#include <QGuiApplication>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "history/Chart.h"
#include "history/History.h"
#include "platform/qt/displayname.h"
#include "platform/qt/runtimedir.h"
#include "platform/paths.h"
#include "platform/replacefile.h"

namespace {

using namespace pelmora;

const char* const kUsage =
    "usage: pelmora-chart LIST [--explain DIR] [--since TIME] [--until TIME] [--top N]\n"
    "                     -o FILE.svg|FILE.png\n"
    "TIME: 2026-12-08, 20261208, 2026-12-08T12:00:00+01:00 (UTC without an offset) or an age\n"
    "(6h, 30d, 12w, 1y); --top: 1 to 100, 8 by default.\n";

int usage(const std::string& message) {
    std::cerr << "pelmora-cli: history: " << message << '\n';
    return 2;
}

int fail(const std::string& message, int status) {
    std::cerr << "pelmora-cli: " << message << '\n';
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::optional<std::string> list, output, explain;
    history::Query query;
    query.top = 8;
    query.series = true;
    bool optionsDone = false;
    const std::int64_t now = history::nowUtc();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            if (list) return usage("unexpected argument '" + arg + "'");
            list = arg;
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        std::string value;
        const std::size_t eq = arg.find('=');
        if (arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.erase(eq);
        } else if (arg == "-o" || arg == "--output" || arg == "--since" || arg == "--until" ||
                   arg == "--top" || arg == "--explain") {
            if (i + 1 == argc) return usage(arg + " needs a value");
            value = argv[++i];
        } else {
            return usage("unknown option '" + arg + "'");
        }
        if (arg == "-o" || arg == "--output") {
            output = value;
        } else if (arg == "--explain") {
            if (value.empty()) return usage("--explain needs a directory");
            explain = value;
        } else if (arg == "--since" || arg == "--until") {
            const std::optional<std::int64_t> t = history::parseTime(value, arg == "--until", now);
            if (!t)
                return usage("invalid date '" + value + "' (" + std::string(history::kTimeForms) +
                             ")");
            (arg == "--since" ? query.range.since : query.range.until) = t;
        } else if (arg == "--top") {
            const std::optional<std::size_t> n = history::parseTop(value, history::kMaxChartTop);
            if (!n)
                return usage("--top needs a number from 1 to " +
                             std::to_string(history::kMaxChartTop));
            query.top = *n;
        } else {
            return usage("unknown option '" + arg + "'");
        }
    }
    if (!list || !output) return usage(std::string("missing ") + (list ? "-o FILE" : "LIST"));
    const std::optional<history::ChartFormat> format = history::chartFormatFor(*output);
    if (!format) return usage("the chart's file name must end in .svg or .png: '" + *output + "'");

    if (query.range.since && query.range.until && *query.range.since > *query.range.until)
        return usage("--since lies after --until");

    history::HistoryReport report;
    try {
        if (explain) {
            // The subdirectories' lines, over the snapshots that hold them.
            history::Explanation e = history::explainHistory(*list, *explain, query);
            report.snapshots = std::move(e.snapshots);
            report.directories = std::move(e.subdirectories);
            report.clockWentBackwards = e.clockWentBackwards;
            report.emptyRange = report.snapshots.empty();
        } else {
            report = history::queryHistory(*list, query);
        }
    } catch (const history::HistoryError& e) {
        return fail(e.what(), 3);
    }
    if (report.clockWentBackwards)
        std::cerr << "pelmora-cli: history: the clock went backwards between snapshots of " << *list
                  << "; they are taken in order of recording\n";

    // From here to the end nothing stops half way (Qt's threads inherit the hold).
    const platform::HeldSignals held;
    const platform::PrivateRuntimeDir runtimeDir("pelmora-chart");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char name[] = "pelmora-chart";
    char* qtArgv[] = {name, nullptr};
    const QGuiApplication app(qtArgc, qtArgv);

    QString title = platform::displayName(platform::bareName(*list));
    if (explain) title += QStringLiteral(": ") + platform::displayName(*explain);
    const history::ChartData chart = history::chartDataOf(report, title, query.range);
    if (platform::HeldSignals::pending()) return 3;  // stopped: the signal takes effect at the end
    const std::string error = history::writeChart(*output, *format, chart);
    if (!error.empty()) return fail(error, 3);
    return 0;
}
