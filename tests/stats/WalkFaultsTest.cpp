// The walker and the counting under hostile file systems: denied directories, subtrees that
// vanish or turn into symlink loops while they are walked, and a process short of descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "stats/counting.h"
#include "stats/engine.h"
#include "stats/walker.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

using namespace pelmora;
using test::inChild;

namespace {

struct Figures {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    std::string bytes;
    bool operator==(const Figures& o) const {
        return dirs == o.dirs && files == o.files && bytes == o.bytes;
    }
};

std::ostream& operator<<(std::ostream& os, const Figures& f) {
    return os << f.dirs << " dirs, " << f.files << " files, " << f.bytes << " bytes";
}

std::string describe(const Figures& f) {
    std::ostringstream os;
    os << f;
    return os.str();
}

Figures countTree(const std::string& dir) {
    stats::CountTree(dir);
    return {stats::DirStats.DirCount, stats::DirStats.FileCount,
            stats::DirStats.ByteTotal.toFixed0()};
}

Figures minus(const Figures& a, const Figures& b) {
    return {a.dirs - b.dirs, a.files - b.files,
            std::to_string(std::stoll(a.bytes) - std::stoll(b.bytes))};
}

void removeAll(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Directories and files a walk delivers, names beginning with '.' left out as a count does.
struct Tally {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    void add(const stats::TSearchRec& rec) {
        if (rec.Name.empty() || rec.Name.front() == '.') return;
        ++((rec.Attr & stats::faDirectory) != 0 ? dirs : files);
    }
};

// A tree a user without privileges can enter, with one directory closed to them.
class DeniedTree : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(t.root().c_str(), 0755);
        t.dir("open/deeper");
        t.file("open/a.txt", 10);
        t.file("open/deeper/b.txt", 2000);
        t.file("private.key", 77);
        ::chmod(t.path("private.key").c_str(), 0600);  // unreadable, but its size is public
        t.dir("locked/inner/innermost");
        t.file("locked/secret", 123456);
        t.file("locked/inner/more", 99);
        ::chmod(t.path("locked").c_str(), 0700);
        // Searchable but not listable: nothing below it can be found.
        t.dir("blind/hidden-name");
        t.file("blind/x", 5);
        ::chmod(t.path("blind").c_str(), 0711);
        // Listable but not searchable: names are readable, the entries cannot be examined.
        t.dir("unsearchable/child");
        t.file("unsearchable/y", 6);
        ::chmod(t.path("unsearchable").c_str(), 0744);

        whole = countTree(t.root());
        const Figures locked = countTree(t.path("locked"));
        const Figures blind = countTree(t.path("blind"));
        const Figures unsearchable = countTree(t.path("unsearchable"));
        expected = minus(minus(minus(whole, locked), blind), unsearchable);
    }
    test::TempTree t;
    Figures whole;
    Figures expected;  // what a user who cannot look into the closed directories sees
};

TEST_F(DeniedTree, CountGoesOnAndTheClosedPartsContributeNothing) {
    ASSERT_EQ(whole.dirs, 9);
    ASSERT_EQ(whole.files, 7);
    ASSERT_EQ(expected.dirs, 5);  // open, deeper, locked, blind, unsearchable
    ASSERT_EQ(expected.files, 3);
    const std::string root = t.root();
    const Figures want = expected;
    EXPECT_EQ("", inChild([&]() -> std::string {
                  if (!test::dropToNobody()) return "could not drop privileges";
                  const Figures got = countTree(root);
                  if (!(got == want)) return "CountTree: " + describe(got);
                  stats::CountOptions four;
                  four.jobs = 4;
                  const stats::TDirStats par = stats::dirStatsOf(stats::count(root, four));
                  const Figures gotPar{par.DirCount, par.FileCount, par.ByteTotal.toFixed0()};
                  if (!(gotPar == want)) return "count with 4 threads: " + describe(gotPar);
                  return "";
              }));
}

TEST_F(DeniedTree, ClosedStartDirectoryCountsNothingAndWalkReportsDenied) {
    const std::string locked = t.path("locked");
    EXPECT_EQ("", inChild([&]() -> std::string {
                  if (!test::dropToNobody()) return "could not drop privileges";
                  const Figures got = countTree(locked);
                  if (!(got == Figures{0, 0, "0"})) return "CountTree: " + describe(got);
                  int calls = 0;
                  const int status =
                      stats::WalkTree(locked + "/*.*", stats::AttrAll,
                                      [&](const stats::TSearchRec&, std::string_view) { ++calls; });
                  if (status != 5) return "WalkTree status " + std::to_string(status);
                  if (calls != 0) return "callback called " + std::to_string(calls) + " times";
                  return "";
              }));
}

