#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/dir.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/descriptors.h"
#include "stats/subtree.h"
#include "stats/tally.h"

// The threaded walk works on directory nodes. A node is a directory still to be read (queued
// on the shared stack) or one whose subdirectories are still alive. It remembers its parent,
// its own name and inode and its place among its parent's subdirectories, so a directory can
// always be reached again from the start directory, checked to be the one listed, and its
// errors put in walk order, without a path text, whatever its depth. Its descriptor, while it
// keeps one for its subdirectories, is the DescriptorCache's (stats/descriptors.h).
//
// Work: the threads share one stack of directories to read and take the newest (depth first,
// which keeps the set of pending directories small, and keeps the threads near one another in
// the tree, so that a disk read of inodes serves several of them when the cache is cold).
// Threads are started as the work grows, up to `jobs`. Counts and byte sums are per thread and
// merged once; a directory below a subtree of its own (stats/subtree.h) also adds its figures
// to that subtree.

namespace pelmora::stats::detail {

namespace {

using platform::DirIdentity;
using platform::UniqueFd;

constexpr std::size_t kReadBufferSize = 32 * 1024;
constexpr std::chrono::microseconds kThreadsAfter(1000);

bool shortOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE;
}

class Node : public DescriptorSlot {
  public:
    static Node* create(Node* parent, std::string_view name, std::uint64_t inode,
                        std::uint32_t index) {
        void* raw = ::operator new(sizeof(Node) + name.size() + 1);
        Node* n = new (raw) Node(parent, inode, index);
        char* text = reinterpret_cast<char*>(n + 1);
        std::memcpy(text, name.data(), name.size());
        text[name.size()] = '\0';
        return n;
    }
    static void destroy(Node* n) {
        n->~Node();
        ::operator delete(n);
    }

    const char* name() const { return reinterpret_cast<const char*>(this + 1); }

    Node* const parent;
    const std::uint64_t inode;
    const std::uint32_t index;   // its place among its parent's subdirectories
    const std::uint32_t depth;   // below the start directory
    Subtree* subtree = nullptr;  // the subtree it lies in: its own, or the nearest above
    bool ownSubtree = false;
    std::int32_t at = WalkPlan::kNone;  // its place among the paths of the walk's targets
    // 1 until this directory has been read, plus one per live subdirectory node.
    std::atomic<int> liveRefs{1};

  private:
    Node(Node* p, std::uint64_t ino, std::uint32_t i)
        : DescriptorSlot(p),
          parent(p),
          inode(ino),
          index(i),
          depth(p != nullptr ? p->depth + 1 : 0) {}
};

// Drops one live reference; a node without any is freed, and so on up the chain.
void dropLive(Node* n) {
    while (n != nullptr && n->liveRefs.fetch_sub(1) == 1) {
        Node* parent = n->parent;
        Node::destroy(n);
        n = parent;
    }
}

struct alignas(64) Worker {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    unsigned __int128 bytes = 0;
    bool hugeSize = false;  // a size beyond what a signed 64-bit number holds
    AllocationSum allocation;
    std::int64_t errorCount = 0;
    std::vector<PlacedError> errors;
    std::int64_t hidden = 0;
};

// What a thread reuses from one directory to the next.
struct Scratch {
    std::vector<Node*> found;
    std::vector<DescriptorSlot*> chain;
    std::vector<int> toClose;
    AllocationSum allocation;  // a directory's share for its subtree
};

}  // namespace

std::size_t defaultDescriptorBudget() {
    struct rlimit lim {};
    std::size_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
        soft = static_cast<std::size_t>(lim.rlim_cur);
    // A quarter of the limit leaves room for the rest of the program; a few hundred is plenty.
    return std::clamp<std::size_t>(soft / 4, 4, 256);
}

