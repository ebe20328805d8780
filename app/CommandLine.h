// The command line: the classic token rules and the batch list name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelmora::app {

// Splits one command-line text into tokens: control characters and spaces separate them, a
// double quote opens a stretch collected up to the next one (spaces included), two adjacent
// quotes between tokens are skipped; the tokens end at the first empty one.
std::vector<std::string> splitCommandLine(std::string_view line);

// The program's arguments (argv[1..]) after the token rules, counted up to the first empty one.
std::vector<std::string> programArguments(int argc, char** argv);

// The batch list name: programDir + the argument with a..z upper-cased and its extension
// replaced by ".PML" (plain concatenation, not resolved as a path).
std::string batchListName(std::string_view programDir, std::string_view argument);

}  // namespace pelmora::app
