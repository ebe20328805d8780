// pelmora-cli: Pelmora's counting, export and report without a window, for scripts, cron and
// benchmarks. Arguments are taken as bytes, never re-encoded.
#include <clocale>
#include <cstdio>
#include <iostream>
#include <new>

#include "cli/commands.h"

namespace pelmora::cli {

int usageError(const std::string& message) {
    std::cerr << "pelmora-cli: " << message << '\n';
    return 2;
}

}  // namespace pelmora::cli

namespace {

constexpr const char* kUsage =
    "usage: pelmora-cli count [--csv] [--jobs N] DIR...\n"
    "       pelmora-cli export [--jobs N] LIST\n"
    "       pelmora-cli report LIST -o FILE.pdf\n";

int run(int argc, char** argv) {
    const std::string command = argv[1];
    const pelmora::cli::Args args(argv + 2, argv + argc);
    if (command == "count") return pelmora::cli::runCount(args);
    if (command == "export") return pelmora::cli::runExport(args);
    if (command == "report") return pelmora::cli::runReport(args);
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return pelmora::cli::usageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Unwinding has released what the failed command held: a data file being written is
        // removed, the previous one stays.
        return pelmora::cli::outOfMemory();
    }
}
