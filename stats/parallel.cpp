#include "stats/parallel.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
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
#include "stats/tally.h"

// The threaded count works on directory nodes. A node is a directory still to be read (queued
// on some thread's deque) or one whose subdirectories are still alive. It remembers its parent,
// its own name and inode and its place among its parent's subdirectories, so a directory can
// always be reached again from the start directory, checked to be the one listed, and its
// errors put in walk order, without a path text, whatever its depth.
//
// Descriptors: after a directory has been read, it keeps its descriptor only while it has
// subdirectories that have not been opened yet; the last of them to open closes it. At most
// `budget` directories hold one at a time: when a new one would exceed that, the descriptor
// used least recently (and not in use right now) is closed. A subdirectory whose parent holds
// none borrows the nearest ancestor's and walks down name by name; the directories it passes on
// the way keep the descriptors it opens for them when they still have subdirectories to open.
// The start directory keeps its descriptor outside the budget, and is opened again by its path
// when a shortage took it.
//
// Shortage: an open that fails with EMFILE or ENFILE gives back every descriptor no thread is
// using right now and tries again; when none was idle, it waits until another thread gives one
// back. Only when no descriptor of the count is held anywhere does the directory count as an
// error. A thread that waits holds no descriptor, so the threads never wait for one another in
// a circle.
//
// Work: the threads share one stack of directories to read and take the newest (depth first,
// which keeps the set of pending directories small, and keeps the threads near one another in
// the tree, so that a disk read of inodes serves several of them when the cache is cold).
// Threads are started as the work grows, up to `jobs`. Counts and byte sums are per thread and
// merged once.

namespace pelmora::stats::detail {

namespace {

using platform::DirIdentity;
using platform::UniqueFd;

constexpr std::size_t kReadBufferSize = 32 * 1024;
constexpr std::chrono::microseconds kThreadsAfter(1000);

bool shortOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE;
}

class Node {
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
    const std::uint32_t index;  // its place among its parent's subdirectories
    // Guarded by the count's descriptor lock.
    int fd = -1;            // -1 when the directory holds no descriptor
    int pending = 0;        // subdirectories not opened yet
    int users = 0;          // threads opening something through fd right now
    Node* newer = nullptr;  // the list of held descriptors, least recently used first
    Node* older = nullptr;
    // 1 until this directory has been read, plus one per live subdirectory node.
    std::atomic<int> liveRefs{1};

  private:
    Node(Node* p, std::uint64_t ino, std::uint32_t i) : parent(p), inode(ino), index(i) {}
};

// Drops one live reference; a node without any is freed, and so on up the chain.
void dropLive(Node* n) {
    while (n != nullptr && n->liveRefs.fetch_sub(1) == 1) {
        Node* parent = n->parent;
        Node::destroy(n);
        n = parent;
    }
}

// An error with its directory's place in walk order: the places among their parents'
// subdirectories from the start directory down (the start directory's is empty).
struct PlacedError {
    std::vector<std::uint32_t> place;
    CountError error;
};

struct alignas(64) Worker {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    unsigned __int128 bytes = 0;
    bool hugeSize = false;  // a size beyond what a signed 64-bit number holds
    AllocationSum allocation;
    std::int64_t errorCount = 0;
    std::vector<PlacedError> errors;
};

// What a thread reuses from one directory to the next.
struct Scratch {
    std::vector<Node*> found;
    std::vector<Node*> chain;
    std::vector<int> toClose;
};

std::size_t defaultDescriptorBudget() {
    struct rlimit lim {};
    std::size_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
        soft = static_cast<std::size_t>(lim.rlim_cur);
    // A quarter of the limit leaves room for the rest of the program; a few hundred is plenty.
    return std::clamp<std::size_t>(soft / 4, 4, 256);
}

class ParallelCount {
  public:
    ParallelCount(std::string_view dir, const CountOptions& options, unsigned jobs)
        : m_dir(dir),
          m_rootPrefix(platform::directoryPart(platform::joinPattern(dir, "*.*"))),
          m_allocated(options.allocated),
          m_cancel(options.cancel),
          m_progress(options.progress),
          m_budget(options.descriptorBudget.value_or(defaultDescriptorBudget())),
          m_jobs(std::max(1u, jobs)),
          // A count whose threads the caller left to the engine starts them only once it has
          // run a moment: a small tree is done before that, and threads would cost more than
          // they bring.
          m_threadsFrom(std::chrono::steady_clock::now() +
                        (options.jobs == 0 ? kThreadsAfter : std::chrono::microseconds(0))) {}

