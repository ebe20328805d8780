// Names and paths a count leaves out (pelmora-cli count --exclude): shell patterns as du takes
// them. A pattern without '/' is matched against an entry's name; one with '/' against its
// path, at its end: "build/*.o" leaves out every "x.o" directly in a directory named build,
// wherever it lies. '*' and '?' do not match '/' in a path; '[...]' and '\' work as in the
// shell. An entry left out is neither counted nor, when it is a directory, entered.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelmora::stats {

class Exclusion {
  public:
    explicit Exclusion(std::vector<std::string> patterns);

    // Whether the entry `name` of the directory whose entries' prefix is `prefix` (its path
    // with a '/') is left out. `prefix` is read only when a pattern holds a '/'.
    bool excludes(std::string_view prefix, std::string_view name) const;
    // Whether some pattern needs the entry's path.
    bool byPath() const { return !m_paths.empty(); }
    bool empty() const { return m_names.empty() && m_paths.empty(); }

  private:
    std::vector<std::string> m_names;
    std::vector<std::string> m_paths;
};

}  // namespace pelmora::stats
