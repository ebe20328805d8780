#include "stats/walker.h"

namespace pelmora::stats {
TWalkState WalkState;
bool MatchesMask(std::string_view, std::string_view) { return true; }
int ScanDirectory(std::string_view, std::uint16_t, WalkCallback, WalkOptions) { return 2; }
int WalkTree(std::string_view, std::uint16_t, WalkCallback, WalkOptions) { return 2; }
}  // namespace pelmora::stats