    ParallelCount(const ParallelCount&) = delete;
    ParallelCount& operator=(const ParallelCount&) = delete;

    ~ParallelCount() {
        joinThreads();
        // What an interrupted count leaves: held descriptors first (a directory holding one
        // stays alive while it has queued subdirectories), then the queued directories.
        closeAllHeld();
        for (Node* n : m_stack) dropLive(n);
        m_stack.clear();
        if (m_root != nullptr) dropLive(m_root);
    }

    CountResult run(bool& exceeded) {
        exceeded = false;
        CountResult result;
        UniqueFd rootFd;
        int err = platform::openDirectory(m_dir, rootFd);
        if (err == 0) err = platform::identityOf(rootFd.get(), m_start);
        if (err != 0) {
            result.errorCount = 1;
            result.errors.push_back(
                {std::string(pathOfPrefix(m_rootPrefix)), err, platform::ioCodeFromErrno(err)});
            return result;
        }

        m_workers.reserve(m_jobs);
        m_threads.reserve(m_jobs - 1);
        m_stack.reserve(256);  // the start directory's place is there before it exists
        m_workers.push_back(std::make_unique<Worker>());
        m_workerCount.store(1);
        m_root = Node::create(nullptr, "", m_start.inode, 0);
        m_root->liveRefs.fetch_add(1);  // ours, dropped when the count is destroyed
        m_root->fd = rootFd.release();
        m_outstanding = 1;
        m_stack.push_back(m_root);

        work(0);
        joinThreads();
        if (m_failure) std::rethrow_exception(m_failure);

        unsigned __int128 bytes = 0;
        bool huge = false;
        std::vector<PlacedError> errors;
        for (const std::unique_ptr<Worker>& w : m_workers) {
            result.directories += w->dirs;
            result.files += w->files;
            bytes += w->bytes;
            huge = huge || w->hugeSize;
            result.errorCount += w->errorCount;
            for (PlacedError& e : w->errors) errors.push_back(std::move(e));
        }
        if (m_allocated) {
            AllocationSum all;
            for (const std::unique_ptr<Worker>& w : m_workers) all.merge(w->allocation);
            result.allocatedBytes = all.total();
        }
        sortAndTrim(errors);
        for (PlacedError& e : errors) result.errors.push_back(std::move(e.error));
        exceeded = huge || bytes > kExactLimit;
        if (!exceeded) result.byteTotal = Real48::fromInt(static_cast<std::int64_t>(bytes));
        return result;
    }

