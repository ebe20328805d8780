#include "stats/descriptors.h"

#include <unistd.h>

namespace pelmora::stats::detail {

void DescriptorCache::setRoot(DescriptorSlot& root, platform::UniqueFd fd) {
    std::lock_guard<std::mutex> g(m_lock);
    m_root = &root;
    root.fd = fd.release();
}

platform::UniqueFd DescriptorCache::takeRoot() {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_root == nullptr || m_root->fd < 0) return {};
    platform::UniqueFd out(m_root->fd);
    m_root->fd = -1;
    m_busy.fetch_add(1);
    return out;
}

DescriptorSlot* DescriptorCache::borrowNearest(DescriptorSlot* from,
                                               std::vector<DescriptorSlot*>& chain) {
    chain.clear();
    std::lock_guard<std::mutex> g(m_lock);
    DescriptorSlot* anchor = from;
    while (anchor != nullptr && anchor->fd < 0) {
        chain.push_back(anchor);
        anchor = anchor->up;
    }
    if (anchor != nullptr) {
        ++anchor->users;
        m_busy.fetch_add(1);  // from held to in use, under the lock
        touchLocked(*anchor);
    }
    return anchor;
}

void DescriptorCache::giveBack(DescriptorSlot& slot, std::vector<int>& toClose) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        --slot.users;
        closeIfIdleLocked(slot, toClose);
    }
    closeAll(toClose);
    released();
}

void DescriptorCache::offer(DescriptorSlot& slot, platform::UniqueFd fd,
                            std::vector<int>& toClose) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (slot.fd < 0 && &slot == m_root) {
            slot.fd = fd.release();
        } else if (slot.fd < 0 && slot.pending > 0 && makeRoomLocked(toClose)) {
            slot.fd = fd.release();
            linkNewestLocked(slot);
        }
    }
    fd.reset();
    closeAll(toClose);
    released();
}

void DescriptorCache::setPending(DescriptorSlot& slot, int pending) {
    std::lock_guard<std::mutex> g(m_lock);
    slot.pending = pending;
}

void DescriptorCache::onePendingLess(DescriptorSlot& slot) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> g(m_lock);
        --slot.pending;
        fd = detachIfIdleLocked(slot);
    }
    if (fd >= 0) {
        ::close(fd);
        released();
    }
}

void DescriptorCache::noPending(DescriptorSlot& slot, std::vector<int>& toClose) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        slot.pending = 0;
        closeIfIdleLocked(slot, toClose);
    }
    closeAll(toClose);
}

void DescriptorCache::released() {
    m_busy.fetch_sub(1);
    m_releases.fetch_add(1);
    wakeShortWaiters();
}

bool DescriptorCache::relieveShortage(std::vector<int>& toClose, std::uint64_t before) {
    for (;;) {
        closeIdle(toClose);  // each one closed counts as given back
        if (m_releases.load() != before) return true;
        std::unique_lock<std::mutex> g(m_shortLock);
        m_shortWaiters.fetch_add(1);
        m_shortWait.wait(
            g, [&] { return m_releases.load() != before || m_busy.load() == 0 || m_stop.load(); });
        m_shortWaiters.fetch_sub(1);
        g.unlock();
        if (m_stop.load()) return false;
        if (m_releases.load() != before) return true;
        // Nothing came back since, and nothing is in use: unless a descriptor went from in use
        // to held meanwhile (which counts as given back), the count holds none at all.
        std::lock_guard<std::mutex> fds(m_lock);
        if (m_busy.load() == 0 && m_releases.load() == before) return false;
    }
}

void DescriptorCache::stop() {
    m_stop.store(true);
    m_releases.fetch_add(1);
    { std::lock_guard<std::mutex> g(m_shortLock); }
    m_shortWait.notify_all();
}

