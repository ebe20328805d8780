// Counting a tree: DirStats, the cluster-overhead estimate and the volume probe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stats/engine.h"
#include "stats/real48.h"
#include "stats/walker.h"

namespace pelmora::platform {
class Volumes;
}  // namespace pelmora::platform

namespace pelmora::stats {

struct TDirStats {
    std::int64_t DirCount = 0;   // counted entries with the directory bit
    std::int64_t FileCount = 0;  // counted entries without it
    Real48 ByteTotal;            // sizes of all counted entries, directories included
};

// The figures of the window's last count, defined in stats/counting.cpp. Written by
// ResetDirStats and CountTree on the window's thread, and by the window's data file and report
// after each line or row; the Stats command reads its figures back from it (with
// TreeOverhead). Every other caller takes the count's result as a value.
extern TDirStats DirStats;

// Bytes of cluster slack charged per counted entry: half the cluster size of the volume that
// was current at the last ProbeVolume, 0 on a compressed volume and before the first probe.
// Defined in stats/counting.cpp and written only by ProbeVolume; the window and pelmora-cli
// read it and pass it on to overheadFor, the data file and the report.
extern std::int32_t EntryOverhead;

void ResetDirStats();

// The figures of a count, as DirStats holds them.
TDirStats dirStatsOf(const CountResult& result);

// Resets DirStats and counts the whole tree below `dir` with the counting engine and its
// default number of threads: the figures of WalkTree with the separator rule, "*.*", the
// attribute set 63 and the counting rule. Sets DirStats from the result (on the calling thread) and
// returns the result, errors included. An empty text counts nothing.
CountResult CountTree(std::string_view dir);

// The cluster overhead of a count: every counted entry, directory or file, is charged
// `entryOverhead` bytes; (directories + files) x entryOverhead, exact in 64 bits. The Stats
// panel, the data file, the report and pelmora-cli all take their overhead from here.
std::int64_t overheadFor(std::int64_t directories, std::int64_t files, std::int32_t entryOverhead);

// overheadFor the current DirStats and EntryOverhead.
std::int64_t TreeOverhead();

// Measures the volume of the process's current directory through `volumes`: sets
// EntryOverhead and returns the text for CompressedLabel ("(Compressed)" or ""). A failed
// query keeps the figures of the previous successful one (zero before any).
std::string ProbeVolume(platform::Volumes& volumes);

}  // namespace pelmora::stats
