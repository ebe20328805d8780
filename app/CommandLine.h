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

// The batch list name: `folder` + the argument with a..z upper-cased and its extension replaced
// by ".PML" (plain concatenation, not resolved as a path).
std::string batchListName(std::string_view folder, std::string_view argument);

// The list file of a batch run with `argument`, looked for in each of `folders` in turn (each
// ends in '/'): the batch list name when it names a file, else the one file beside it whose name
// is the same ignoring letter case (Linux names are case-sensitive; "weekly" finds a list saved
// as "weekly.PML"). When none is found, or a folder holds several such files and so no one of
// them is meant, the batch list name in the first folder, which the run then reports missing.
std::string findBatchList(const std::vector<std::string>& folders, std::string_view argument);

}  // namespace pelmora::app
