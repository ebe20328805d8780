// What the counting engine's tests share: the modes every case runs in, and a reference count
// written plainly (readdir and lstat, recursion) against which every mode is checked.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "stats/engine.h"

namespace enginetest {

// One way of counting: the number of threads and, for "tiny", a budget of one descriptor.
struct Mode {
    const char* name;
    unsigned jobs;
    bool tinyBudget;
    pelmora::stats::CountOptions options() const {
        pelmora::stats::CountOptions o;
        o.jobs = jobs;
        if (tinyBudget) o.descriptorBudget = 1;
        return o;
    }
};

inline void PrintTo(const Mode& m, std::ostream* os) {
    *os << m.name;
}

inline const Mode kModes[] = {
    {"OneThread", 1, false},
    {"TwoThreads", 2, false},
    {"FourThreads", 4, false},
    {"OneThreadOneDescriptor", 1, true},
    {"FourThreadsOneDescriptor", 4, true},
};

// The figures a count must give, from the reference walk.
struct Reference {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    unsigned __int128 exactBytes = 0;
    unsigned __int128 foldedBytes = 0;  // rounded to 40 bits after each addition, in walk order
    std::uint64_t allocated = 0;        // st_blocks x 512, each inode once
    std::vector<std::string> skipped;   // directories not entered because `enter` said no
    // Every directory entered below the start, in walk order, with its depth (1 for the
    // start's subdirectories).
    std::vector<std::pair<std::string, int>> entered;
};

// What the reference may do besides the program's default rule.
struct ReferenceRules {
    bool hidden = false;  // count and enter names beginning with '.' too (not "." and "..")
    std::function<bool(const std::string& path)> leaveOut;  // neither counted nor entered
};

// Walks `path` by the program's rule: in each directory, its entries whose name does not begin
// with '.' in readdir order (counted, sizes added), then its subdirectories on the same device
// in readdir order, each to the bottom. `enter(path)` may refuse a directory (it is counted
// but not entered, and its path noted in `skipped`).
Reference referenceCount(const std::string& path,
                         const std::function<bool(const std::string&)>& enter = {},
                         const ReferenceRules& rules = {});

// Rounds to 40 significant bits, halves away from zero: the byte total's format.
unsigned __int128 round40(unsigned __int128 v);

std::string decimal(unsigned __int128 v);

// The result's figures in the reference's terms, for comparison.
struct Figures {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    std::string bytes;
    bool operator==(const Figures&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Figures& f);
Figures figuresOf(const pelmora::stats::CountResult& r);
Figures figuresOf(const Reference& r);

}  // namespace enginetest