void DescriptorCache::closeAllHeld() {
    std::lock_guard<std::mutex> g(m_lock);
    while (m_oldest != nullptr) {
        DescriptorSlot* s = m_oldest;
        ::close(s->fd);
        s->fd = -1;
        unlinkLocked(*s);
    }
    if (m_root != nullptr && m_root->fd >= 0) {
        ::close(m_root->fd);
        m_root->fd = -1;
    }
    m_root = nullptr;
}

std::size_t DescriptorCache::held() {
    std::lock_guard<std::mutex> g(m_lock);
    return m_held;
}

// True when one more descriptor may be held, after closing the least recently used idle one if
// the budget is spent.
bool DescriptorCache::makeRoomLocked(std::vector<int>& toClose) {
    if (m_held < m_budget) return true;
    DescriptorSlot* victim = m_oldest;
    while (victim != nullptr && victim->users > 0) victim = victim->newer;
    if (victim == nullptr) return false;
    retireLocked(victim->fd, toClose);
    victim->fd = -1;
    unlinkLocked(*victim);
    return true;
}

void DescriptorCache::closeIfIdleLocked(DescriptorSlot& slot, std::vector<int>& toClose) {
    if (&slot == m_root || slot.fd < 0 || slot.pending > 0 || slot.users > 0) return;
    retireLocked(slot.fd, toClose);
    slot.fd = -1;
    unlinkLocked(slot);
}

// The same without allocating: the descriptor to close (counted in use until then), or -1.
int DescriptorCache::detachIfIdleLocked(DescriptorSlot& slot) {
    if (&slot == m_root || slot.fd < 0 || slot.pending > 0 || slot.users > 0) return -1;
    const int fd = slot.fd;
    m_busy.fetch_add(1);
    slot.fd = -1;
    unlinkLocked(slot);
    return fd;
}

// Closes every held descriptor that no thread uses right now; true when there was one.
bool DescriptorCache::closeIdle(std::vector<int>& toClose) {
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (DescriptorSlot* s = m_oldest; s != nullptr;) {
            DescriptorSlot* const newer = s->newer;
            if (s->users == 0) {
                retireLocked(s->fd, toClose);
                s->fd = -1;
                unlinkLocked(*s);
            }
            s = newer;
        }
        if (m_root != nullptr && m_root->fd >= 0 && m_root->users == 0) {
            retireLocked(m_root->fd, toClose);
            m_root->fd = -1;
        }
    }
    const bool any = !toClose.empty();
    closeAll(toClose);
    return any;
}

void DescriptorCache::touchLocked(DescriptorSlot& slot) {
    if (&slot == m_root || &slot == m_newest) return;
    unlinkLocked(slot);
    linkNewestLocked(slot);
}

void DescriptorCache::linkNewestLocked(DescriptorSlot& slot) {
    slot.older = m_newest;
    slot.newer = nullptr;
    if (m_newest != nullptr)
        m_newest->newer = &slot;
    else
        m_oldest = &slot;
    m_newest = &slot;
    ++m_held;
}

void DescriptorCache::unlinkLocked(DescriptorSlot& slot) {
    (slot.older != nullptr ? slot.older->newer : m_oldest) = slot.newer;
    (slot.newer != nullptr ? slot.newer->older : m_newest) = slot.older;
    slot.older = slot.newer = nullptr;
    --m_held;
}

// A held descriptor taken from its directory, to be closed once the lock is released; in use
// until then, so that no thread short of descriptors takes it for gone.
void DescriptorCache::retireLocked(int fd, std::vector<int>& toClose) {
    m_busy.fetch_add(1);
    toClose.push_back(fd);
}

void DescriptorCache::closeAll(std::vector<int>& fds) {
    for (int fd : fds) {
        ::close(fd);
        released();
    }
    fds.clear();
}

void DescriptorCache::wakeShortWaiters() {
    if (m_shortWaiters.load() == 0) return;
    { std::lock_guard<std::mutex> g(m_shortLock); }
    m_shortWait.notify_all();
}

}  // namespace pelmora::stats::detail
