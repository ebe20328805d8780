#include "stats/parallel.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// The parallel count works on directory nodes. A node is a directory still to be read (queued
// on some thread's deque) or one whose subdirectories are still alive. It remembers its
// parent and its own name, so a directory can always be reached again from the start
// directory without a path text, whatever its depth.
//
// Descriptors: after a directory has been read, it keeps its descriptor only while it has
// subdirectories that have not been opened yet; the last of them to open closes it. At most
// `budget` directories hold one at a time: when a new one would exceed that, the descriptor
// used least recently (and not in use right now) is closed. A subdirectory whose parent holds
// no descriptor borrows the nearest ancestor's and walks down name by name; the directories it
// passes on the way keep the descriptors it opens for them when they still have subdirectories
// to open, so the next sibling finds its parent open again. The start directory keeps its
// descriptor to the end.
//
// Work: each thread pops the newest node of its own deque (depth first, which keeps the set of
// pending nodes small) and, when that is empty, steals the oldest node of another thread's
// deque (the largest pending subtree). Counts and byte sums are per thread and merged once.

namespace pelmora::stats {

namespace {

constexpr std::size_t kReadBufferSize = 64 * 1024;
constexpr int kDirOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct LinuxDirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

class Node {
  public:
    static Node* create(Node* parent, std::string_view name) {
        void* raw = ::operator new(sizeof(Node) + name.size() + 1);
        Node* n = new (raw) Node(parent);
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
    // Guarded by the count's descriptor lock.
    int fd = -1;            // -1 when the directory holds no descriptor
    int pending = 0;        // subdirectories not opened yet
    int users = 0;          // threads opening something through fd right now
    Node* newer = nullptr;  // the list of held descriptors, least recently used first
    Node* older = nullptr;
    // 1 until this directory has been read, plus one per live subdirectory node.
    std::atomic<int> liveRefs{1};

  private:
    explicit Node(Node* p) : parent(p) {}
};

struct alignas(64) Worker {
    std::mutex lock;
    std::deque<Node*> queue;  // guarded by lock
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    unsigned __int128 bytes = 0;
};

class ParallelCount {
  public:
    ParallelCount(unsigned jobs, std::size_t budget)
        : m_budget(budget), m_workers(std::max(1u, jobs)) {}

    TDirStats run(int rootFd) {
        struct statx sx {};
        if (statx(rootFd, "", AT_EMPTY_PATH, STATX_TYPE, &sx) != 0) {
            ::close(rootFd);
            return {};
        }
        m_devMajor = sx.stx_dev_major;
        m_devMinor = sx.stx_dev_minor;

        m_root = Node::create(nullptr, ".");
        m_root->fd = rootFd;
        m_root->liveRefs.fetch_add(1);  // ours, dropped after the count
        m_outstanding = 1;
        m_queued = 1;
        m_workers[0].queue.push_back(m_root);

        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < m_workers.size(); ++i) {
            try {
                threads.emplace_back([this, i] { work(i); });
            } catch (const std::system_error&) {
                break;  // fewer threads; the ones running share all the work
            }
        }
        work(0);
        for (std::thread& t : threads) t.join();

        ::close(m_root->fd);  // all other descriptors were closed by the walk
        m_root->fd = -1;
        dropLive(m_root);

        std::int64_t dirs = 0;
        std::int64_t files = 0;
        unsigned __int128 bytes = 0;
        for (const Worker& w : m_workers) {
            dirs += w.dirs;
            files += w.files;
            bytes += w.bytes;
        }
        TDirStats result;
        result.DirCount = dirs;
        result.FileCount = files;
        result.ByteTotal = toReal48(bytes);
        return result;
    }

  private:
    static Real48 toReal48(unsigned __int128 v) {
        // One rounding for any total below 2^63; beyond it, pieces of 2^62.
        constexpr unsigned __int128 kPiece = static_cast<unsigned __int128>(1) << 62;
        Real48 r;
        while (v > kPiece) {
            r += Real48::fromInt(static_cast<std::int64_t>(kPiece));
            v -= kPiece;
        }
        r += Real48::fromInt(static_cast<std::int64_t>(v));
        return r;
    }

