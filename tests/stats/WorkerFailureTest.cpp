// Running out of memory inside a count: the exception reaches the caller of count() on its own
// thread (never std::terminate), after every thread has stopped and every descriptor is closed.
//
// This test program replaces operator new so that an allocation can be made to fail.
#include <pthread.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "stats/engine.h"
#include "tests/stats/EngineTestSupport.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

// Allocations still to succeed before one fails (once); negative: none fails.
std::atomic<long> g_allocationsLeft{-1};
// With g_otherThreadsOnly, the thread that armed the failure is spared.
std::atomic<bool> g_otherThreadsOnly{false};
pthread_t g_armedBy;

void* allocate(std::size_t n) {
    if (g_allocationsLeft.load() >= 0 &&
        !(g_otherThreadsOnly.load() && pthread_equal(pthread_self(), g_armedBy)) &&
        g_allocationsLeft.fetch_sub(1) == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(CountFailure, OutOfMemoryInAnyThreadReachesTheCallerWithEverythingClosed) {
    pelmora::test::TempTree t;
    for (int a = 0; a < 30; ++a) {
        for (int b = 0; b < 10; ++b) {
            const std::string d = "F/" + std::to_string(a) + "/" + std::to_string(b);
            t.dir(d);
            t.file(d + "/x", b);
        }
    }
    const std::string root = t.path("F");
    const enginetest::Reference ref = enginetest::referenceCount(root);
    struct Case {
        bool otherThreadsOnly;
        long allocationsLeft;
    };
    // The first allocation of a thread the count started; then allocations of any thread, the
    // calling thread included, from the first to past the last (about 700 here): each point
    // where the count can fail must clean up.
    std::vector<Case> cases{{true, 0}};
    for (long k = 0; k < 1000; k += 9) cases.push_back({false, k});
    for (const Case c : cases) {
        EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                      pelmora::stats::CountOptions four;
                      four.jobs = 4;
                      const int before = pelmora::test::openDescriptorCount();
                      g_armedBy = pthread_self();
                      g_otherThreadsOnly = c.otherThreadsOnly;
                      g_allocationsLeft = c.allocationsLeft;
                      bool thrown = false;
                      try {
                          pelmora::stats::count(root, four);
                      } catch (const std::bad_alloc&) {
                          thrown = true;
                      }
                      g_allocationsLeft = -1;
                      // Past the count's last allocation nothing fails.
                      if (!thrown) return c.allocationsLeft >= 300 ? "" : "no exception";
                      if (pelmora::test::openDescriptorCount() != before)
                          return "descriptors left open";
#ifdef __SANITIZE_ADDRESS__
                      if (__lsan_do_recoverable_leak_check() != 0) return "memory left behind";
#endif
                      // The engine holds nothing of the failed count: the next one is whole.
                      const pelmora::stats::CountResult again = pelmora::stats::count(root, four);
                      if (!(enginetest::figuresOf(again) == enginetest::figuresOf(ref)))
                          return "next count differs";
                      return "";
                  }))
            << "fail after " << c.allocationsLeft;
    }
}

}  // namespace
