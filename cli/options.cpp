#include "cli/options.h"

#include <algorithm>
#include <climits>
#include <string_view>

namespace pelmora::cli {

namespace {

// The id of the --help every table understands; no command's id is this.
constexpr int kHelpId = INT_MIN;

// `defs` with --help (and -h, where 'h' is free) added unless the table has its own.
std::vector<OptionDef> withHelp(std::span<const OptionDef> defs) {
    std::vector<OptionDef> all(defs.begin(), defs.end());
    const auto named = [](std::string_view n) {
        return [n](const OptionDef& d) { return n == d.name; };
    };
    if (std::none_of(all.begin(), all.end(), named("help"))) {
        const bool hTaken = std::any_of(all.begin(), all.end(),
                                        [](const OptionDef& d) { return d.shortName == 'h'; });
        all.push_back({"help", hTaken ? '\0' : 'h', false, kHelpId});
    }
    return all;
}

// The option the long name `name` (not empty) stands for: its exact name, else the one option
// whose name begins with it. On failure returns nullptr and sets `error`.
const OptionDef* findLong(std::string_view name, const std::vector<OptionDef>& defs,
                          std::string& error) {
    std::vector<const OptionDef*> found;
    for (const OptionDef& d : defs) {
        if (name == d.name) return &d;
        if (std::string_view(d.name).starts_with(name)) found.push_back(&d);
    }
    const auto sameOption = [&found](const OptionDef* d) {
        return d->id == found.front()->id && d->takesValue == found.front()->takesValue;
    };
    if (found.empty()) {
        error = "unknown option '--" + std::string(name) + "'";
    } else if (!std::all_of(found.begin(), found.end(), sameOption)) {
        error = "option '--" + std::string(name) + "' is ambiguous; possibilities:";
        for (const OptionDef* d : found) error += std::string(" '--") + d->name + "'";
    } else {
        return found.front();
    }
    return nullptr;
}

const OptionDef* findShort(char c, const std::vector<OptionDef>& defs) {
    const auto it = std::find_if(defs.begin(), defs.end(), [c](const OptionDef& d) {
        return d.shortName != '\0' && d.shortName == c;
    });
    return it == defs.end() ? nullptr : &*it;
}

}  // namespace

std::string parseOptions(const std::vector<std::string>& args, std::span<const OptionDef> table,
                         ParsedOptions& parsed) {
    const std::vector<OptionDef> defs = withHelp(table);
    // Takes `def` with `value`; false when it is --help, which ends the parsing.
    const auto take = [&parsed](const OptionDef& def, std::string value) {
        if (def.id == kHelpId) {
            parsed.help = true;
            return false;
        }
        parsed.options.emplace_back(def.id, std::move(value));
        return true;
    };
    bool ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (ended || a.size() < 2 || a[0] != '-') {
            parsed.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            ended = true;
            continue;
        }
        if (a[1] == '-') {
            const std::size_t eq = a.find('=');
            const std::string_view given =
                std::string_view(a).substr(2, eq == std::string::npos ? eq : eq - 2);
            if (given.empty()) return "unknown option '" + a + "'";
            std::string error;
            const OptionDef* def = findLong(given, defs, error);
            if (def == nullptr) return error;
            const std::string name = std::string("--") + def->name;
            std::string value;
            if (!def->takesValue) {
                if (eq != std::string::npos) return "option '" + name + "' takes no value";
            } else if (eq != std::string::npos) {
                value = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return "option '" + name + "' needs a value";
            }
            if (!take(*def, std::move(value))) return {};
            continue;
        }
        for (std::size_t k = 1; k < a.size(); ++k) {
            const OptionDef* def = findShort(a[k], defs);
            const std::string name = "-" + std::string(1, a[k]);
            if (def == nullptr) return "unknown option '" + name + "'";
            std::string value;
            const bool rest = def->takesValue && k + 1 < a.size();
            if (rest) {
                value = a.substr(k + 1);
            } else if (def->takesValue) {
                if (i + 1 == args.size()) return "option '" + name + "' needs a value";
                value = args[++i];
            }
            if (!take(*def, std::move(value))) return {};
            if (rest) break;
        }
    }
    return {};
}

}  // namespace pelmora::cli
