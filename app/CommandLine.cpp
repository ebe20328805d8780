#include "app/CommandLine.h"

// Placeholder until the command-line work lands: no arguments, no batch.
namespace pelmora::app {
std::vector<std::string> splitCommandLine(std::string_view) { return {}; }
std::vector<std::string> programArguments(int, char**) { return {}; }
std::string batchListName(std::string_view programDir, std::string_view) {
    return std::string(programDir) + "DEFAULT.PML";
}
}  // namespace pelmora::app
