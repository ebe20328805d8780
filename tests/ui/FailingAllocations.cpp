#include "tests/ui/FailingAllocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace pelmora::test {

namespace {

std::atomic<long> g_countdown{0};
std::atomic<std::size_t> g_from{0};
std::atomic<bool> g_failed{false};

void* allocate(std::size_t size) {
    const std::size_t from = g_from.load(std::memory_order_relaxed);
    if (from != 0 && size >= from) {
        g_failed = true;
        return nullptr;
    }
    if (g_countdown.load(std::memory_order_relaxed) > 0 && g_countdown.fetch_sub(1) == 1) {
        g_failed = true;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void failNthAllocation(long n) {
    g_failed = false;
    g_countdown = n;
}

void failAllocationsFrom(std::size_t bytes) {
    g_failed = false;
    g_from = bytes;
}

bool allocationFailed() {
    return g_failed;
}

}  // namespace pelmora::test

// Every plain form of the global operators, so that each allocation and its release meet in
// malloc and free (the aligned forms are left to the library: they pair among themselves).
void* operator new(std::size_t size) {
    if (void* p = pelmora::test::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return pelmora::test::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return pelmora::test::allocate(size);
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
