// Sizes for count -h and --si, held against what du itself prints for files of those sizes.
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/human.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::cli::humanSize;

// Each size stands next to a rounding boundary: below and at a unit, the step from one decimal
// to whole numbers, the carry into the next unit.
const std::vector<long long> kSizes = {
    0,     999,   1000,   1023,    1024,    1025,    9995,       10239,
    10241, 99999, 999999, 1023999, 1048575, 1048577, 1073741825, 1099511627776LL};

// What `du --apparent-size FLAG` prints for a sparse file of each size, by size.
std::map<long long, std::string> duSizes(const pelmora::test::TempTree& t, const char* flag) {
    std::vector<std::string> args = {"--apparent-size", flag};
    for (const long long n : kSizes) {
        const std::string f = t.path(std::to_string(n));
        const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || ::ftruncate(fd, n) != 0) return {};
        ::close(fd);
        args.push_back(f);
    }
    const pelmora::test::CliRun r = pelmora::test::runProgram("/usr/bin/du", args, t.root());
    std::map<long long, std::string> sizes;
    std::istringstream lines(r.out);
    for (std::string size, path; lines >> size >> path;)
        sizes[std::stoll(path.substr(path.rfind('/') + 1))] = size;
    return sizes;
}

TEST(CliHumanSize, AsDuPrintsThem) {
    if (::access("/usr/bin/du", X_OK) != 0) GTEST_SKIP() << "du is not installed";
    pelmora::test::TempTree t;
    for (const auto& [flag, base] : {std::pair{"-h", 1024u}, std::pair{"--si", 1000u}}) {
        const std::map<long long, std::string> du = duSizes(t, flag);
        ASSERT_EQ(du.size(), kSizes.size()) << flag;
        for (const long long n : kSizes)
            EXPECT_EQ(humanSize(static_cast<unsigned __int128>(n), base), du.at(n))
                << flag << " " << n;
    }
    // Beyond what a file can hold: the carry into the next unit, and no unit above the last.
    const unsigned __int128 exbi = static_cast<unsigned __int128>(1) << 60;
    EXPECT_EQ(humanSize(exbi * 1024 - 1, 1024), "1.0Z");
    EXPECT_EQ(humanSize(exbi * 1024 * 1024 * 1024 * 1024 * 2000, 1024), "2000Q");
}

}  // namespace
