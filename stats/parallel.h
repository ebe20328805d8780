// Counting a tree with several threads, for pelmora-cli: the same figures as CountTree.
#pragma once

#include <cstddef>
#include <string_view>

#include "stats/counting.h"

namespace pelmora::stats {

// Counts the tree below `dir` exactly as CountTree does (same entries, same descent rule)
// with `jobs` threads, and returns the figures without touching DirStats. ByteTotal equals
// CountTree's for every tree below 2^40 bytes (sizes are summed exactly and rounded once).
// jobs <= 1 counts on the calling thread. An empty text, or a start directory that cannot be
// opened, counts nothing.
TDirStats CountTreeParallel(std::string_view dir, unsigned jobs);

// The same with an explicit descriptor budget: the number of directories that may keep their
// descriptor open between their own scan and the opening of their last subdirectory. A
// subdirectory whose parent could not keep its descriptor is reached again, name by name,
// from the nearest ancestor that still holds one (the start directory always does). Each
// thread holds at most three descriptors besides these.
TDirStats CountTreeParallel(std::string_view dir, unsigned jobs, std::size_t descriptorBudget);

}  // namespace pelmora::stats
