// The export as the window runs it, for the tests of what surrounds it: the data file made
// before the first count, the entries counted by the engine in one walk per list, each counted
// entry charged `overhead` bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/DataFile.h"
#include "stats/engine.h"

namespace pelmora::test {

inline std::string exportList(const std::vector<std::string>& entries, const std::string& dataFile,
                              const std::string& listFile, std::int32_t overhead) {
    std::string name = dataFile;  // copied first: once the file is in place, nothing may fail
    output::FileSink sink(dataFile, listFile);
    stats::ListCount counts(entries, {});
    output::writeDataFile(entries, sink, output::countEach(counts), overhead);
    return name;
}

// The same with the data file beside the list.
inline std::string exportList(const std::vector<std::string>& entries, const std::string& listFile,
                              std::int32_t overhead) {
    return exportList(entries, output::dataFileName(listFile), listFile, overhead);
}

}  // namespace pelmora::test
