#include "cli/options.h"

namespace pelmora::cli {

std::string parseOptions(const std::vector<std::string>& args, std::span<const OptionDef> defs,
                         ParsedOptions& parsed) {
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
            const std::string name = a.substr(2, eq == std::string::npos ? eq : eq - 2);
            const OptionDef* def = nullptr;
            for (const OptionDef& s : defs) {
                if (name == s.name) def = &s;
            }
            if (def == nullptr) return "unknown option '--" + name + "'";
            if (!def->takesValue) {
                if (eq != std::string::npos) return "option '--" + name + "' takes no value";
                parsed.options.emplace_back(def->id, std::string());
            } else if (eq != std::string::npos) {
                parsed.options.emplace_back(def->id, a.substr(eq + 1));
            } else if (i + 1 < args.size()) {
                parsed.options.emplace_back(def->id, args[++i]);
            } else {
                return "option '--" + name + "' needs a value";
            }
            continue;
        }
        for (std::size_t k = 1; k < a.size(); ++k) {
            const OptionDef* def = nullptr;
            for (const OptionDef& s : defs) {
                if (s.shortName != '\0' && s.shortName == a[k]) def = &s;
            }
            if (def == nullptr) return "unknown option '-" + std::string(1, a[k]) + "'";
            if (!def->takesValue) {
                parsed.options.emplace_back(def->id, std::string());
            } else if (k + 1 < a.size()) {
                parsed.options.emplace_back(def->id, a.substr(k + 1));
                break;
            } else if (i + 1 < args.size()) {
                parsed.options.emplace_back(def->id, args[++i]);
            } else {
                return "option '-" + std::string(1, a[k]) + "' needs a value";
            }
        }
    }
    return {};
}

}  // namespace pelmora::cli
