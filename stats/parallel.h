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

// The same with an explicit descriptor budget: the number of directories (besides the start
// directory) that may hold a descriptor between their own read and the opening of their last
// subdirectory; beyond it the least recently used one is closed. A subdirectory whose parent
// holds none is reached again, name by name, from the nearest ancestor that does. Each thread
// holds at most two descriptors besides these while it opens and reads a directory.
TDirStats CountTreeParallel(std::string_view dir, unsigned jobs, std::size_t descriptorBudget);

}  // namespace pelmora::stats
