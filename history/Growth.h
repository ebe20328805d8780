// What the history's report and its explanation of one directory share, and the subdirectories
// of a snapshot as they are recorded and read. Internal to history/.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <unistd.h>

#include "history/Database.h"
#include "history/History.h"

namespace pelmora::history::detail {

// Runs `work` again while it fails in a way that left nothing done (a lock SQLite would not
// wait for, a file that changed under a read), up to kBusyTimeoutMs.
template <typename F>
auto retrying(F&& work) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    std::minstd_rand jitter(static_cast<unsigned>(::getpid()));
    for (;;) {
        try {
            return work();
        } catch (const SqliteError& e) {
            if (!e.retryable() || std::chrono::steady_clock::now() >= deadline) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + jitter() % 40));
        }
    }
}

// The snapshots of the target's list (those recorded under its own name) in a range.
struct RangeSnapshots {
    std::vector<SnapshotInfo> snapshots;  // in order of recording
    std::vector<std::int64_t> ids;        // theirs, ascending
    bool clockWentBackwards = false;
};
// NoHistory when the history holds no snapshot of the list at all.
RangeSnapshots snapshotsInRange(sqlite3* db, const Target& target, const Range& range);

// Columns 1..6 of `s`: directories, files, bytes, overhead, allocated, complete.
Figures readFigures(const Statement& s, std::int64_t snapshot, std::int64_t time);

// The change from `first` to `last`, its percentages and its rate per day.
DirectoryGrowth growthBetween(std::string path, const Figures& first, const Figures& last);

// ---- subdirectories (history/Subdirectories.cpp) ----

// Records the subdirectories of `rows` (each with its directory's id) in snapshot `snapshot`,
// down to `depth`; nothing when `depth` is 0.
void recordSubdirectories(sqlite3* db, const Target& target, std::int64_t snapshot, unsigned depth,
                          const std::vector<std::pair<const Row*, std::int64_t>>& rows);

// The depth of every snapshot that holds subdirectories, in a history of `version`.
std::unordered_map<std::int64_t, unsigned> snapshotDepths(sqlite3* db, const Target& target,
                                                          int version);

// The subdirectories of a directory as of a snapshot (from its rows and, for those that did
// not change, their last rows before), with their ids; those not there left out. `names`, when
// given, gets the id of every name on record for the directory, there or not.
class ChildrenAsOf {
  public:
    ChildrenAsOf(sqlite3* db, const Target& target);
    void read(std::int64_t directory, std::int64_t snapshot,
              const std::function<void(std::int64_t id, ChildRow&& row)>& each,
              std::unordered_map<std::string, std::int64_t>* names = nullptr);

  private:
    Statement m_names, m_row;
};

// DirectoryGrowth::grewMost of a directory between two snapshots that hold its subdirectories.
class GrewMost {
  public:
    GrewMost(sqlite3* db, const Target& target);
    std::optional<std::string> of(std::int64_t directory, std::int64_t first, std::int64_t last);

  private:
    ChildrenAsOf m_children;
};

}  // namespace pelmora::history::detail
