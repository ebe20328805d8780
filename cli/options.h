// Command-line options in the getopt_long manner: "-j 4", "-j4", "--jobs=4", "--jobs 4", short
// flags bundled ("-qj4"), options and operands in any order, "--" ends the options and a lone
// "-" is an operand. A long option may be shortened to any prefix that names one option alone
// ("--disk" for "--disk-usage"); an exact name wins over the names it begins ("--top" before
// "--top-level"). Arguments are bytes and are never re-encoded.
//
// Each command describes its options in one table of OptionDef. Every table also understands
// "--help", and "-h" unless the table gives 'h' a meaning of its own.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pelmora::cli {

struct OptionDef {
    const char* name;  // the long name without "--"
    char shortName;    // '\0' when there is none
    bool takesValue;
    int id;  // what the command receives; two names with the same id are one option
};

struct ParsedOptions {
    std::vector<std::pair<int, std::string>> options;  // id and value, in the order given
    std::vector<std::string> operands;
    // "--help" (or "-h") was met. Parsing stops there, as getopt_long's callers stop at it:
    // what follows it is neither parsed nor checked.
    bool help = false;
};

// Parses `args` against `defs`. Returns "" or a one-line reason: "unknown option '--x'",
// "unknown option '-x'", "option '--h' is ambiguous; possibilities: '--history' '--help'",
// "option '--jobs' needs a value", "option '-j' needs a value", "option '--csv' takes no value".
// The first fault in the order of `args` is the one reported; options before it are in `parsed`.
std::string parseOptions(const std::vector<std::string>& args, std::span<const OptionDef> defs,
                         ParsedOptions& parsed);

}  // namespace pelmora::cli
