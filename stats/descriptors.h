// The descriptors a threaded count keeps open between directories (not for other callers than
// the counting engine).
//
// A directory that has been read keeps its descriptor while it has subdirectories that have not
// been opened yet, so that they are opened relative to it; the last of them to open closes it.
// At most `budget` directories hold one at a time: when one more would exceed that, the
// descriptor used least recently, and not in use right now, is closed. A directory whose
// descriptor was closed is reached again through the nearest directory above it that holds
// one. The start directory keeps its descriptor outside the budget.
//
// Shortage: an open that fails with EMFILE or ENFILE gives back every descriptor no thread is
// using right now and tries again; when none was idle, it waits until another thread gives one
// back. Only when no descriptor of the count is in use or held anywhere does the caller give
// up. A thread that waits holds no descriptor, so threads never wait for one another in a
// circle.
//
// Every descriptor "in use" (being read, walked through, borrowed, or taken from a directory to
// be closed) is counted, so that a thread short of descriptors can tell whether one may still
// come back. All members are safe to call from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/uniquefd.h"

namespace pelmora::stats::detail {

// A directory's place in the cache. The fields are the cache's, guarded by its lock.
struct DescriptorSlot {
    explicit DescriptorSlot(DescriptorSlot* above) : up(above) {}
    DescriptorSlot* const up;         // the directory above it; null for the start directory
    int fd = -1;                      // -1 when it holds no descriptor
    int pending = 0;                  // subdirectories not opened yet
    int users = 0;                    // threads opening something through fd right now
    DescriptorSlot* newer = nullptr;  // the list of held descriptors, least recent first
    DescriptorSlot* older = nullptr;
};

class DescriptorCache {
  public:
    explicit DescriptorCache(std::size_t budget) : m_budget(budget) {}
    // The owner calls closeAllHeld() before its slots go.
    ~DescriptorCache() = default;
    DescriptorCache(const DescriptorCache&) = delete;
    DescriptorCache& operator=(const DescriptorCache&) = delete;

    // The start directory and the descriptor it was opened with, held outside the budget.
    void setRoot(DescriptorSlot& root, platform::UniqueFd fd);
    // Takes the start directory's descriptor for reading it, in use from now on; an empty
    // descriptor when a shortage took it.
    platform::UniqueFd takeRoot();

    // The nearest directory from `from` upwards that holds a descriptor, borrowed (in use until
    // giveBack); the directories passed on the way, nearest first, in `chain`. Null when none
    // holds one.
    DescriptorSlot* borrowNearest(DescriptorSlot* from, std::vector<DescriptorSlot*>& chain);
    // Ends a borrow of `slot`'s descriptor.
    void giveBack(DescriptorSlot& slot, std::vector<int>& toClose);

    // A descriptor in use, opened for `slot`, no longer needed by its opener: kept by the slot
    // if it still has subdirectories to open (the start directory always keeps one) and the
    // budget allows, else closed.
    void offer(DescriptorSlot& slot, platform::UniqueFd fd, std::vector<int>& toClose);

    void setPending(DescriptorSlot& slot, int pending);
    // One subdirectory of `slot` has been opened (or given up): after the last, the slot's
    // descriptor is closed unless it is in use. Allocates nothing.
    void onePendingLess(DescriptorSlot& slot);
    // `slot` will open none of its subdirectories after all.
    void noPending(DescriptorSlot& slot, std::vector<int>& toClose);

    // Runs `open` (which returns an errno value and leaves a descriptor with its caller on
    // success), counting the descriptor in use from before the call, so that a thread short
    // of descriptors never takes an open under way for no descriptor in use at all. A failed
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
    // A descriptor in use is no longer: closed by its user, or held idle for later.
    void released();

    // How many descriptors have been given back so far; read it before an open that may fail
    // for want of descriptors.
    std::uint64_t releases() const { return m_releases.load(); }
    // Short of descriptors since releases() read `before`: closes every held descriptor that no
    // thread uses right now, or waits until another thread gives one back. True when a
    // descriptor came free since `before` (try again); false when none did and none is in use
    // or held anywhere (nothing will come back), or after stop().
    bool relieveShortage(std::vector<int>& toClose, std::uint64_t before);

    // Wakes every thread waiting in relieveShortage, which then gives up.
    void stop();
    // Closes every held descriptor (the start directory's included) and forgets the slots.
    void closeAllHeld();

    // The number of descriptors held idle right now (for tests).
    std::size_t held();

  private:
    bool makeRoomLocked(std::vector<int>& toClose);
    void closeIfIdleLocked(DescriptorSlot& slot, std::vector<int>& toClose);
    int detachIfIdleLocked(DescriptorSlot& slot);
    bool closeIdle(std::vector<int>& toClose);
    void touchLocked(DescriptorSlot& slot);
    void linkNewestLocked(DescriptorSlot& slot);
    void unlinkLocked(DescriptorSlot& slot);
    void retireLocked(int fd, std::vector<int>& toClose);
    void closeAll(std::vector<int>& fds);
    void wakeShortWaiters();

    const std::size_t m_budget;
    DescriptorSlot* m_root = nullptr;
    std::mutex m_lock;  // guards every slot's fields and the list below
    DescriptorSlot* m_oldest = nullptr;
    DescriptorSlot* m_newest = nullptr;
    std::size_t m_held = 0;

    std::atomic<long> m_busy{0};  // descriptors in use
    std::mutex m_shortLock;
    std::condition_variable m_shortWait;
    std::atomic<std::uint64_t> m_releases{0};
    std::atomic<int> m_shortWaiters{0};
    std::atomic<bool> m_stop{false};
};

}  // namespace pelmora::stats::detail
