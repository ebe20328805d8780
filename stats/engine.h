// The counting engine: counts one directory's tree, or the entries of a list, and returns the
// figures as values.
//
// Every count in the program goes through count() or ListCount: the window's CountTree (which
// mirrors the result into DirStats), the data file, the report and pelmora-cli. What is
// counted is the counting rule over the walk of WalkTree: every entry below the start
// directory whose name does not begin with '.', directories included, each with its own size;
// the start directory itself is not counted. Directories whose name begins with '.', symlinks
// and mount points (another file system or a bind mount) are counted but never entered.
//
// One thread (jobs == 1) is the walk of WalkTree on the calling thread. Several threads share
// the work; their figures are the same in every case: the byte total is the Real48 sum with
// one rounding after each addition in walk order (a directory's own entries in enumeration
// order, then its subdirectories depth first in enumeration order). Below 2^40 bytes no
// addition rounds and the threads' exact sums are the answer; a tree whose total exceeds 2^40
// is summed once more in walk order, on the calling thread, so it takes about the time of a
// one-thread count on top.
//
// Errors are data: a directory that cannot be read (the start directory included) is counted
// in the result's errors and contributes nothing below itself; the count goes on. Descriptor
// shortage (EMFILE, ENFILE) is waited out, never a lost subtree: only when no other descriptor
// of the count is left to give back is a directory an error ("Too many open files").
//
// Exceptions (std::bad_alloc included) raised in a thread of the count stop the other threads,
// close every descriptor the count opened and reach the caller of count(). No process-wide
// value is read or written, so counts may run on several threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "stats/exclude.h"
#include "stats/real48.h"

namespace pelmora::stats {

// The running figures of a count, for a progress display: entries and bytes counted so far
// (added once per directory read, or every few hundred entries of the one-thread walk), and on
// request the path of a directory being read. Read them from any thread while the count runs.
struct CountProgress {
    virtual ~CountProgress() = default;

    std::atomic<std::int64_t> entries{0};
    std::atomic<std::uint64_t> bytes{0};
    // Set it to have the next directory the count reaches write its path (the start text, '/'
    // and the names below it) into `directory` under `lock`; the count clears it then.
    std::atomic<bool> wantDirectory{false};
    std::mutex lock;
    std::string directory;

    // Called by the count, on any of its threads: adds a batch and hands over `path` (when not
    // empty) if asked for. A display of its own may do more, but must not stop the count.
    virtual void add(std::int64_t moreEntries, std::uint64_t moreBytes, std::string_view path) {
        entries.fetch_add(moreEntries, std::memory_order_relaxed);
        bytes.fetch_add(moreBytes, std::memory_order_relaxed);
        if (!path.empty() && wantDirectory.load(std::memory_order_relaxed) &&
            wantDirectory.exchange(false, std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> g(lock);
            directory.assign(path);
        }
    }
};

struct CountOptions {
    // Threads that share the work: 0 = defaultJobs(), started only once the count has run for
    // a millisecond (a small tree is done before); 1 = the walk of WalkTree on the calling
    // thread; more = that many, started as soon as there is work for them.
    unsigned jobs = 0;
    // Also sum the allocated space (st_blocks x 512), every file with several links once.
    bool allocated = false;
    // How many directories may keep a descriptor for their subdirectories still to be opened;
    // a directory that gave its up is reached again from an ancestor. Default: a share of the
    // process's descriptor limit.
    std::optional<std::size_t> descriptorBudget;
    // When set, read before each directory (and each entry of the one-thread walk): once it is
    // true the count stops and count() raises Cancelled, after closing what it opened. A signal
    // handler may set it. nullptr: the count runs to its end.
    const std::atomic<bool>* cancel = nullptr;
    // When set, the count adds its figures to it as it goes. A count that is repeated (a tree
    // beyond 2^40 bytes) adds them twice.
    CountProgress* progress = nullptr;
    // Also keep the figures of every directory down to this many levels below the start (1:
    // its subdirectories), from the same walk; 0: none. Memory grows with the directories
    // kept, not with the tree.
    unsigned depth = 0;
    // Count and enter names beginning with '.' like any other ("." and ".." never): for
    // pelmora-cli count --all only; every other count leaves them out.
    bool hidden = false;
    // Without `hidden`: count in CountResult::hiddenLeftOut the entries left out for their
    // names that hold data (directories, and files of one byte or more).
    bool noteHidden = false;
    // Entries left out by name or path (pelmora-cli count --exclude); not owned.
    const Exclusion* exclude = nullptr;
};

// What count() raises when CountOptions::cancel stopped it.
class Cancelled : public std::runtime_error {
  public:
    Cancelled() : std::runtime_error("count cancelled") {}
};

// A directory that could not be read.
struct CountError {
    std::string path;  // bytes: the start text, '/' and the names below it
    int error = 0;     // the errno value
    int code = 0;      // the program's code for it (platform::ioCodeFromErrno)
    bool operator==(const CountError&) const = default;
};

// The figures of one directory below a start (CountOptions::depth): those of a count started
// there.
struct DirFigures {
    std::string path;    // bytes: the start's text, '/' and the names below it
    unsigned depth = 0;  // 1 for a subdirectory of the start
    std::int64_t directories = 0;
    std::int64_t files = 0;
    unsigned __int128 exactBytes = 0;  // the exact sum of the sizes
    Real48 byteTotal;                  // the same sum as ByteTotal holds it
    std::uint64_t allocatedBytes = 0;  // only with CountOptions::allocated
    std::int64_t errorCount = 0;       // directories in its tree that could not be read
};

struct CountResult {
    static constexpr std::size_t kErrorsKept = 16;