namespace {

class ParallelCount {
  public:
    ParallelCount(std::string_view dir, const CountOptions& options, unsigned jobs,
                  const WalkPlan& plan)
        : m_rootPrefix(startPrefix(dir)),
          // The start text itself, without the '/' the prefix may have added.
          m_dir(std::string_view(m_rootPrefix).substr(0, dir.size())),
          m_allocated(options.allocated),
          m_hidden(options.hidden),
          m_noteHidden(options.noteHidden && !options.hidden),
          m_exclude(options.exclude != nullptr && !options.exclude->empty() ? options.exclude
                                                                            : nullptr),
          m_cancel(options.cancel),
          m_progress(options.progress),
          m_descriptors(options.descriptorBudget.value_or(defaultDescriptorBudget())),
          m_jobs(std::max(1u, jobs)),
          // A count whose threads the caller left to the engine starts them only once it has
          // run a moment: a small tree is done before that, and threads would cost more than
          // they bring.
          m_threadsFrom(std::chrono::steady_clock::now() +
                        (options.jobs == 0 ? kThreadsAfter : std::chrono::microseconds(0))),
          m_subtrees(plan, m_rootPrefix),
          m_tracking(m_subtrees.tracksAnything()) {}

    ParallelCount(const ParallelCount&) = delete;
    ParallelCount& operator=(const ParallelCount&) = delete;

    ~ParallelCount() {
        joinThreads();
        // What an interrupted count leaves: held descriptors first (a directory holding one
        // stays alive while it has queued subdirectories), then the queued directories.
        m_descriptors.closeAllHeld();
        for (Node* n : m_stack) dropLive(n);
        m_stack.clear();
        if (m_root != nullptr) dropLive(m_root);
    }

    WalkAnswers run(bool& exceeded) {
        exceeded = false;
        Subtree& start = m_subtrees.start();
        UniqueFd rootFd;
        int err = platform::openDirectory(m_dir, rootFd);
        if (err == 0) err = platform::identityOf(rootFd.get(), m_start);
        if (err != 0) {
            start.addPlacedError({{}, {}, err});
            return m_subtrees.answers(true);
        }
        m_subtrees.begin(m_start);

        m_workers.reserve(m_jobs);
        m_threads.reserve(m_jobs - 1);
        m_stack.reserve(256);  // the start directory's place is there before it exists
        m_workers.push_back(std::make_unique<Worker>());
        m_workerCount.store(1);
        m_root = Node::create(nullptr, "", m_start.inode, 0);
        m_root->liveRefs.fetch_add(1);  // ours, dropped when the count is destroyed
        m_root->subtree = &start;
        m_root->ownSubtree = true;
        m_root->at = m_subtrees.plan().start();
        m_descriptors.setRoot(*m_root, std::move(rootFd));
        m_outstanding = 1;
        m_stack.push_back(m_root);

        work(0);
        joinThreads();
        if (m_failure) std::rethrow_exception(m_failure);

        bool huge = false;
        for (const std::unique_ptr<Worker>& w : m_workers) {
            start.dirs += w->dirs;
            start.files += w->files;
            start.bytes += w->bytes;
            huge = huge || w->hugeSize;
            start.errorCount += w->errorCount;
            start.hidden += w->hidden;
            start.errors.insert(start.errors.end(), w->errors.begin(), w->errors.end());
            if (m_allocated) start.allocation.merge(w->allocation);
        }
        sortAndTrim(start.errors);
        exceeded = huge || start.bytes > kExactLimit;
        m_subtrees.sumUp();
        WalkAnswers answers = m_subtrees.answers(true);
        const auto threads = static_cast<unsigned>(m_workerCount.load());
        answers.start.threads = threads;
        for (std::optional<CountResult>& t : answers.targets) {
            if (t) t->threads = threads;
        }
        return answers;
    }

  private:
    void work(std::size_t self) noexcept {
        try {
            Worker& me = *m_workers[self];
            platform::DirReader reader(kReadBufferSize);
            Scratch scratch;
            while (Node* node = take()) process(node, me, reader, scratch);
        } catch (...) {
            fail(std::current_exception());
        }
    }