    void work(std::size_t self) {
        Worker& me = m_workers[self];
        std::unique_ptr<char[]> buffer(new char[kReadBufferSize]);
        std::vector<Node*> found;
        std::vector<Node*> chain;
        std::vector<int> toClose;
        for (;;) {
            Node* node = take(self);
            if (!node) return;
            found.clear();
            const int fd = node == m_root ? node->fd : openNode(node, chain, toClose);
            if (fd >= 0) readDirectory(fd, node, me, buffer.get(), found);
            finishDirectory(node, fd, found, toClose);
            if (!found.empty()) {
                m_outstanding.fetch_add(static_cast<long>(found.size()));
                {
                    std::lock_guard<std::mutex> g(me.lock);
                    me.queue.insert(me.queue.end(), found.begin(), found.end());
                }
                m_queued.fetch_add(static_cast<long>(found.size()));
                wakeSleepers();
            }
            dropLive(node);
            if (m_outstanding.fetch_sub(1) == 1) {
                std::lock_guard<std::mutex> g(m_idleLock);
                m_idle.notify_all();
            }
        }
    }

    // The next node to read: the newest of our own, else the oldest of another thread's; null
    // when the whole tree has been read.
    Node* take(std::size_t self) {
        for (;;) {
            if (Node* n = popOwn(self)) return n;
            for (std::size_t k = 1; k < m_workers.size(); ++k) {
                if (Node* n = steal((self + k) % m_workers.size())) return n;
            }
            std::unique_lock<std::mutex> g(m_idleLock);
            m_sleepers.fetch_add(1);
            while (m_queued.load() == 0 && m_outstanding.load() != 0) m_idle.wait(g);
            m_sleepers.fetch_sub(1);
            if (m_outstanding.load() == 0) return nullptr;
        }
    }

    Node* popOwn(std::size_t self) {
        Worker& w = m_workers[self];
        std::lock_guard<std::mutex> g(w.lock);
        if (w.queue.empty()) return nullptr;
        Node* n = w.queue.back();
        w.queue.pop_back();
        m_queued.fetch_sub(1);
        return n;
    }

    Node* steal(std::size_t victim) {
        Worker& w = m_workers[victim];
        std::lock_guard<std::mutex> g(w.lock);
        if (w.queue.empty()) return nullptr;
        Node* n = w.queue.front();
        w.queue.pop_front();
        m_queued.fetch_sub(1);
        return n;
    }

    void wakeSleepers() {
        if (m_sleepers.load() == 0) return;
        std::lock_guard<std::mutex> g(m_idleLock);
        m_idle.notify_all();
    }

