// The threaded walk of the counting engine (stats/engine.h); count() is its only caller.
#pragma once

#include <string_view>

#include "stats/engine.h"

namespace pelmora::stats::detail {

// Counts the tree below `dir` with up to `jobs` threads (the calling thread among them). The
// byte total is exact while the tree holds at most 2^40 bytes; beyond that only a sum in walk
// order is right, and `exceeded` is set (the result's byte total is then not to be used).
CountResult countThreaded(std::string_view dir, const CountOptions& options, unsigned jobs,
                          bool& exceeded);

}  // namespace pelmora::stats::detail
