// The figures of parts of a tree, kept while one walk reads the whole of it (not for other
// callers than the counting engine).
//
// A walk always sums its start directory's tree. On request it also sums the trees of
// directories below it: every directory down to a depth below the start (the figures below a
// start), and the directories of other list entries that the walk reaches (a nested entry is
// answered by the walk of the entry that encloses it). Each such directory is a subtree; a
// subtree's figures are exactly those of a count started there, since a walk below a directory
// follows the same rules wherever it started: the same mount, names beginning with '.' left
// out, no symlink followed.
//
// The one-thread walk adds each entry to every subtree it lies in, in walk order, so that even
// byte totals beyond 2^40 (rounded after each addition) are those of a count of the subtree.
// The threaded walk adds each directory's figures to the nearest subtree above it, and the
// subtrees are summed up once at the end (only exact sums, which the order does not change).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir.h"
#include "stats/engine.h"
#include "stats/tally.h"

namespace pelmora::stats::detail {

// A directory a walk is to recognise on its way: found by its path below the start, to be
// confirmed by device and inode, and the text its figures are named by.
struct Target {
    std::string relative;  // its path below the start, names joined by '/' ("": the start)
    std::string prefix;    // its own text with a '/' appended (the prefix of its entries)
};

// What a walk answers besides its start's own figures. The targets' paths make a tree of
// names, so that a directory of the walk is looked for among them by one name at a time.
class WalkPlan {
  public:
    static constexpr std::int32_t kNone = -1;

    unsigned depth = 0;           // levels of directories kept below every start it answers
    std::vector<Target> targets;  // watched directories it may reach

    void add(Target target);
    bool watches() const { return !targets.empty(); }
    // The start's place in the tree of names (kNone without targets).
    std::int32_t start() const { return m_nodes.empty() ? kNone : 0; }
    // The place of the subdirectory `name` of the directory at `at`: kNone when no target
    // lies there or below it.
    std::int32_t below(std::int32_t at, std::string_view name) const;
    // The targets that are the directory at `at`.
    const std::vector<std::size_t>& targetsAt(std::int32_t at) const;

  private:
    struct Place {
        std::map<std::string, std::int32_t, std::less<>> names;
        std::vector<std::size_t> targets;
    };
    std::vector<Place> m_nodes;
};

// The figures a walk gives: its start's, and those of each target it reached, with the
// directory it found there (for the caller to confirm that it is the one the target names).
struct WalkAnswers {
    CountResult start;
    std::vector<std::optional<CountResult>> targets;  // one per WalkPlan target
    std::vector<platform::DirIdentity> reached;
};

// An error with its directory's place in walk order: the places among their parents'
// subdirectories from the start directory down (the start directory's is empty), and its
// path below the start ("" for the start itself).
struct PlacedError {
    std::vector<std::uint32_t> place;
    std::string relative;
    int error = 0;
};

// Keeps the first kErrorsKept errors by place.
void sortAndTrim(std::vector<PlacedError>& errors);

// One directory whose tree is summed on its own.
struct Subtree {
    Subtree* parent = nullptr;  // the nearest subtree above it; null for the start
    std::uint32_t depth = 0;    // below the start
    std::uint32_t keep = 0;     // levels below it whose directories are subtrees too
    bool kept = false;          // among the figures below some start
    std::vector<std::size_t> targets;
    platform::DirIdentity id;          // the directory it is (for its targets)
    std::string relative;              // its path below the start, "" for the start
    std::vector<std::uint32_t> place;  // threaded walk: its place in walk order

    std::int64_t dirs = 0;
    std::int64_t files = 0;
    unsigned __int128 bytes = 0;
    ByteSum total;  // one-thread walk: the Real48 sum in walk order
    AllocationSum allocation;
    std::int64_t errorCount = 0;
    std::vector<PlacedError> errors;
    std::int64_t hidden = 0;  // entries left out for their names that hold data

    std::mutex lock;  // threaded walk: guards the figures above

    // One-thread walk: errors come in walk order, so only the first kErrorsKept are kept.
    void addErrorInOrder(std::string_view relativePath, int err);
    // Threaded walk: an error with its place; the list is trimmed now and then.
    void addPlacedError(PlacedError error);
    // Adds the figures of `child`, a subtree below it (threaded walk).
    void absorb(const Subtree& child);
};

// The subtrees of one walk, in the order they were made (a parent always before its children).
class SubtreeSet {
  public:
    // `startPrefix` (the start's text with its '/') is its caller's and outlives the set.
    SubtreeSet(const WalkPlan& plan, std::string_view startPrefix);

    // Called once the start is open: the start answers the targets that are the start itself.
    void begin(const platform::DirIdentity& start);
    Subtree& start() { return *m_all.front(); }
    const platform::DirIdentity& startIdentity() const { return m_startId; }
    bool tracksAnything() const { return m_plan.depth > 0 || m_plan.watches(); }

    const WalkPlan& plan() const { return m_plan; }

    // Whether a directory below the start is a subtree of its own: `parentOwn` is its parent
    // directory's own subtree (null when it has none), `at` its place among the targets' paths.
    bool opens(const Subtree* parentOwn, std::int32_t at) const {
        return (parentOwn != nullptr && parentOwn->keep > 0) ||
               (at != WalkPlan::kNone && !m_plan.targetsAt(at).empty());
    }
    // The subtree such a directory opens: `above` is the subtree it lies in, `inode` the
    // directory's, `path` its path (the start's prefix and the names below it), `depth` its
    // depth below the start.
    Subtree* open(Subtree& above, const Subtree* parentOwn, std::int32_t at, std::uint64_t inode,
                  std::string_view path, std::uint32_t depth);

    // Threaded walk, once every thread is done: adds each subtree's figures to the subtree
    // above it, the start's excepted (whose figures are the threads' sums).
    void sumUp();

    // The figures of the start and the targets reached, named by their own texts.
    // `byPlace`: the subtrees were made out of walk order and are sorted first (threaded walk,
    // which has summed each subtree up into its parents already).
    WalkAnswers answers(bool byPlace);

  private:
    CountResult resultOf(std::size_t index, std::string_view prefix, bool inOrder) const;
    std::string nameBelow(const Subtree& s, const std::string& relative,
                          std::string_view prefix) const;

    const WalkPlan& m_plan;
    const std::string_view m_prefix;
    platform::DirIdentity m_startId;
    std::vector<std::unique_ptr<Subtree>> m_all;
    std::mutex m_lock;  // threaded walk: guards m_all
};

// The text a directory's entries are named by: `dir` with a '/' appended unless it ends in
// one ("" for an empty text, the current directory).
std::string startPrefix(std::string_view dir);

// The one-thread walk of `dir` with the plan.
WalkAnswers walkSequential(std::string_view dir, const CountOptions& options, const WalkPlan& plan);

// How many directories of a threaded walk may hold a descriptor, from the process's limit (one
// system call: a list count asks once for all its walks).
std::size_t defaultDescriptorBudget();

// The threaded walk (stats/parallel.cpp). `exceeded`: its start held more than 2^40 bytes,
// and only the one-thread walk gives the byte totals.
WalkAnswers walkThreaded(std::string_view dir, const CountOptions& options, unsigned jobs,
                         const WalkPlan& plan, bool& exceeded);

// The walk as count() does it: one thread, or several, and the one-thread walk again beyond
// 2^40 bytes.
WalkAnswers walk(std::string_view dir, const CountOptions& options, const WalkPlan& plan);

}  // namespace pelmora::stats::detail
