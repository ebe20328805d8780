#include "stats/exclude.h"

#include <fnmatch.h>

namespace pelmora::stats {

Exclusion::Exclusion(std::vector<std::string> patterns) {
    for (std::string& p : patterns) {
        if (p.empty()) continue;
        (p.find('/') == std::string::npos ? m_names : m_paths).push_back(std::move(p));
    }
}

bool Exclusion::excludes(std::string_view prefix, std::string_view name) const {
    if (m_names.empty() && m_paths.empty()) return false;
    const std::string entry(name);
    for (const std::string& p : m_names) {
        if (::fnmatch(p.c_str(), entry.c_str(), 0) == 0) return true;
    }
    if (m_paths.empty()) return false;
    std::string path(prefix);
    path += name;
    for (const std::string& p : m_paths) {
        // The pattern against the whole path, and against every end of it that starts after a
        // '/'.
        for (std::size_t from = 0; from != std::string::npos;) {
            if (::fnmatch(p.c_str(), path.c_str() + from, FNM_PATHNAME) == 0) return true;
            const std::size_t slash = path.find('/', from);
            from = slash == std::string::npos ? slash : slash + 1;
        }
    }
    return false;
}

}  // namespace pelmora::stats