    void fail(std::exception_ptr e) noexcept {
        {
            std::lock_guard<std::mutex> g(m_stackLock);
            if (!m_failure) m_failure = std::move(e);
            m_stop = true;
        }
        m_idle.notify_all();
        m_descriptors.stop();
    }

    void process(Node* node, Worker& me, platform::DirReader& reader, Scratch& s) {
        s.found.clear();
        UniqueFd fd;
        try {
            if (m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed)) throw Cancelled();
            const int err = node == m_root ? takeRootDescriptor(fd, s) : openNode(node, fd, s);
            if (err != 0)
                recordError(me, node, err);
            else
                readDirectory(fd.get(), node, me, reader, s);
            handOver(node, std::move(fd), s);
        } catch (...) {
            // Subdirectories found but not handed over yet belong to no one else.
            for (Node* n : s.found) {
                if (n != nullptr) Node::destroy(n);
            }
            s.found.clear();
            if (fd) {
                fd.reset();
                m_descriptors.released();
            }
            finishNode(node);
            throw;
        }
        finishNode(node);
    }

    void finishNode(Node* node) {
        dropLive(node);
        if (m_outstanding.fetch_sub(1) == 1) {
            std::lock_guard<std::mutex> g(m_stackLock);
            m_idle.notify_all();
        }
    }

    // After the read: the directory keeps its descriptor for its subdirectories (if it has any
    // and the budget allows), and they are queued.
    void handOver(Node* node, UniqueFd fd, Scratch& s) {
        const std::size_t n = s.found.size();
        m_descriptors.setPending(*node, static_cast<int>(n));
        if (fd) {
            if (n > 0 || node == m_root) {
                m_descriptors.offer(*node, std::move(fd), s.toClose);
            } else {
                fd.reset();
                m_descriptors.released();
            }
        }
        if (n == 0) return;
        node->liveRefs.fetch_add(static_cast<int>(n));
        m_outstanding.fetch_add(static_cast<long>(n));
        std::size_t waiting = 0;
        int sleepers = 0;
        try {
            std::lock_guard<std::mutex> g(m_stackLock);
            m_stack.insert(m_stack.end(), s.found.begin(), s.found.end());
            waiting = m_stack.size();
            sleepers = m_sleepers;
        } catch (...) {
            // Its subdirectories will not be read: it gives them and its descriptor up.
            m_outstanding.fetch_sub(static_cast<long>(n));
            for (Node* c : s.found) dropLive(c);
            s.found.clear();
            m_descriptors.noPending(*node, s.toClose);
            throw;
        }
        s.found.clear();
        // This thread takes one of them itself next; sleeping threads take the others, and
        // with none asleep, another thread may start.
        if (sleepers > 0 && n > 1) {
            if (n - 1 >= static_cast<std::size_t>(sleepers)) {
                m_idle.notify_all();
            } else {
                for (std::size_t i = 1; i < n; ++i) m_idle.notify_one();
            }
        } else if (sleepers == 0 && waiting >= 2) {
            maybeSpawn();
        }
    }

    // The next node to read: the newest on the stack; null when the whole tree has been read or
    // the count stops.
    Node* take() {
        std::unique_lock<std::mutex> g(m_stackLock);
        for (;;) {
            if (m_stop.load()) return nullptr;
            if (!m_stack.empty()) {
                Node* n = m_stack.back();
                m_stack.pop_back();
                return n;
            }
            if (m_outstanding.load() == 0) return nullptr;
            ++m_sleepers;
            m_idle.wait(g);
            --m_sleepers;
        }
    }

    // Starts one more thread while there is work waiting that no sleeping thread can take.
    void maybeSpawn() {
        if (m_workerCount.load() >= m_jobs || std::chrono::steady_clock::now() < m_threadsFrom)
            return;
        std::lock_guard<std::mutex> g(m_spawnLock);
        const std::size_t i = m_workerCount.load();
        if (m_noMoreThreads || i >= m_jobs) return;
        m_workers.push_back(std::make_unique<Worker>());  // reserved: nothing moves
        try {
            m_threads.emplace_back([this, i] { work(i); });
        } catch (const std::system_error&) {
            m_workers.pop_back();
            m_noMoreThreads = true;  // the threads running share all the work
            return;
        }
        m_workerCount.store(i + 1);
    }

