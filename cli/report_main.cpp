// pelmora-report: the report subcommand of pelmora-cli (which runs this program for it), in
// a program of its own because it needs Qt.
#include <clocale>
#include <iostream>

#include "cli/commands.h"

namespace pelmora::cli {

int usageError(const std::string& message) {
    std::cerr << "pelmora-cli: " << message << '\n';
    return 2;
}

}  // namespace pelmora::cli

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    return pelmora::cli::runReport(pelmora::cli::Args(argv + 1, argv + argc));
}