    std::int64_t directories = 0;
    std::int64_t files = 0;
    Real48 byteTotal;
    unsigned __int128 exactBytes = 0;  // the exact sum beside the rounded byte total
    std::uint64_t allocatedBytes = 0;  // only with CountOptions::allocated
    // Directories that could not be read (opened, listed or their entries examined), the
    // start directory included; the first kErrorsKept of them in walk order.
    std::int64_t errorCount = 0;
    std::vector<CountError> errors;
    // With CountOptions::depth: every directory down to that depth, in walk order (each
    // directory before the directories below it, brothers in the order they were read).
    std::vector<DirFigures> below;
    // How many threads the walk that gave these figures had started (1 for a one-thread walk).
    unsigned threads = 1;
    // With CountOptions::noteHidden: the entries left out for their names that hold data.
    std::int64_t hiddenLeftOut = 0;

    bool complete() const { return errorCount == 0; }
};

// The number of threads a count uses by default: more than the cores, since a count whose tree
// is not in the page cache waits on the disk most of the time.
unsigned defaultJobs();

// Counts the tree below `dir` (a path of any length; symlinks in it are followed, below it
// never). An empty text counts nothing and is an error (ENOENT), so it never stands for the
// current directory. A start that does not exist, is no directory or cannot be opened gives
// zero figures and one error.
CountResult count(std::string_view dir, const CountOptions& options = {});

// The entries of a list counted so that each directory of their trees is read once: an entry
// that lies inside another one is answered by the walk of the enclosing entry when that walk
// reaches it by the rules of its own count: on the same mount, not below a name beginning with
// '.', through directory entries (no symlink on the way), the directory it names confirmed by
// device and inode. Every other entry has a walk of its own; an entry given twice is answered
// once.
// Each entry's result is exactly count(entry, options): its figures, its errors (named by the
// entry's own text) and the figures below it.
//
// Results come as they are asked for: the first request of an entry that is not answered yet
// walks it (or first the entry that encloses it), and every entry that walk answers is ready
// at once for the requests that follow.
class ListCount {
  public:
    // The text of entry `i`, for i below the number of entries given with it.
    using EntryAt = std::function<std::string_view(std::size_t i)>;

    // A list of `size` entries read through `entryAt`, whose texts must stay as they are while
    // the ListCount lives (the window's list during an export, pelmora-cli's loaded list). It
    // keeps no copy of them, and beside the results not handed over yet about 12 bytes an
    // entry, so a list of millions of entries costs little more than the list itself.
    ListCount(std::size_t size, EntryAt entryAt, const CountOptions& options);
    // The same over a copy of `entries` of its own (a list that may change meanwhile).
    ListCount(std::vector<std::string> entries, const CountOptions& options);
    ~ListCount();
    ListCount(ListCount&&) noexcept;
    ListCount& operator=(ListCount&&) noexcept;

    std::size_t size() const;
    std::string_view entry(std::size_t i) const;
    // The figures of entry `i` (counting what is needed). Raises Cancelled or bad_alloc as
    // count() does; the results kept so far stay.
    const CountResult& result(std::size_t i);
    // The same, handed over: what was kept of it goes with it, and asking for it again counts
    // it again.
    CountResult take(std::size_t i);
    // Frees what is kept of entry `i`'s result; asking for it again counts it again.
    void release(std::size_t i);
    // How many walks have run so far.
    std::size_t walks() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace pelmora::stats
