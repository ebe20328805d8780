#include "stats/counting.h"

#include <optional>

#include "platform/paths.h"
#include "platform/volumes.h"

namespace pelmora::stats {

TDirStats DirStats;
std::int32_t EntryOverhead = 0;

namespace {
// Figures of the last successful probe queries; none before the first.
std::uint32_t g_clusterSize = 0;
std::uint32_t g_fsFlags = 0;
}  // namespace

void ResetDirStats() {
    DirStats = TDirStats{};
}

TDirStats dirStatsOf(const CountResult& result) {
    TDirStats s;
    s.DirCount = result.directories;
    s.FileCount = result.files;
    s.ByteTotal = result.byteTotal;
    return s;
}

CountResult CountTree(std::string_view dir) {
    ResetDirStats();
    CountResult result = count(dir);
    DirStats = dirStatsOf(result);
    return result;
}

std::int64_t overheadFor(std::int64_t directories, std::int64_t files, std::int32_t entryOverhead) {
    return (directories + files) * static_cast<std::int64_t>(entryOverhead);
}

std::int64_t TreeOverhead() {
    return overheadFor(DirStats.DirCount, DirStats.FileCount, EntryOverhead);
}

std::string ProbeVolume(platform::Volumes& v) {
    const std::string here = platform::currentDirectory();
    if (const std::optional<std::uint32_t> size = v.clusterSize(here.empty() ? "." : here))
        g_clusterSize = *size;
    if (const std::optional<std::uint32_t> flags = v.fileSystemFlags(here.empty() ? "." : here))
        g_fsFlags = *flags;
    if (g_fsFlags & platform::kFsCompressed) {
        EntryOverhead = 0;
        return "(Compressed)";
    }
    EntryOverhead = static_cast<std::int32_t>(g_clusterSize / 2);
    return "";
}

}  // namespace pelmora::stats