TEST_F(DeniedTree, CliCountAsUnprivilegedUser) {
    for (const char* jobs : {"1", "3"}) {
        const test::CliRun r = test::runCli({"count", "--csv", "--jobs", jobs, t.root()}, "/",
                                            [] { return test::dropToNobody(); });
        // The figures of what the user may read, the closed directories named, status 1.
        ASSERT_EQ(r.status, 1) << "jobs " << jobs << ": " << r.err;
        EXPECT_NE(r.err.find("pelmora-cli: cannot read directory '" + t.path("locked") +
                             "': Permission denied\n"),
                  std::string::npos)
            << r.err;
        const std::string head = "\"" + t.root() + "\"," + std::to_string(expected.dirs) + "," +
                                 std::to_string(expected.files) + "," + expected.bytes + ",";
        EXPECT_EQ(r.out.substr(0, head.size()), head) << "jobs " << jobs << ": " << r.out;
    }
}

// Deletes the other top-level subtree as soon as the walk enters one of them.
TEST(WalkDuringChanges, SiblingSubtreeDeletedWhileWalking) {
    test::TempTree t;
    for (const char* top : {"one", "two"}) {
        t.dir(std::string(top) + "/sub");
        t.file(std::string(top) + "/f1", 100);
        t.file(std::string(top) + "/sub/f2", 200);
    }
    Tally seen;
    std::string walked;  // the subtree entered first
    const std::string rootPrefix = t.root() + "/";
    const int status =
        stats::WalkTree(t.root() + "/*.*", stats::AttrAll,
                        [&](const stats::TSearchRec& rec, std::string_view prefix) {
                            if (walked.empty() && prefix != rootPrefix) {
                                const std::string rest(prefix.substr(rootPrefix.size()));
                                walked = rest.substr(0, rest.find('/'));
                                removeAll(t.path(walked == "one" ? "two" : "one"));
                            }
                            seen.add(rec);
                        });
    EXPECT_EQ(status, stats::kNoMoreEntries);
    ASSERT_FALSE(walked.empty());
    // Both top-level directories were seen before the deletion; below them only the walked one.
    EXPECT_EQ(seen.dirs, 3);
    EXPECT_EQ(seen.files, 2);
}

TEST(WalkDuringChanges, DirectoryBeingWalkedDeletedUnderneath) {
    test::TempTree t;
    t.dir("victim/a/b/c");
    for (int i = 0; i < 3000; ++i) t.file("victim/file" + std::to_string(i), 1);
    t.file("victim/a/b/c/deep", 1);
    t.file("keep", 7);
    bool deleted = false;
    int calls = 0;
    const int status = stats::WalkTree(
        t.root() + "/*.*", stats::AttrAll, [&](const stats::TSearchRec&, std::string_view prefix) {
            ++calls;
            if (!deleted && prefix.find("victim") != std::string_view::npos) {
                deleted = true;
                removeAll(t.path("victim"));
            }
        });
    EXPECT_EQ(status, stats::kNoMoreEntries);
    EXPECT_TRUE(deleted);
    // The root's two entries, then at most what the victim held.
    EXPECT_GE(calls, 3);
    EXPECT_LE(calls, 2 + 3000 + 4);
    // Counting afterwards sees the tree as it now is.
    const Figures after = countTree(t.root());
    EXPECT_EQ(after.dirs, 0);
    EXPECT_EQ(after.files, 1);
    EXPECT_EQ(after.bytes, "7");
}

TEST(WalkDuringChanges, SubtreeReplacedBySymlinkLoop) {
    test::TempTree t;
    t.dir("a");
    t.file("a/fa", 11);
    t.dir("b/sub/subsub");
    t.file("b/fb", 1000);
    t.file("b/sub/subsub/deep", 5000);
    bool replaced = false;
    Tally seen;
    const int status = stats::WalkTree(t.root() + "/*.*", stats::AttrAll,
                                       [&](const stats::TSearchRec& rec, std::string_view) {
                                           if (!replaced) {
                                               // Before either subtree is entered: "b" becomes a
                                               // link to the root, and a link pointing at itself
                                               // stands where "b/sub" was.
                                               replaced = true;
                                               removeAll(t.path("b"));
                                               t.symlink("b", t.root());
                                               t.symlink("a/loop", "loop");
                                           }
                                           seen.add(rec);
                                       });
    EXPECT_EQ(status, stats::kNoMoreEntries);
    EXPECT_TRUE(replaced);
    // a and b seen at the top (b as the directory it was when listed); inside a, fa and
    // perhaps the new loop link; nothing of the old b and no second pass over the root.
    EXPECT_EQ(seen.dirs, 2);
    EXPECT_GE(seen.files, 1);
    EXPECT_LE(seen.files, 2);

    // The next count takes the links for what they are: files of their own length.
    const Figures after = countTree(t.root());
    EXPECT_EQ(after.dirs, 1);
    EXPECT_EQ(after.files, 3);  // a/fa, a/loop, b
}

