// pelmora-chart LIST [--since TIME] [--until TIME] [--top N] -o FILE.svg|FILE.png
//
// The growth chart of a list's history, for `pelmora-cli history --plot`, which runs this
// program beside it (it needs Qt's painting; pelmora-cli loads no Qt). Runs without a display.
// Exit status: 0 written; 1 no history to draw (none yet, none in the range, or a database that
// cannot be read); 2 bad usage; 3 the file could not be written in full.
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

namespace {

using namespace pelmora;

const char* const kUsage =
    "usage: pelmora-chart LIST [--since TIME] [--until TIME] [--top N] -o FILE.svg|FILE.png\n"
    "TIME is UTC: 2026-12-08 or 2026-12-08T12:00:00Z; --top defaults to 8.\n";

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
    std::optional<std::string> list, output;
    history::Query query;
    query.top = 8;
    query.series = true;
    bool optionsDone = false;
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
                   arg == "--top") {
            if (i + 1 == argc) return usage(arg + " needs a value");
            value = argv[++i];
        } else {
            return usage("unknown option '" + arg + "'");
        }
        if (arg == "-o" || arg == "--output") {
            output = value;
        } else if (arg == "--since" || arg == "--until") {
            const std::optional<std::int64_t> t = history::parseUtc(value, arg == "--until");
            if (!t)
                return usage("invalid time '" + value +
                             "' (use YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC)");
            (arg == "--since" ? query.range.since : query.range.until) = t;
        } else if (arg == "--top") {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 100)
                return usage("--top needs a number from 1 to 100");
            query.top = static_cast<std::size_t>(n);
        } else {
            return usage("unknown option '" + arg + "'");
        }
    }
    if (!list || !output) return usage(std::string("missing ") + (list ? "-o FILE" : "LIST"));
    const std::optional<history::ChartFormat> format = history::chartFormatFor(*output);
    if (!format) return usage("the chart's file name must end in .svg or .png: '" + *output + "'");

    history::HistoryReport report;
    try {
        report = history::queryHistory(*list, query);
    } catch (const history::HistoryError& e) {
        return fail(e.what(), 1);
    }
    if (report.emptyRange) return fail("history: no snapshot of " + *list + " in that range", 1);
    if (report.clockWentBackwards)
        std::cerr << "pelmora-cli: history: note: the clock went backwards between snapshots; "
                     "they are shown in order of recording\n";

    const platform::PrivateRuntimeDir runtimeDir("pelmora-chart");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char name[] = "pelmora-chart";
    char* qtArgv[] = {name, nullptr};
    const QGuiApplication app(qtArgc, qtArgv);

    const QString title = platform::displayName(platform::bareName(*list));
    const std::string error =
        history::writeChart(*output, *format, history::chartDataOf(report, title));
    if (!error.empty()) return fail(error, 3);
    return 0;
}
