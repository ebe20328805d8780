// The subcommands of pelmora-cli. Each takes the arguments after its own name and returns the
// process exit status, the same table for all of them (kExit*; usage.cpp prints it in --help).
#pragma once

#include <unistd.h>

#include <span>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"

namespace pelmora::cli {

using Args = std::vector<std::string>;

// Exit statuses. A subcommand stopped by SIGINT or SIGTERM exits with 128 + the signal.
inline constexpr int kExitOk = 0;          // every figure complete, everything written
inline constexpr int kExitIncomplete = 1;  // written, but some directory could not be read
inline constexpr int kExitUsage = 2;       // bad usage
inline constexpr int kExitFailed = 3;      // the work failed: a file or stdout not written in full

int runCount(const Args& args);     // count [OPTIONS] DIR...
int runExport(const Args& args);    // export [OPTIONS] LIST
int runSnapshot(const Args& args);  // snapshot [OPTIONS] LIST
int runHistory(const Args& args);   // history [OPTIONS] LIST
int runReport(const Args& args);    // report LIST -o FILE.pdf: runs pelmora-report
int writeReport(const Args& args);  // the report itself, in pelmora-report (Qt)

// Each command's option table, the one its run function parses with; main() parses with it
// too, to tell "COMMAND --help" (in any form getopt_long takes) before running the command.
std::span<const OptionDef> countOptions();
std::span<const OptionDef> exportOptions();
std::span<const OptionDef> snapshotOptions();
std::span<const OptionDef> historyOptions();
// report's, for pelmora-cli and pelmora-report alike.
enum ReportOptionId { kOptReportOutput = 1 };
inline constexpr OptionDef kReportOptions[] = {{"output", 'o', true, kOptReportOutput}};

// The usage of `command` ("" for the program's), with the exit-status table.
std::string helpText(std::string_view command);
// Prints helpText(command) on stdout; returns kExitOk, or kExitFailed when it could not be
// written, or kExitUsage for a command that does not exist.
int printHelp(std::string_view command);
// Prints "pelmora-cli: <command>: <message>" (or without the command when it is "") on
// stderr, one line, and returns kExitUsage.
int usageError(std::string_view command, const std::string& message);
// "pelmora-cli 2.0.0\n": the project's version.
std::string versionLine();
// Prints "pelmora-cli: <message>" on stderr, one line (the program's messages all look so).
void message(const std::string& text);
// The same for a message in pieces (a path among them is not copied into one text).
void message(std::initializer_list<std::string_view> parts);

// Prints "pelmora-cli: out of memory" to stderr, without allocating, and returns kExitFailed.
// Every subcommand ends so when memory runs out (std::bad_alloc), never by a crash.
inline int outOfMemory() {
    static constexpr char kMessage[] = "pelmora-cli: out of memory\n";
    if (::write(2, kMessage, sizeof kMessage - 1) < 0) {
        // Nowhere left to say it; the exit status still does.
    }
    return kExitFailed;
}

// "--jobs" handling shared by the subcommands: a number from 1 to 1024; the default is the
// counting engine's (stats::defaultJobs()).
bool parseJobs(const std::string& text, unsigned& jobs);
unsigned defaultJobs();

}  // namespace pelmora::cli