  private:
    static void sortAndTrim(std::vector<PlacedError>& errors) {
        std::sort(errors.begin(), errors.end(),
                  [](const PlacedError& a, const PlacedError& b) { return a.place < b.place; });
        if (errors.size() > CountResult::kErrorsKept) errors.resize(CountResult::kErrorsKept);
    }

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
        m_releases.fetch_add(1);
        { std::lock_guard<std::mutex> g(m_shortLock); }
        m_shortWait.notify_all();
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
                readDirectory(fd.get(), node, me, reader, s.found);
            handOver(node, std::move(fd), s);
        } catch (...) {
            // Subdirectories found but not handed over yet belong to no one else.
            for (Node* n : s.found) {
                if (n != nullptr) Node::destroy(n);
            }
            s.found.clear();
            if (fd) {
                fd.reset();
                released();
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
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            node->pending = static_cast<int>(n);
        }
        if (fd) {
            if (n > 0 || node == m_root) {
                offer(node, std::move(fd), s);
            } else {
                fd.reset();
                released();
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
            {
                std::lock_guard<std::mutex> g(m_fdLock);
                node->pending = 0;
                closeIfIdleLocked(node, s.toClose);
            }
            closeAll(s.toClose);
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

    // ---- descriptors ----

    DirIdentity identityOf(const Node* n) const {
        if (n == m_root) return m_start;
        DirIdentity id = m_start;
        id.inode = n->inode;
        return id;
    }

    // The start directory's descriptor, for reading it (it is read first, so it still holds
    // the one it was opened with).
    int takeRootDescriptor(UniqueFd& out, Scratch& s) {
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            if (m_root->fd >= 0) {
                out.reset(m_root->fd);
                m_root->fd = -1;
                m_busy.fetch_add(1);
                return 0;
            }
        }
        for (;;) {
            const std::uint64_t before = m_releases.load();
            const int err = opening([&] { return platform::reopenDirectory(m_dir, m_start, out); });
            if (!shortOfDescriptors(err) || !relieveShortage(s, before)) return err;
        }
    }

    // Opens a queued directory; on the way, waits out a shortage of descriptors. Returns 0 and
    // the descriptor in `out`, or the error that kept the directory closed.
    int openNode(Node* node, UniqueFd& out, Scratch& s) {
        // However the opening ends (an exception included), the parent has one subdirectory
        // less to open, and gives its descriptor up after the last.
        struct OneLessPending {
            ParallelCount& count;
            Node* parent;
            ~OneLessPending() {
                int fd = -1;
                {
                    std::lock_guard<std::mutex> g(count.m_fdLock);
                    --parent->pending;
                    fd = count.detachIfIdleLocked(parent);
                }
                if (fd >= 0) {
                    ::close(fd);
                    count.released();
                }
            }
        } oneLess{*this, node->parent};
        std::uint64_t before = m_releases.load();
        int err = tryOpen(node, out, s);
        // Short of descriptors: after giving back or waiting, open it by its path, which needs
        // a single descriptor (two for a path beyond PATH_MAX) and none of an ancestor's.
        while (shortOfDescriptors(err) && relieveShortage(s, before)) {
            before = m_releases.load();
            err = openByPath(node, out);
        }
        return err;
    }

    // One try at opening `node`: through its parent's descriptor, or name by name from the
    // nearest ancestor that holds one (the start directory by its path when not even it does).
    int tryOpen(Node* node, UniqueFd& out, Scratch& s) {
        std::vector<Node*>& chain = s.chain;  // ancestors without a descriptor, nearest first
        chain.clear();
        Node* anchor = node->parent;
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            while (anchor != nullptr && anchor->fd < 0) {
                chain.push_back(anchor);
                anchor = anchor->parent;
            }
            if (anchor != nullptr) {
                ++anchor->users;
                m_busy.fetch_add(1);  // from held to in use, under the lock
                touchLocked(anchor);
            }
        }
        bool borrowing = anchor != nullptr;
        int at = borrowing ? anchor->fd : -1;
        UniqueFd current;
        Node* currentNode = nullptr;
        auto stepTo = [&](Node* n) {
            UniqueFd next;
            const DirIdentity expect = identityOf(n);
            const int err = opening([&] {
                return n == m_root ? platform::reopenDirectory(m_dir, expect, next)
                                   : platform::openSubdirectory(at, n->name(), &expect, next);
            });
            if (err != 0) return err;
            if (current) {
                offer(currentNode, std::move(current), s);
            } else if (borrowing) {
                giveBack(anchor, s);
                borrowing = false;
            }
            current = std::move(next);
            currentNode = n;
            at = current.get();
            return 0;
        };
        int err = 0;
        for (auto it = chain.rbegin(); it != chain.rend() && err == 0; ++it) err = stepTo(*it);
        if (err == 0) err = stepTo(node);
        if (err != 0) {
            if (current)
                offer(currentNode, std::move(current), s);
            else if (borrowing)
                giveBack(anchor, s);
            return err;
        }
        out = std::move(current);
        return 0;
    }

    int openByPath(Node* node, UniqueFd& out) {
        const std::string path = pathOf(node);
        return opening([&] { return platform::reopenDirectory(path, identityOf(node), out); });
    }

    // Runs `open`, counting the descriptor in use from before the call (so that a thread short
    // of descriptors never takes an open under way for no descriptor in use at all). A failed
    // open frees nothing.
    template <typename Open>
    int opening(Open open) {
        m_busy.fetch_add(1);
        const int err = open();
        if (err != 0) {
            m_busy.fetch_sub(1);
            wakeShortWaiters();
        }
        return err;
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

    // Ends a borrow of `node`'s descriptor.
    void giveBack(Node* node, Scratch& s) {
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            --node->users;
            closeIfIdleLocked(node, s.toClose);
        }
        closeAll(s.toClose);
        released();
    }

    // A descriptor opened for `node`: kept by it if it still has subdirectories to open (the
    // start directory always keeps one) and the budget allows, else closed.
    void offer(Node* node, UniqueFd fd, Scratch& s) {
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            if (node->fd < 0 && node == m_root) {
                node->fd = fd.release();
            } else if (node->fd < 0 && node->pending > 0 && makeRoomLocked(s.toClose)) {
                node->fd = fd.release();
                linkNewestLocked(node);
            }
        }
        fd.reset();
        closeAll(s.toClose);
        released();
    }

