// Counting a tree into DirStats, the cluster overhead and the volume probe.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/volumes.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "tests/support/TempTree.h"

using namespace pelmora::stats;
using pelmora::test::TempTree;

namespace {

class FakeVolumes : public pelmora::platform::Volumes {
  public:
    std::optional<std::uint32_t> cluster;
    std::optional<std::uint32_t> flags;
    std::optional<std::uint32_t> clusterSize(const std::string&) override { return cluster; }
    std::optional<std::uint32_t> fileSystemFlags(const std::string&) override { return flags; }
    std::vector<pelmora::platform::MountedVolume> mountedVolumes() override { return {}; }
    std::string mountPointOf(const std::string&) override { return "/"; }
};

class Counting : public ::testing::Test {
  protected:
    void TearDown() override { EntryOverhead = 0; }
    FakeVolumes volumes;
    TempTree tree;
};

std::int64_t dirSize(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_size;
}

}  // namespace

TEST_F(Counting, FilesAndSubdirectoriesAreCountedWithTheirSizes) {
    tree.dir("T/SUB");
    tree.file("T/A.TXT", 100);
    tree.file("T/B.TXT", 250);
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.DirCount, 1);
    EXPECT_EQ(DirStats.FileCount, 2);
    EXPECT_EQ(DirStats.ByteTotal.toFixed0(), std::to_string(350 + dirSize(tree.path("T/SUB"))));
}

TEST_F(Counting, DotNamesAreNeverCountedAndHiddenDirectoriesCountOnce) {
    tree.dir("T/.hidden");
    tree.file("T/.hidden/one", 1);
    tree.file("T/.hidden/two", 2);
    tree.file("T/.hidden/three", 3);
    tree.file("T/.profile", 500);
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.DirCount, 0);  // ".hidden" begins with a dot: not counted either
    EXPECT_EQ(DirStats.FileCount, 0);
    EXPECT_EQ(DirStats.ByteTotal.toFixed0(), "0");
}

TEST_F(Counting, SystemSubdirectoryCountsAsOneDirectoryWithNothingInside) {
    // A directory that is neither hidden nor system is entered; a fifo is a system file.
    tree.dir("T/sub");
    ASSERT_EQ(mkfifo(tree.path("T/sub/pipe").c_str(), 0644), 0);
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.DirCount, 1);
    EXPECT_EQ(DirStats.FileCount, 1);
}

TEST_F(Counting, TrailingDelimiterAndEmptyText) {
    tree.dir("T/SUB");
    tree.file("T/SUB/x", 7);
    CountTree(tree.path("T") + "/");
    const TDirStats withSlash = DirStats;
    CountTree(tree.path("T"));
    EXPECT_EQ(withSlash.DirCount, DirStats.DirCount);
    EXPECT_EQ(withSlash.FileCount, 2 - 1);
    EXPECT_EQ(withSlash.ByteTotal, DirStats.ByteTotal);

    // An empty text counts nothing, never the current directory or "/".
    char* here = get_current_dir_name();
    const std::string cwd = here;
    free(here);
    ASSERT_EQ(chdir(tree.path("T").c_str()), 0);
    CountTree("");
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(DirStats.DirCount, 0);
    EXPECT_EQ(DirStats.FileCount, 0);
}

TEST_F(Counting, MissingDirectoryCountsZero) {
    CountTree(tree.path("gone"));
    EXPECT_EQ(DirStats.DirCount, 0);
    EXPECT_EQ(DirStats.FileCount, 0);
    EXPECT_EQ(DirStats.ByteTotal.toFixed0(), "0");
}

TEST_F(Counting, SparseFileOfThreeGibibytesCountsWhole) {
    tree.dir("T");
    tree.file("T/big", 3LL << 30);
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.FileCount, 1);
    EXPECT_EQ(DirStats.ByteTotal.toFixed0(), "3221225472");
}

TEST_F(Counting, SymlinkCountsAsAFileOfItsOwnLengthAndLoopsEnd) {
    tree.dir("T/a");
    tree.symlink("T/a/loop", tree.path("T"));
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.DirCount, 1);
    EXPECT_EQ(DirStats.FileCount, 1);
    EXPECT_EQ(DirStats.ByteTotal.toFixed0(),
              std::to_string(dirSize(tree.path("T/a")) + static_cast<long>(tree.path("T").size())));
}

TEST_F(Counting, NamesThatAreNotUtf8AreCounted) {
    const std::string bad = "caf\xe9\xff";
    tree.dir("T/" + bad);
    tree.file("T/" + bad + "/x\x80y", 42);
    CountTree(tree.path("T"));
    EXPECT_EQ(DirStats.DirCount, 1);
    EXPECT_EQ(DirStats.FileCount, 1);
}

TEST_F(Counting, ExampleOfTheStatsPanel) {
    tree.dir("S/e1");
    tree.dir("S/e2");
    tree.file("S/a", 1000000);
    tree.file("S/b", 200000);
    tree.file("S/c", 34567);
    volumes.cluster = 4096;
    volumes.flags = 0x3;
    EXPECT_EQ(ProbeVolume(volumes), "");
    EXPECT_EQ(EntryOverhead, 2048);
    CountTree(tree.path("S"));
    EXPECT_EQ(DirStats.DirCount, 2);
    EXPECT_EQ(DirStats.FileCount, 3);
    EXPECT_EQ(TreeOverhead(), 10240);
}

TEST_F(Counting, CompressedVolumeHasNoOverhead) {
    volumes.cluster = 4096;
    volumes.flags = pelmora::platform::kFsCompressed;
    EXPECT_EQ(ProbeVolume(volumes), "(Compressed)");
    EXPECT_EQ(EntryOverhead, 0);
    DirStats.DirCount = 5;
    DirStats.FileCount = 5;
    EXPECT_EQ(TreeOverhead(), 0);
}

TEST_F(Counting, FailedProbeKeepsThePreviousFigures) {
    volumes.cluster = 512 * 64;
    volumes.flags = 0x3;
    ProbeVolume(volumes);
    EXPECT_EQ(EntryOverhead, 16384);
    volumes.cluster.reset();
    volumes.flags.reset();
    EXPECT_EQ(ProbeVolume(volumes), "");
    EXPECT_EQ(EntryOverhead, 16384);
}

TEST_F(Counting, OverheadOfManyEntriesDoesNotWrap) {
    volumes.cluster = 512 * 64;
    volumes.flags = 0x3;
    ProbeVolume(volumes);
    DirStats.DirCount = 0;
    DirStats.FileCount = 200000;
    EXPECT_EQ(TreeOverhead(), 3276800000LL);
    EXPECT_EQ(FormatCount(TreeOverhead(), ','), "3,276,800,000");
}

TEST(Probe, RealVolumeGivesHalfItsClusterSize) {
    const std::string label = ProbeVolume(pelmora::platform::systemVolumes());
    if (label.empty()) {
        EXPECT_GT(EntryOverhead, 0);
        EXPECT_EQ(EntryOverhead % 256, 0);
    } else {
        EXPECT_EQ(label, "(Compressed)");
        EXPECT_EQ(EntryOverhead, 0);
    }
    EntryOverhead = 0;
}
