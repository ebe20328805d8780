// Counting a tree with several threads, for pelmora-cli: the same figures as CountTree.
#pragma once

#include <string_view>

#include "stats/counting.h"

namespace pelmora::stats {

// Counts the tree below `dir` exactly as CountTree does (same entries, same descent rule)
// with `jobs` threads, and returns the figures without touching DirStats. ByteTotal equals
// CountTree's for every tree below 2^40 bytes. jobs <= 1 counts on the calling thread.
TDirStats CountTreeParallel(std::string_view dir, unsigned jobs);

}  // namespace pelmora::stats
