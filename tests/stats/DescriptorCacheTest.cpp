// The descriptors the threaded count keeps between directories: within the budget, never one in
// use taken away, given back when the last subdirectory is opened or when descriptors run short.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "stats/descriptors.h"

using pelmora::platform::UniqueFd;
using pelmora::stats::detail::DescriptorCache;
using pelmora::stats::detail::DescriptorSlot;

namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

struct Tree {
    DescriptorSlot root{nullptr};
    DescriptorSlot a{&root};
    DescriptorSlot b{&root};
    DescriptorSlot c{&root};
    DescriptorSlot below{&a};
};

class Cache : public ::testing::Test {
  protected:
    // A descriptor opened as the count opens one: in use from before the open.
    int openFor(DescriptorSlot& slot, int pending) {
        UniqueFd fd;
        m_cache.opening([&] {
            fd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
            return 0;
        });
        const int raw = fd.get();
        m_cache.setPending(slot, pending);
        m_cache.offer(slot, std::move(fd), m_toClose);
        return raw;
    }
    void TearDown() override { m_cache.closeAllHeld(); }

    Tree m_tree;
    DescriptorCache m_cache{2};
    std::vector<int> m_toClose;
};

TEST_F(Cache, KeepsAtMostTheBudgetAndClosesTheLeastRecentlyUsedFirst) {
    const int a = openFor(m_tree.a, 1);
    const int b = openFor(m_tree.b, 1);
    std::vector<DescriptorSlot*> chain;
    // Using a makes b the least recently used.
    ASSERT_EQ(m_cache.borrowNearest(&m_tree.below, chain), &m_tree.a);
    m_cache.giveBack(m_tree.a, m_toClose);
    const int c = openFor(m_tree.c, 1);
    EXPECT_EQ(m_cache.held(), 2u);
    EXPECT_TRUE(isOpen(a) && m_tree.a.fd == a);
    EXPECT_EQ(m_tree.b.fd, -1);
    EXPECT_FALSE(isOpen(b));
    EXPECT_EQ(m_tree.c.fd, c);
}

TEST_F(Cache, ADescriptorInUseIsNeverClosedToMakeRoom) {
    const int a = openFor(m_tree.a, 1);
    const int b = openFor(m_tree.b, 1);
    std::vector<DescriptorSlot*> chain;
    ASSERT_EQ(m_cache.borrowNearest(&m_tree.below, chain), &m_tree.a);
    ASSERT_EQ(m_cache.borrowNearest(&m_tree.b, chain), &m_tree.b);
    // Both held ones in use: the newcomer is not kept.
    const int c = openFor(m_tree.c, 1);
    EXPECT_EQ(m_tree.c.fd, -1);
    EXPECT_FALSE(isOpen(c));
    EXPECT_TRUE(isOpen(a) && isOpen(b));
    m_cache.giveBack(m_tree.a, m_toClose);
    m_cache.giveBack(m_tree.b, m_toClose);
}

TEST_F(Cache, TheLastSubdirectoryToOpenClosesItsParentsDescriptor) {
    const int a = openFor(m_tree.a, 2);
    m_cache.onePendingLess(m_tree.a);
    EXPECT_TRUE(isOpen(a));
    m_cache.onePendingLess(m_tree.a);
    EXPECT_FALSE(isOpen(a));
    EXPECT_EQ(m_cache.held(), 0u);
    // A directory without subdirectories to open keeps nothing.
    EXPECT_FALSE(isOpen(openFor(m_tree.b, 0)));
}

TEST_F(Cache, TheStartKeepsItsDescriptorOutsideTheBudget) {
    UniqueFd root(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int r = root.get();
    m_cache.setRoot(m_tree.root, std::move(root));
    openFor(m_tree.a, 1);
    openFor(m_tree.b, 1);
    openFor(m_tree.c, 1);
    EXPECT_EQ(m_tree.root.fd, r);
    UniqueFd taken = m_cache.takeRoot();
    EXPECT_EQ(taken.get(), r);
    EXPECT_EQ(m_tree.root.fd, -1);
    m_cache.released();  // the reader is done with it
}

TEST_F(Cache, ShortOfDescriptorsIdleOnesAreGivenBackAndWithNoneLeftTheCountGivesUp) {
    const int a = openFor(m_tree.a, 1);
    std::uint64_t before = m_cache.releases();
    EXPECT_TRUE(m_cache.relieveShortage(m_toClose, before));
    EXPECT_FALSE(isOpen(a));
    EXPECT_EQ(m_tree.a.fd, -1);
    // Nothing held, nothing in use: nothing will come back.
    before = m_cache.releases();
    EXPECT_FALSE(m_cache.relieveShortage(m_toClose, before));
}

TEST_F(Cache, ShortOfDescriptorsAThreadWaitsForOneInUseToComeBack) {
    openFor(m_tree.a, 1);
    std::vector<DescriptorSlot*> chain;
    ASSERT_EQ(m_cache.borrowNearest(&m_tree.below, chain), &m_tree.a);
    const std::uint64_t before = m_cache.releases();
    bool relieved = false;
    std::thread waiter([&] {
        std::vector<int> toClose;
        relieved = m_cache.relieveShortage(toClose, before);
    });
    m_cache.giveBack(m_tree.a, m_toClose);
    waiter.join();
    EXPECT_TRUE(relieved);
}

}  // namespace