TEST(WalkDuringChanges, SymlinkLoopsAreNeverEntered) {
    test::TempTree t;
    t.dir("d/e");
    t.symlink("d/e/up", "../..");
    t.symlink("d/self", "self");
    t.symlink("d/e/abs", t.root());
    const Figures got = countTree(t.root());
    EXPECT_EQ(got.dirs, 2);
    EXPECT_EQ(got.files, 3);
}

// A deep tree built through descriptors, so that no long path is ever needed.
void buildDeepTree(const std::string& root, int depth) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(next, 0);
        ::close(fd);
        fd = next;
    }
    const int f = ::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(f, 0);
    ASSERT_EQ(::write(f, "xyz", 3), 3);
    ::close(f);
    ::close(fd);
}

TEST(TooManyOpenFiles, DeepTreeCountedWithASingleSpareDescriptor) {
    test::TempTree t;
    constexpr int kDepth = 400;
    buildDeepTree(t.root(), kDepth);
    const std::string root = t.root();
    const Figures full = countTree(root);
    ASSERT_EQ(full.dirs, kDepth);
    ASSERT_EQ(full.files, 1);
    for (int spare = 1; spare <= 3; ++spare) {
        EXPECT_EQ("", inChild([&]() -> std::string {
                      if (!test::leaveSpareDescriptors(spare)) return "setrlimit failed";
                      const Figures got = countTree(root);
                      if (!(got == full)) return "CountTree: " + describe(got);
                      return "";
                  }))
            << spare << " spare";
    }
}

TEST(TooManyOpenFiles, BushyTreeCountedWithASingleSpareDescriptor) {
    // Two branches per level: the walk comes back to directories whose descriptors it gave up.
    test::TempTree t;
    std::string p = "b";
    for (int i = 0; i < 60; ++i) {
        t.dir(p + "/side/leaf");
        t.file(p + "/side/f", i);
        p += "/deep";
        t.dir(p);
    }
    const std::string root = t.root();
    const Figures full = countTree(root);
    ASSERT_EQ(full.dirs, 181);
    ASSERT_EQ(full.files, 60);
    EXPECT_EQ("", inChild([&]() -> std::string {
                  if (!test::leaveSpareDescriptors(1)) return "setrlimit failed";
                  const Figures got = countTree(root);
                  if (!(got == full)) return "CountTree: " + describe(got);
                  return "";
              }));
}

TEST(TooManyOpenFiles, NoSpareDescriptorCountsNothingWithoutCrashing) {
    test::TempTree t;
    t.dir("x/y");
    t.file("x/y/z", 3);
    const std::string root = t.root();
    EXPECT_EQ("", inChild([&]() -> std::string {
                  if (!test::leaveSpareDescriptors(0)) return "setrlimit failed";
                  const int status =
                      stats::WalkTree(root + "/*.*", stats::AttrAll,
                                      [](const stats::TSearchRec&, std::string_view) {});
                  if (status != 4) return "WalkTree status " + std::to_string(status);
                  const Figures got = countTree(root);
                  if (!(got == Figures{0, 0, "0"})) return "CountTree: " + describe(got);
                  return "";
              }));
}

TEST(TooManyOpenFiles, CliCountWithFewDescriptors) {
    test::TempTree t;
    buildDeepTree(t.root(), 300);
    const Figures full = countTree(t.root());
    for (const char* jobs : {"1", "4"}) {
        const test::CliRun r = test::runCli({"count", "--csv", "--jobs", jobs, t.root()}, "/", [] {
            struct rlimit rl {};
            ::getrlimit(RLIMIT_NOFILE, &rl);
            rl.rlim_cur = 16;
            return ::setrlimit(RLIMIT_NOFILE, &rl) == 0;
        });
        ASSERT_EQ(r.status, 0) << "jobs " << jobs << ": " << r.err;
        const std::string head = "\"" + t.root() + "\"," + std::to_string(full.dirs) + "," +
                                 std::to_string(full.files) + "," + full.bytes + ",";
        EXPECT_EQ(r.out.substr(0, head.size()), head) << "jobs " << jobs << ": " << r.out;
    }
}

}  // namespace
