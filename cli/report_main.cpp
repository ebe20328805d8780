// pelmora-report: the report subcommand of pelmora-cli (which runs this program for it), in
// a program of its own because it needs Qt.
#include <clocale>
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    return pelmora::cli::writeReport(pelmora::cli::Args(argv + 1, argv + argc));
}