    void joinThreads() {
        {
            std::lock_guard<std::mutex> g(m_spawnLock);
            m_noMoreThreads = true;
        }
        for (std::thread& t : m_threads) {
            if (t.joinable()) t.join();
        }
    }

    // ---- opening directories ----

    DirIdentity identityOf(const Node* n) const {
        if (n == m_root) return m_start;
        DirIdentity id = m_start;
        id.inode = n->inode;
        return id;
    }

    // The start directory's descriptor, for reading it (it is read first, so it still holds
    // the one it was opened with unless a shortage took it).
    int takeRootDescriptor(UniqueFd& out, Scratch& s) {
        out = m_descriptors.takeRoot();
        if (out) return 0;
        for (;;) {
            const std::uint64_t before = m_descriptors.releases();
            const int err = m_descriptors.opening(
                [&] { return platform::reopenDirectory(m_dir, m_start, out); });
            if (!shortOfDescriptors(err) || !m_descriptors.relieveShortage(s.toClose, before))
                return err;
        }
    }

    // Opens a queued directory; on the way, waits out a shortage of descriptors. Returns 0 and
    // the descriptor in `out`, or the error that kept the directory closed.
    int openNode(Node* node, UniqueFd& out, Scratch& s) {
        // However the opening ends (an exception included), the parent has one subdirectory
        // less to open, and gives its descriptor up after the last.
        struct OnePendingLess {
            DescriptorCache& cache;
            Node* parent;
            ~OnePendingLess() { cache.onePendingLess(*parent); }
        } onePendingLess{m_descriptors, node->parent};
        std::uint64_t before = m_descriptors.releases();
        int err = tryOpen(node, out, s);
        // Short of descriptors: after giving back or waiting, open it by its path, which needs
        // a single descriptor (two for a path beyond PATH_MAX) and none of an ancestor's.
        while (shortOfDescriptors(err) && m_descriptors.relieveShortage(s.toClose, before)) {
            before = m_descriptors.releases();
            err = openByPath(node, out);
        }
        return err;
    }

    // One try at opening `node`: through its parent's descriptor, or name by name from the
    // nearest ancestor that holds one (the start directory by its path when not even it does).
    int tryOpen(Node* node, UniqueFd& out, Scratch& s) {
        // Ancestors without a descriptor, nearest first.
        Node* const anchor = static_cast<Node*>(m_descriptors.borrowNearest(node->parent, s.chain));
        bool borrowing = anchor != nullptr;
        int at = borrowing ? anchor->fd : -1;
        UniqueFd current;
        Node* currentNode = nullptr;
        auto stepTo = [&](Node* n) {
            UniqueFd next;
            const DirIdentity expect = identityOf(n);
            const int err = m_descriptors.opening([&] {
                return n == m_root ? platform::reopenDirectory(m_dir, expect, next)
                                   : platform::openSubdirectory(at, n->name(), &expect, next);
            });
            if (err != 0) return err;
            if (current) {
                m_descriptors.offer(*currentNode, std::move(current), s.toClose);
            } else if (borrowing) {
                m_descriptors.giveBack(*anchor, s.toClose);
                borrowing = false;
            }
            current = std::move(next);
            currentNode = n;
            at = current.get();
            return 0;
        };
        int err = 0;
        for (auto it = s.chain.rbegin(); it != s.chain.rend() && err == 0; ++it)
            err = stepTo(static_cast<Node*>(*it));
        if (err == 0) err = stepTo(node);
        if (err != 0) {
            if (current)
                m_descriptors.offer(*currentNode, std::move(current), s.toClose);
            else if (borrowing)
                m_descriptors.giveBack(*anchor, s.toClose);
            return err;
        }
        out = std::move(current);
        return 0;
    }