    // True when one more descriptor may be held, after closing the least recently used idle one
    // if the budget is spent.
    bool makeRoomLocked(std::vector<int>& toClose) {
        if (m_held < m_budget) return true;
        Node* victim = m_oldest;
        while (victim != nullptr && victim->users > 0) victim = victim->newer;
        if (victim == nullptr) return false;
        retireLocked(victim->fd, toClose);
        victim->fd = -1;
        unlinkLocked(victim);
        return true;
    }

    void closeIfIdleLocked(Node* node, std::vector<int>& toClose) {
        if (node == m_root || node->fd < 0 || node->pending > 0 || node->users > 0) return;
        retireLocked(node->fd, toClose);
        node->fd = -1;
        unlinkLocked(node);
    }

    // The same without allocating: the descriptor to close (counted in use until then), or -1.
    int detachIfIdleLocked(Node* node) {
        if (node == m_root || node->fd < 0 || node->pending > 0 || node->users > 0) return -1;
        const int fd = node->fd;
        m_busy.fetch_add(1);
        node->fd = -1;
        unlinkLocked(node);
        return fd;
    }

    // Closes every held descriptor that no thread uses right now; true when there was one.
    bool closeIdle(Scratch& s) {
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            for (Node* n = m_oldest; n != nullptr;) {
                Node* const newer = n->newer;
                if (n->users == 0) {
                    retireLocked(n->fd, s.toClose);
                    n->fd = -1;
                    unlinkLocked(n);
                }
                n = newer;
            }
            if (m_root->fd >= 0 && m_root->users == 0) {
                retireLocked(m_root->fd, s.toClose);
                m_root->fd = -1;
            }
        }
        const bool any = !s.toClose.empty();
        closeAll(s.toClose);
        return any;
    }

    // Short of descriptors since the release counter read `before`: closes every held
    // descriptor that no thread uses right now, or waits until another thread gives one back.
    // True when a descriptor came free since `before` (try again); false when none did and none
    // of the count's is in use or held anywhere (nothing will come back), or the count stops.
    bool relieveShortage(Scratch& s, std::uint64_t before) {
        for (;;) {
            closeIdle(s);  // each one closed counts as given back
            if (m_releases.load() != before) return true;
            std::unique_lock<std::mutex> g(m_shortLock);
            m_shortWaiters.fetch_add(1);
            m_shortWait.wait(g, [&] {
                return m_releases.load() != before || m_busy.load() == 0 || m_stop.load();
            });
            m_shortWaiters.fetch_sub(1);
            g.unlock();
            if (m_stop.load()) return false;
            if (m_releases.load() != before) return true;
            // Nothing came back since, and nothing is in use: unless a descriptor went from in
            // use to held meanwhile (which counts as given back), the count holds none at all.
            std::lock_guard<std::mutex> fds(m_fdLock);
            if (m_busy.load() == 0 && m_releases.load() == before) return false;
        }
    }

    // One descriptor in use is no longer: closed, or held idle for later.
    void released() {
        m_busy.fetch_sub(1);
        m_releases.fetch_add(1);
        wakeShortWaiters();
    }

    void wakeShortWaiters() {
        if (m_shortWaiters.load() == 0) return;
        { std::lock_guard<std::mutex> g(m_shortLock); }
        m_shortWait.notify_all();
    }

    void closeAllHeld() {
        std::lock_guard<std::mutex> g(m_fdLock);
        while (m_oldest != nullptr) {
            Node* n = m_oldest;
            ::close(n->fd);
            n->fd = -1;
            unlinkLocked(n);
        }
        if (m_root != nullptr && m_root->fd >= 0) {
            ::close(m_root->fd);
            m_root->fd = -1;
        }
    }

    void touchLocked(Node* node) {
        if (node == m_root || node == m_newest) return;
        unlinkLocked(node);
        linkNewestLocked(node);
    }

    void linkNewestLocked(Node* node) {
        node->older = m_newest;
        node->newer = nullptr;
        if (m_newest != nullptr)
            m_newest->newer = node;
        else
            m_oldest = node;
        m_newest = node;
        ++m_held;
    }

    void unlinkLocked(Node* node) {
        (node->older != nullptr ? node->older->newer : m_oldest) = node->newer;
        (node->newer != nullptr ? node->newer->older : m_newest) = node->older;
        node->older = node->newer = nullptr;
        --m_held;
    }

    // A held descriptor taken from its directory, to be closed once the lock is released; in
    // use until then, so that no thread short of descriptors takes it for gone.
    void retireLocked(int fd, std::vector<int>& toClose) {
        m_busy.fetch_add(1);
        toClose.push_back(fd);
    }

    void closeAll(std::vector<int>& fds) {
        for (int fd : fds) {
            ::close(fd);
            released();
        }
        fds.clear();
    }

    // ---- reading and counting ----

    void readDirectory(int fd, Node* node, Worker& me, platform::DirReader& reader,
                       std::vector<Node*>& found) {
        const unsigned fields = m_allocated ? platform::kStatAllocation : platform::kStatBasic;
        int failed = 0;
        std::uint32_t index = 0;
        const std::int64_t entriesBefore = me.dirs + me.files;
        const unsigned __int128 bytesBefore = me.bytes;
        reader.reset(fd);
        platform::DirEntry e;
        while (reader.next(e)) {
            // Names beginning with '.' (".", ".." and hidden ones) are neither counted nor
            // entered, so they are not even looked at.
            if (e.name.empty() || e.name.front() == '.') continue;
            platform::EntryStat st;
            const int err = platform::statEntry(fd, e.cname, fields, st);
            if (err != 0) {
                // Gone since it was listed: nothing to count. Anything else is this directory's
                // error (it may be listed but not searched).
                if (err != ENOENT && failed == 0) failed = err;
                continue;
            }
            if ((st.size >> 63) != 0) me.hugeSize = true;
            me.bytes += st.size;
            if (m_allocated) me.allocation.add(st);
            if (S_ISDIR(st.mode)) {
                ++me.dirs;
                if (!platform::isOtherFileSystem(st, m_start)) {
                    found.push_back(nullptr);  // room first, so that no node is ever dropped
                    found.back() = Node::create(node, e.name, st.id.inode, index++);
                }
            } else {
                ++me.files;
            }
        }
        if (reader.error() != 0 && failed == 0) failed = reader.error();
        if (failed != 0) recordError(me, node, failed);
        if (m_progress != nullptr) {
            const std::int64_t entries = me.dirs + me.files - entriesBefore;
            const auto bytes = static_cast<std::uint64_t>(me.bytes - bytesBefore);
            if (m_progress->wantDirectory.load(std::memory_order_relaxed))
                m_progress->add(entries, bytes, pathOf(node));
            else
                m_progress->add(entries, bytes, {});
        }
    }

    void recordError(Worker& me, const Node* node, int err) {
        ++me.errorCount;
        PlacedError e;
        e.error.error = err;
        e.error.code = platform::ioCodeFromErrno(err);
        e.error.path = pathOf(node, &e.place);
        me.errors.push_back(std::move(e));
        if (me.errors.size() > 4 * CountResult::kErrorsKept) sortAndTrim(me.errors);
    }

    const std::string m_dir;
    const std::string m_rootPrefix;  // the start text with its '/', as the walk's prefixes
    const bool m_allocated;
    const std::atomic<bool>* const m_cancel;
    CountProgress* const m_progress;
    const std::size_t m_budget;
    const std::size_t m_jobs;
    const std::chrono::steady_clock::time_point m_threadsFrom;
    DirIdentity m_start;

    std::vector<std::unique_ptr<Worker>> m_workers;  // reserved for m_jobs; only appended
    std::atomic<std::size_t> m_workerCount{0};
    std::vector<std::thread> m_threads;
    std::mutex m_spawnLock;  // guards appending to the two vectors above
    bool m_noMoreThreads = false;

    Node* m_root = nullptr;
    std::mutex m_fdLock;  // guards the descriptor fields of every node and the list below
    Node* m_oldest = nullptr;
    Node* m_newest = nullptr;
    std::size_t m_held = 0;

    std::atomic<long> m_busy{0};  // descriptors in use (being read, walked through, borrowed)
    std::mutex m_shortLock;
    std::condition_variable m_shortWait;
    std::atomic<std::uint64_t> m_releases{0};  // descriptors given back so far
    std::atomic<int> m_shortWaiters{0};

    std::atomic<long> m_outstanding{0};  // nodes queued or being read
    std::atomic<bool> m_stop{false};
    std::mutex m_stackLock;
    std::vector<Node*> m_stack;  // directories to read; guarded by m_stackLock
    int m_sleepers = 0;          // threads waiting for work; guarded by m_stackLock
    std::condition_variable m_idle;
    std::exception_ptr m_failure;  // guarded by m_stackLock
};

}  // namespace

CountResult countThreaded(std::string_view dir, const CountOptions& options, unsigned jobs,
                          bool& exceeded) {
    ParallelCount count(dir, options, jobs);
    return count.run(exceeded);
}

}  // namespace pelmora::stats::detail
