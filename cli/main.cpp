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

int run(int argc, char** argv) {
    if (argc < 2) {
        message("no command given; run 'pelmora-cli --help'");
        return kExitUsage;
    }
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h") return printHelp("");
    if (command == "--version" || command == "-V") {
        out().write(versionLine());
        return out().finish() ? kExitOk : kExitFailed;
    }
    if (command == "help") {
        if (args.size() > 1) return usageError("help", "one command at most");
        return printHelp(args.empty() ? "" : args.front());
    }
    // COMMAND --help anywhere before "--".
    for (const std::string& a : args) {
        if (a == "--") break;
        if ((a == "--help" || a == "-h") && !helpText(command).empty() && command != "help")
            return printHelp(command);
    }
    if (command == "count") return runCount(args);
    if (command == "export") return runExport(args);
    if (command == "snapshot") return runSnapshot(args);
    if (command == "history") return runHistory(args);
    if (command == "report") return runReport(args);
    return usageError("", "unknown command '" + command + "'; run 'pelmora-cli --help'");
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