    int openByPath(Node* node, UniqueFd& out) {
        const std::string path = pathOf(node);
        return m_descriptors.opening(
            [&] { return platform::reopenDirectory(path, identityOf(node), out); });
    }

    // The path text of `node`: the start text with its '/', then the names below it.
    std::string pathOf(const Node* node, std::vector<std::uint32_t>* place = nullptr) const {
        if (node == m_root) return std::string(pathOfPrefix(m_rootPrefix));
        std::vector<const Node*> up;
        for (const Node* n = node; n != m_root; n = n->parent) up.push_back(n);
        std::string path = m_rootPrefix;
        for (auto it = up.rbegin(); it != up.rend(); ++it) {
            if (it != up.rbegin()) path.push_back('/');
            path.append((*it)->name());
            if (place != nullptr) place->push_back((*it)->index);
        }
        return path;
    }

    // ---- reading and counting ----

    void readDirectory(int fd, Node* node, Worker& me, platform::DirReader& reader, Scratch& s) {
        const unsigned fields = m_allocated ? platform::kStatAllocation : platform::kStatBasic;
        // Figures for a subtree other than the start's, added to it at the end.
        Subtree* const mine = node->subtree != &m_subtrees.start() ? node->subtree : nullptr;
        Subtree* const parentOwn = node->ownSubtree ? node->subtree : nullptr;
        int failed = 0;
        std::uint32_t index = 0;
        std::int64_t dirs = 0;
        std::int64_t files = 0;
        std::int64_t hidden = 0;
        unsigned __int128 bytes = 0;
        if (mine != nullptr && m_allocated) s.allocation.clear();
        // The prefix of this directory's entries, for exclusions by path.
        std::string prefix;
        if (m_exclude != nullptr && m_exclude->byPath())
            prefix = node == m_root ? m_rootPrefix : pathOf(node) + '/';
        reader.reset(fd);
        platform::DirEntry e;
        while (reader.next(e)) {
            // Hidden names are neither counted nor entered, so they are not even looked at,
            // unless they are to be counted (--all) or told of.
            // An entry the user left out is not one that --all would bring back, so exclusions
            // come first.
            if (platform::isHiddenName(e.name)) {
                if (e.name == "." || e.name == ".." || (!m_hidden && !m_noteHidden)) continue;
                if (m_exclude != nullptr && m_exclude->excludes(prefix, e.name)) continue;
                if (!m_hidden) {
                    if (holdsData(fd, e)) ++hidden;
                    continue;
                }
            } else if (m_exclude != nullptr && m_exclude->excludes(prefix, e.name)) {
                continue;
            }
            platform::EntryStat st;
            const int err = platform::statEntry(fd, e.cname, fields, st);
            if (err != 0) {
                // Gone since it was listed: nothing to count. Anything else is this directory's
                // error (it may be listed but not searched).
                if (err != ENOENT && failed == 0) failed = err;
                continue;
            }
            if ((st.size >> 63) != 0) me.hugeSize = true;
            bytes += st.size;
            if (m_allocated) {
                me.allocation.add(st);
                if (mine != nullptr) s.allocation.add(st);
            }
            if (S_ISDIR(st.mode)) {
                ++dirs;
                if (!platform::isOtherFileSystem(st, m_start)) {
                    s.found.push_back(nullptr);  // room first, so that no node is ever dropped
                    Node* child = Node::create(node, e.name, st.id.inode, index++);
                    s.found.back() = child;
                    child->subtree = node->subtree;
                    if (m_tracking) {
                        child->at = m_subtrees.plan().below(node->at, e.name);
                        if (m_subtrees.opens(parentOwn, child->at)) track(child);
                    }
                }
            } else {
                ++files;
            }
        }
        me.dirs += dirs;
        me.files += files;
        me.bytes += bytes;
        me.hidden += hidden;
        if (reader.error() != 0 && failed == 0) failed = reader.error();
        if (failed != 0) recordError(me, node, failed);
        if (mine != nullptr) {
            std::lock_guard<std::mutex> g(mine->lock);
            mine->dirs += dirs;
            mine->files += files;
            mine->bytes += bytes;
            mine->hidden += hidden;
            if (m_allocated) mine->allocation.merge(s.allocation);
        }
        if (m_progress != nullptr) {
            const std::int64_t entries = dirs + files;
            const auto sum = static_cast<std::uint64_t>(bytes);
            if (m_progress->wantDirectory.load(std::memory_order_relaxed))
                m_progress->add(entries, sum, pathOf(node));
            else
                m_progress->add(entries, sum, {});
        }
    }

