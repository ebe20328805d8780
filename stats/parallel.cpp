#include "stats/parallel.h"

// Placeholder until the parallel count lands: counts on the calling thread.
namespace pelmora::stats {
TDirStats CountTreeParallel(std::string_view dir, unsigned /*jobs*/) {
    const TDirStats saved = DirStats;
    CountTree(dir);
    const TDirStats result = DirStats;
    DirStats = saved;
    return result;
}
}  // namespace pelmora::stats