    // Opens a queued directory through its parent's descriptor, or, when the parent holds
    // none, name by name from the nearest ancestor that does. -1 when it cannot be opened.
    int openNode(Node* node, std::vector<Node*>& chain, std::vector<int>& toClose) {
        Node* const parent = node->parent;
        Node* anchor = parent;
        chain.clear();
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            while (anchor->fd < 0) {  // the start directory always holds one
                chain.push_back(anchor);
                anchor = anchor->parent;
            }
            ++anchor->users;
            touchLocked(anchor);
        }
        int fd = anchor->fd;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const int next = fd >= 0 ? ::openat(fd, (*it)->name(), kDirOpenFlags) : -1;
            if (fd != anchor->fd) passOn(*(it - 1), fd, toClose);
            fd = next;
        }
        const int result = fd >= 0 ? ::openat(fd, node->name(), kDirOpenFlags) : -1;
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            --parent->pending;
            --anchor->users;
            if (fd != anchor->fd && fd >= 0 && !adoptLocked(parent, fd, toClose))
                toClose.push_back(fd);
            closeIfIdleLocked(parent, toClose);
            closeIfIdleLocked(anchor, toClose);
        }
        closeAll(toClose);
        return result;
    }

    // A descriptor opened for `node` on the way down: kept by it if it still has
    // subdirectories to open, else closed.
    void passOn(Node* node, int fd, std::vector<int>& toClose) {
        if (fd < 0) return;
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            if (!adoptLocked(node, fd, toClose)) toClose.push_back(fd);
        }
        closeAll(toClose);
    }

    // After the read: the directory keeps its descriptor for its subdirectories, if it has
    // any and the budget allows.
    void finishDirectory(Node* node, int fd, const std::vector<Node*>& found,
                         std::vector<int>& toClose) {
        node->liveRefs.fetch_add(static_cast<int>(found.size()));
        {
            std::lock_guard<std::mutex> g(m_fdLock);
            node->pending = static_cast<int>(found.size());
            // The start directory keeps its descriptor, outside the budget.
            if (node != m_root && fd >= 0 && !adoptLocked(node, fd, toClose)) toClose.push_back(fd);
        }
        closeAll(toClose);
    }

    // Gives `fd` to `node` when it holds none and still has subdirectories to open, closing
    // the least recently used idle descriptor if the budget is spent. False when the caller
    // must close `fd` itself.
    bool adoptLocked(Node* node, int fd, std::vector<int>& toClose) {
        if (node->fd >= 0 || node->pending == 0) return false;
        if (m_held >= m_budget) {
            Node* victim = m_oldest;
            while (victim && victim->users > 0) victim = victim->newer;
            if (!victim) return false;
            toClose.push_back(victim->fd);
            victim->fd = -1;
            unlinkLocked(victim);
        }
        node->fd = fd;
        linkNewestLocked(node);
        return true;
    }

    void closeIfIdleLocked(Node* node, std::vector<int>& toClose) {
        if (node == m_root || node->fd < 0 || node->pending > 0 || node->users > 0) return;
        toClose.push_back(node->fd);
        node->fd = -1;
        unlinkLocked(node);
    }

    void touchLocked(Node* node) {
        if (node == m_root || node == m_newest) return;
        unlinkLocked(node);
        linkNewestLocked(node);
    }

    void linkNewestLocked(Node* node) {
        node->older = m_newest;
        node->newer = nullptr;
        if (m_newest)
            m_newest->newer = node;
        else
            m_oldest = node;
        m_newest = node;
        ++m_held;
    }

    void unlinkLocked(Node* node) {
        (node->older ? node->older->newer : m_oldest) = node->newer;
        (node->newer ? node->newer->older : m_newest) = node->older;
        node->older = node->newer = nullptr;
        --m_held;
    }

    static void closeAll(std::vector<int>& fds) {
        for (int fd : fds) ::close(fd);
        fds.clear();
    }

    // Drops one live reference; a node without any is freed, and so on up the chain.
    static void dropLive(Node* n) {
        while (n && n->liveRefs.fetch_sub(1) == 1) {
            Node* parent = n->parent;
            Node::destroy(n);
            n = parent;
        }
    }

    void readDirectory(int fd, Node* node, Worker& me, char* buffer, std::vector<Node*>& found) {
        for (;;) {
            const long got = ::syscall(SYS_getdents64, fd, buffer, kReadBufferSize);
            if (got <= 0) return;
            for (long pos = 0; pos < got;) {
                const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer + pos);
                pos += d->d_reclen;
                // Names beginning with '.' (".", ".." and hidden ones) are neither counted nor
                // entered, so they are not even looked at.
                if (d->d_name[0] == '.') continue;
                struct statx sx;
                if (::statx(fd, d->d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                            STATX_TYPE | STATX_SIZE, &sx) != 0)
                    continue;
                me.bytes += sx.stx_size;
                if (S_ISDIR(sx.stx_mode)) {
                    ++me.dirs;
                    if (sx.stx_dev_major == m_devMajor && sx.stx_dev_minor == m_devMinor) {
                        found.push_back(Node::create(node, d->d_name));
                    }
                } else {
                    ++me.files;
                }
            }
        }
    }

    const std::size_t m_budget;
    std::vector<Worker> m_workers;
    Node* m_root = nullptr;
    unsigned m_devMajor = 0;
    unsigned m_devMinor = 0;
    std::mutex m_fdLock;  // guards the descriptor fields of every node and the list below
    Node* m_oldest = nullptr;
    Node* m_newest = nullptr;
    std::size_t m_held = 0;
    std::atomic<long> m_outstanding{0};  // nodes queued or being read
    std::atomic<long> m_queued{0};       // nodes in the deques
    std::atomic<int> m_sleepers{0};
    std::mutex m_idleLock;
    std::condition_variable m_idle;
};

std::size_t defaultDescriptorBudget() {
    struct rlimit lim {};
    std::size_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
        soft = static_cast<std::size_t>(lim.rlim_cur);
    // A quarter of the limit leaves room for the rest of the program; a few hundred is plenty.
    return std::clamp<std::size_t>(soft / 4, 4, 256);
}

}  // namespace

TDirStats CountTreeParallel(std::string_view dir, unsigned jobs) {
    return CountTreeParallel(dir, jobs, defaultDescriptorBudget());
}

TDirStats CountTreeParallel(std::string_view dir, unsigned jobs, std::size_t descriptorBudget) {
    if (dir.empty()) return {};
    const std::string path(dir);
    const int root = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return {};
    ParallelCount count(jobs, descriptorBudget);
    return count.run(root);
}

}  // namespace pelmora::stats