    // Whether an entry left out for its name holds data: a directory, or a file of a byte or
    // more.
    static bool holdsData(int fd, const platform::DirEntry& e) {
        if (e.type == DT_DIR) return true;
        platform::EntryStat st;
        return platform::statEntry(fd, e.cname, platform::kStatBasic, st) == 0 &&
               (S_ISDIR(st.mode) || st.size > 0);
    }

    // A subdirectory that is a subtree of its own.
    void track(Node* child) {
        Node* const node = child->parent;
        std::vector<std::uint32_t> place;
        const std::string path = pathOf(child, &place);
        Subtree* const s =
            m_subtrees.open(*node->subtree, node->ownSubtree ? node->subtree : nullptr, child->at,
                            child->inode, path, child->depth);
        s->place = std::move(place);
        child->subtree = s;
        child->ownSubtree = true;
    }

    void recordError(Worker& me, const Node* node, int err) {
        PlacedError e;
        e.error = err;
        const std::string path = pathOf(node, &e.place);
        if (node != m_root) e.relative = path.substr(m_rootPrefix.size());
        if (node->subtree != &m_subtrees.start()) {
            std::lock_guard<std::mutex> g(node->subtree->lock);
            node->subtree->addPlacedError(e);
        }
        ++me.errorCount;
        me.errors.push_back(std::move(e));
        if (me.errors.size() > 4 * CountResult::kErrorsKept) sortAndTrim(me.errors);
    }

    const std::string m_rootPrefix;  // the start text with its '/', as the walk's prefixes
    const std::string_view m_dir;
    const bool m_allocated;
    const bool m_hidden;      // names beginning with '.' counted and entered too
    const bool m_noteHidden;  // those left out that hold data told of
    const Exclusion* const m_exclude;
    const std::atomic<bool>* const m_cancel;
    CountProgress* const m_progress;
    DescriptorCache m_descriptors;
    const std::size_t m_jobs;
    const std::chrono::steady_clock::time_point m_threadsFrom;
    DirIdentity m_start;
    SubtreeSet m_subtrees;
    const bool m_tracking;

    std::vector<std::unique_ptr<Worker>> m_workers;  // reserved for m_jobs; only appended
    std::atomic<std::size_t> m_workerCount{0};
    std::vector<std::thread> m_threads;
    std::mutex m_spawnLock;  // guards appending to the two vectors above
    bool m_noMoreThreads = false;

    Node* m_root = nullptr;
    std::atomic<long> m_outstanding{0};  // nodes queued or being read
    std::atomic<bool> m_stop{false};
    std::mutex m_stackLock;
    std::vector<Node*> m_stack;  // directories to read; guarded by m_stackLock
    int m_sleepers = 0;          // threads waiting for work; guarded by m_stackLock
    std::condition_variable m_idle;
    std::exception_ptr m_failure;  // guarded by m_stackLock
};

}  // namespace

WalkAnswers walkThreaded(std::string_view dir, const CountOptions& options, unsigned jobs,
                         const WalkPlan& plan, bool& exceeded) {
    ParallelCount count(dir, options, jobs, plan);
    return count.run(exceeded);
}

}  // namespace pelmora::stats::detail
