// The figures below a DIR of count (stats::CountResult::below) as the tree count -d prints:
// every directory with its subdirectories in the order asked for, at most the number asked for
// at each level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "stats/engine.h"

namespace pelmora::cli {

enum class SortKey { Bytes, Files, Dirs, Name };

struct TreeRow {
    std::string path;    // the DIR's text, or the walk's path below it
    unsigned depth = 0;  // 0 for the DIR
    std::int64_t directories = 0;
    std::int64_t files = 0;
    unsigned __int128 exactBytes = 0;
    stats::Real48 byteTotal;
    std::uint64_t allocatedBytes = 0;
    std::int64_t errorCount = 0;
};

// The DIR `dir` with the figures `result` gave it and those below it, in the order they are
// printed: each directory before its subdirectories, which follow sorted by `key` (bytes,
// files or directories largest first, ties by name; by name in byte order) and, with `top`
// above 0, only the `top` largest of them (by bytes with Name, by the key otherwise).
std::vector<TreeRow> sortedTree(std::string_view dir, const stats::CountResult& result, SortKey key,
                                std::size_t top);

}  // namespace pelmora::cli
