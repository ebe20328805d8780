// The subcommands of pelmora-cli. Each takes the arguments after its own name and returns the
// process exit status: 0 success, 1 failure of the work, 2 bad usage.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

namespace pelmora::cli {

using Args = std::vector<std::string>;

int runCount(const Args& args);   // count [--csv] [--jobs N] DIR...
int runExport(const Args& args);  // export [--jobs N] LIST
int runReport(const Args& args);  // report LIST -o FILE.pdf

// Prints "pelmora-cli: <message>" to stderr and returns 2.
int usageError(const std::string& message);

// Prints "pelmora-cli: out of memory" to stderr, without allocating, and returns 1. Every
// subcommand ends so when memory runs out (std::bad_alloc), never by a crash.
inline int outOfMemory() {
    static constexpr char kMessage[] = "pelmora-cli: out of memory\n";
    if (::write(2, kMessage, sizeof kMessage - 1) < 0) {
        // Nowhere left to say it; the exit status still does.
    }
    return 1;
}

// "--jobs" handling shared by the subcommands: a number from 1 to 1024; the default is the
// counting engine's (stats::defaultJobs()).
bool parseJobs(const std::string& text, unsigned& jobs);
unsigned defaultJobs();

}  // namespace pelmora::cli
