// Command-line options in the getopt_long manner: "-j 4", "-j4", "--jobs=4", "--jobs 4", short
// flags bundled ("-qj4"), options and operands in any order, "--" ends the options and a lone
// "-" is an operand. Arguments are bytes and are never re-encoded.
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
    int id;
};

struct ParsedOptions {
    std::vector<std::pair<int, std::string>> options;  // id and value, in the order given
    std::vector<std::string> operands;
};

// Parses `args` against `defs`. Returns "" or a one-line reason ("unknown option '--x'",
// "option '--jobs' needs a value", "option '--csv' takes no value").
std::string parseOptions(const std::vector<std::string>& args, std::span<const OptionDef> defs,
                         ParsedOptions& parsed);

}  // namespace pelmora::cli
