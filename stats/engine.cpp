#include "stats/engine.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/dir.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/parallel.h"
#include "stats/tally.h"
#include "stats/walker.h"

namespace pelmora::stats {

namespace {

// The one-thread count: WalkTree with CountEntry's rule, in walk order.
CountResult countSequential(std::string_view dir, const CountOptions& options) {
    CountResult result;
    detail::ByteSum bytes;
    detail::AllocationSum allocation;
    // The progress figures not handed over yet.
    std::int64_t batchEntries = 0;
    std::uint64_t batchBytes = 0;
    auto entry = [&](const TSearchRec& rec, std::string_view prefix) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
            throw Cancelled();
        if (!rec.Name.empty() && rec.Name.front() == '.') return;
        if (options.progress != nullptr) {
            batchBytes += static_cast<std::uint64_t>(rec.Size);
            if (++batchEntries == 256) {
                options.progress->add(batchEntries, batchBytes,
                                      prefix.substr(0, prefix.empty() ? 0 : prefix.size() - 1));
                batchEntries = 0;
                batchBytes = 0;
            }
        }
        bytes.add(rec.Size);
        if (rec.Attr & faDirectory)
            ++result.directories;
        else
            ++result.files;
        if (options.allocated && rec.Stat != nullptr) allocation.add(*rec.Stat);
    };
    auto error = [&](std::string_view path, int err) {
        ++result.errorCount;
        if (result.errors.size() < CountResult::kErrorsKept)
            result.errors.push_back({std::string(path), err, platform::ioCodeFromErrno(err)});
    };
    WalkOptions walk;
    walk.statDotNames = false;
    walk.fillTime = false;
    walk.allocation = options.allocated;
    if (options.descriptorBudget) walk.descriptorBudget = *options.descriptorBudget;
    walk.onError = error;
    WalkTree(platform::joinPattern(dir, "*.*"), AttrAll, entry, walk);
    if (options.progress != nullptr) options.progress->add(batchEntries, batchBytes, dir);
    result.byteTotal = bytes.total();
    if (options.allocated) result.allocatedBytes = allocation.total();
    return result;
}

}  // namespace

unsigned defaultJobs() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(16 * cores, 16u, 64u);
}

CountResult count(std::string_view dir, const CountOptions& options) {
    if (dir.empty()) {
        CountResult none;
        none.errorCount = 1;
        none.errors.push_back({"", ENOENT, platform::ioCodeFromErrno(ENOENT)});
        return none;
    }
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
        throw Cancelled();
    const unsigned jobs = options.jobs != 0 ? options.jobs : defaultJobs();
    if (jobs <= 1) return countSequential(dir, options);
    bool exceeded = false;
    CountResult result = detail::countThreaded(dir, options, jobs, exceeded);
    // Above 2^40 bytes the byte total depends on the order of the additions: only the walk in
    // its order gives it.
    if (exceeded) return countSequential(dir, options);
    return result;
}

}  // namespace pelmora::stats
