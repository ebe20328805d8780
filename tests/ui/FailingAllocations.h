// Memory that runs out on cue, for this test program: its global operator new can be told to
// fail the n-th allocation from now, or every allocation of at least a given size, by throwing
// std::bad_alloc as a real shortage would. Works under AddressSanitizer (which aborts instead
// of throwing when memory really runs out, and cannot run under a lowered address-space
// limit).
#pragma once

#include <cstddef>

namespace pelmora::test {

// The n-th allocation from now fails, once (n >= 1); 0 disarms.
void failNthAllocation(long n);
// Every allocation of at least `bytes` fails until disarmed with 0.
void failAllocationsFrom(std::size_t bytes);
// Whether an allocation failed on cue since the last arming.
bool allocationFailed();

// Arms in the constructor, disarms in the destructor.
class AllocationFailure {
  public:
    struct Nth {
        long n;
    };
    struct From {
        std::size_t bytes;
    };
    explicit AllocationFailure(Nth nth) { failNthAllocation(nth.n); }
    explicit AllocationFailure(From from) { failAllocationsFrom(from.bytes); }
    ~AllocationFailure() {
        failNthAllocation(0);
        failAllocationsFrom(0);
    }
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
};

}  // namespace pelmora::test
