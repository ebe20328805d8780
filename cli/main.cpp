// pelmora-cli: Pelmora's counting, export, growth history and report without a window, for
// scripts, cron and benchmarks. Arguments are taken as bytes, never re-encoded.
#include <clocale>
#include <new>
#include <string>

#include "cli/commands.h"
#include "cli/signals.h"
#include "cli/stdout.h"
#include "stats/engine.h"

namespace {

using namespace pelmora::cli;

int runHelp(const Args& args);

std::span<const OptionDef> noOptions() {
    return {};
}

std::span<const OptionDef> reportOptions() {
    return kReportOptions;
}

struct Command {
    std::string_view name;
    std::span<const OptionDef> (*options)();
    int (*run)(const Args&);
};

// Every command, with the table of its options.
constexpr Command kCommands[] = {
    {"count", countOptions, runCount},          {"export", exportOptions, runExport},
    {"snapshot", snapshotOptions, runSnapshot}, {"history", historyOptions, runHistory},
    {"report", reportOptions, runReport},       {"help", noOptions, runHelp},
};

// help [COMMAND]
int runHelp(const Args& args) {
    ParsedOptions parsed;
    if (const std::string e = parseOptions(args, noOptions(), parsed); !e.empty())
        return usageError("help", e);
    if (parsed.operands.size() > 1) return usageError("help", "one command at most");
    return printHelp(parsed.operands.empty() ? "" : parsed.operands.front());
}

enum { kOptVersion = 1 };
constexpr OptionDef kProgramOptions[] = {{"version", 'V', false, kOptVersion}};

// "pelmora-cli --help", "--version" and their short forms; what follows is not looked at.
int runProgramOption(const std::string& option) {
    ParsedOptions parsed;
    if (const std::string e = parseOptions({option}, kProgramOptions, parsed); !e.empty())
        return usageError("", e + "; run 'pelmora-cli --help'");
    if (parsed.help) return printHelp("");
    out().write(versionLine());
    return out().finish() ? kExitOk : kExitFailed;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        message("no command given; run 'pelmora-cli --help'");
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first.size() > 1 && first[0] == '-') return runProgramOption(first);
    const Args args(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (command.name != first) continue;
        // The command's own parse would stop at --help the same way; it is told here, before
        // the command does anything. A usage error is left to the command to report.
        ParsedOptions parsed;
        parseOptions(args, command.options(), parsed);
        if (parsed.help) return printHelp(command.name);
        return command.run(args);
    }
    return usageError("", "unknown command '" + first + "'; run 'pelmora-cli --help'");
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    catchInterrupts();
    try {
        const int status = run(argc, argv);
        const int interrupted = interruptStatus();
        return interrupted != 0 ? interrupted : status;
    } catch (const pelmora::stats::Cancelled&) {
        // Unwinding has removed any temporary file; the previous data file stays.
        return interruptStatus() != 0 ? interruptStatus() : kExitFailed;
    } catch (const std::bad_alloc&) {
        // Unwinding has released what the failed command held: a data file being written is
        // removed, the previous one stays.
        return outOfMemory();
    }
}
