// The tree walker: what reaches the callback, in which order, and which directories are entered.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stats/walker.h"
#include "tests/support/TempTree.h"

using namespace pelmora::stats;
using pelmora::test::TempTree;

namespace {

struct Seen {
    std::string prefix;
    std::string name;
    std::uint32_t attr;
    std::int64_t size;
};

struct Recorder {
    std::vector<Seen> seen;
    void operator()(const TSearchRec& r, std::string_view prefix) {
        seen.push_back({std::string(prefix), std::string(r.Name), r.Attr, r.Size});
    }
    std::vector<std::string> names(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const Seen& s : seen)
            if (s.prefix == prefix) out.push_back(s.name);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> prefixes() const {
        std::vector<std::string> out;
        for (const Seen& s : seen)
            if (out.empty() || out.back() != s.prefix) out.push_back(s.prefix);
        return out;
    }
    const Seen* find(const std::string& name) const {
        for (const Seen& s : seen)
            if (s.name == name) return &s;
        return nullptr;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(Walker, EmptyDirectoryDeliversDotAndDotDotOnly) {
    TempTree t;
    const std::string e = t.dir("E");
    Recorder r;
    const int status = WalkTree(e + "/*.*", AttrAll, r);
    EXPECT_TRUE(scanSucceeded(status));
    EXPECT_EQ(r.names(e + "/"), (Names{".", ".."}));
    EXPECT_EQ(r.seen.size(), 2u);
}

TEST(Walker, TreeIsDeliveredDirectoryByDirectoryDepthFirst) {
    TempTree t;
    t.dir("T/SUB");
    t.file("T/A.TXT", 10);
    t.file("T/SUB/B.TXT", 20);
    Recorder r;
    WalkTree(t.path("T/*.*"), AttrAll, r);
    EXPECT_EQ(r.names(t.path("T/")), (Names{".", "..", "A.TXT", "SUB"}));
    EXPECT_EQ(r.names(t.path("T/SUB/")), (Names{".", "..", "B.TXT"}));
    EXPECT_EQ(r.prefixes(), (Names{t.path("T/"), t.path("T/SUB/")}));
    EXPECT_EQ(r.seen.size(), 7u);
}

TEST(Walker, AllEntriesOfADirectoryComeBeforeAnyOfItsSubdirectories) {
    TempTree t;
    for (const char* d : {"S/a", "S/b", "S/c", "S/b/x"}) t.dir(d);
    for (const char* f : {"S/f1", "S/f2", "S/a/g", "S/b/x/h"}) t.file(f);
    Recorder r;
    WalkTree(t.path("S/*.*"), AttrAll, r);
    // Each prefix forms one unbroken run, and b/x follows b directly.
    const Names p = r.prefixes();
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0], t.path("S/"));
    const auto bx = std::find(p.begin(), p.end(), t.path("S/b/x/"));
    ASSERT_NE(bx, p.end());
    EXPECT_EQ(*(bx - 1), t.path("S/b/"));
}

TEST(Walker, HiddenAndDotDirectoriesAreDeliveredButNeverEntered) {
    TempTree t;
    t.dir("R/.cache/deep");
    t.file("R/.cache/inside");
    t.file("R/.cache/deep/more");
    t.file("R/.profile");
    Recorder r;
    WalkTree(t.path("R/*.*"), AttrAll, r);
    const Seen* cache = r.find(".cache");
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->attr & (faHidden | faDirectory), faHidden | faDirectory);
    EXPECT_EQ(r.find("inside"), nullptr);
    EXPECT_EQ(r.find("more"), nullptr);
    ASSERT_NE(r.find(".profile"), nullptr);
}

TEST(Walker, SystemEntriesAreDeliveredWithTheSystemBit) {
    TempTree t;
    t.dir("D");
    ASSERT_EQ(mkfifo(t.path("D/pipe").c_str(), 0644), 0);
    Recorder r;
    WalkTree(t.path("D/*.*"), AttrAll, r);
    const Seen* pipe = r.find("pipe");
    ASSERT_NE(pipe, nullptr);
    EXPECT_TRUE(pipe->attr & faSysFile);
    // The descent set leaves system and hidden entries out of a scan.
    Recorder d;
    ScanDirectory(t.path("D/*.*"), AttrDescend, d);
    EXPECT_EQ(d.find("pipe"), nullptr);
}

TEST(Walker, AttributeFilterTable) {
    TempTree t;
    t.dir("F/sub");
    t.dir("F/.hdir");
    t.file("F/plain");
    t.file("F/.hfile");
    t.file("F/ro");
    chmod(t.path("F/ro").c_str(), 0444);
    ASSERT_EQ(mkfifo(t.path("F/fifo").c_str(), 0644), 0);
    t.symlink("F/link", "plain");

    Recorder all;
    EXPECT_EQ(ScanDirectory(t.path("F/*.*"), AttrAll, all), kNoMoreEntries);
    EXPECT_EQ(all.names(t.path("F/")),
              (Names{".", "..", ".hdir", ".hfile", "fifo", "link", "plain", "ro", "sub"}));

    Recorder descend;
    ScanDirectory(t.path("F/*.*"), AttrDescend, descend);
    EXPECT_EQ(descend.names(t.path("F/")), (Names{".", "..", "link", "plain", "ro", "sub"}));

    // Without the directory bit, directories are left out; read-only never excludes.
    Recorder files;
    ScanDirectory(t.path("F/*.*"), faArchive, files);
    EXPECT_EQ(files.names(t.path("F/")), (Names{"link", "plain", "ro"}));
    EXPECT_TRUE(files.find("ro")->attr & faReadOnly);
    EXPECT_EQ(files.find("plain")->attr, faArchive);
    EXPECT_EQ(files.find("link")->attr & (faArchive | faDirectory), 0u);
}

TEST(Walker, MissingStartDirectoryCallsNothingAndReportsTheError) {
    TempTree t;
    Recorder r;
    EXPECT_EQ(WalkTree(t.path("nothing/*.*"), AttrAll, r), 2);
    EXPECT_EQ(ScanDirectory(t.path("nothing/*.*"), AttrAll, r), 2);
    t.file("plain");
    EXPECT_EQ(WalkTree(t.path("plain/*.*"), AttrAll, r), 3);
    EXPECT_TRUE(r.seen.empty());
}

TEST(Walker, PatternThatMatchesNothingReportsFileNotFound) {
    TempTree t;
    t.file("a.txt");
    Recorder r;
    EXPECT_EQ(ScanDirectory(t.path("*.pml"), AttrAll, r), 2);
    // Matching entries that the filter removes end the scan normally.
    EXPECT_EQ(ScanDirectory(t.path(".*"), AttrDescend & ~faDirectory, r), kNoMoreEntries);
    EXPECT_TRUE(r.seen.empty());
}

TEST(Walker, MaskIsCutToTwelveCharactersBelowTheStartDirectory) {
    TempTree t;
    t.dir("M/sub");
    t.file("M/abcdefghijklm");  // 13 characters: matches the whole mask
    t.file("M/sub/abcdefghijklm");
    t.file("M/sub/abcdefghijklz");
    t.file("M/sub/abcdefghijkl");
    Recorder r;
    WalkTree(t.path("M/abcdefghijklm"), AttrAll, r);
    EXPECT_EQ(WalkState.Mask, "abcdefghijkl");
    EXPECT_EQ(r.names(t.path("M/")), (Names{"abcdefghijklm"}));
    // Below the start directory the mask is "abcdefghijkl": only that exact name matches.
    EXPECT_EQ(r.names(t.path("M/sub/")), (Names{"abcdefghijkl"}));
}

TEST(Walker, WildcardMasks) {
    EXPECT_TRUE(MatchesMask("noext", "*.*"));
    EXPECT_TRUE(MatchesMask(".", "*.*"));
    EXPECT_TRUE(MatchesMask("a.b.c", "*.c"));
    EXPECT_TRUE(MatchesMask("abc", "a?c"));
    EXPECT_FALSE(MatchesMask("abbc", "a?c"));
    EXPECT_TRUE(MatchesMask("report-2024.txt", "*2024*.t?t"));
    EXPECT_FALSE(MatchesMask("report.TXT", "*.txt"));
    EXPECT_TRUE(MatchesMask("", "*"));
    // A '*' in the name is an ordinary character; in the mask it is always the wildcard.
    EXPECT_TRUE(MatchesMask("a**", "a*"));
    EXPECT_TRUE(MatchesMask("a*b", "a*"));
    EXPECT_FALSE(MatchesMask("a*b", "a*c"));
    EXPECT_FALSE(MatchesMask("x", ""));
}

TEST(Walker, SymlinksAreNeverFollowedSoALoopEnds) {
    TempTree t;
    t.dir("L/a");
    t.symlink("L/a/loop", t.path("L"));
    t.symlink("L/up", "..");
    Recorder r;
    EXPECT_TRUE(scanSucceeded(WalkTree(t.path("L/*.*"), AttrAll, r)));
    EXPECT_EQ(r.prefixes(), (Names{t.path("L/"), t.path("L/a/")}));
    EXPECT_EQ(r.find("loop")->attr & faDirectory, 0u);
}

TEST(Walker, StartDirectoryWithTrailingDelimiterGivesNoDoubleDelimiter) {
    TempTree t;
    t.dir("Q/sub");
    Recorder r;
    WalkTree(t.path("Q/") + "*.*", AttrAll, r);
    EXPECT_EQ(r.prefixes(), (Names{t.path("Q/"), t.path("Q/sub/")}));
}

TEST(Walker, CallbackErrorsPassThroughAndLeaveNoDescriptorOpen) {
    TempTree t;
    t.dir("X/a/b/c");
    t.file("X/a/b/c/boom");
    const int before = pelmora::test::openDescriptorCount();
    auto thrower = [](const TSearchRec& r, std::string_view) {
        if (r.Name == "boom") throw std::runtime_error("stop");
    };
    EXPECT_THROW(WalkTree(t.path("X/*.*"), AttrAll, thrower), std::runtime_error);
    EXPECT_EQ(pelmora::test::openDescriptorCount(), before);
}

TEST(Walker, ScanInsideACallbackDoesNotDisturbTheWalk) {
    TempTree t;
    t.dir("N/one/two");
    t.file("N/one/two/f");
    int inner = 0;
    Recorder r;
    auto cb = [&](const TSearchRec& rec, std::string_view prefix) {
        r(rec, prefix);
        if (rec.Name == "one")
            ScanDirectory(std::string(prefix) + "one/*.*", AttrAll,
                          [&](const TSearchRec&, std::string_view) { ++inner; });
    };
    WalkTree(t.path("N/*.*"), AttrAll, cb);
    EXPECT_EQ(inner, 3);
    ASSERT_NE(r.find("f"), nullptr);
}

TEST(Walker, TreeThreeThousandLevelsDeepIsWalkedWithinTheDescriptorLimit) {
    TempTree t;
    // Build the chain relative to descriptors: its paths are longer than PATH_MAX.
    int fd = ::open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
    }
    ::close(fd);

    // Run it in a child with a small descriptor limit.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit lim{64, 64};
        setrlimit(RLIMIT_NOFILE, &lim);
        long dirs = 0;
        const int before = pelmora::test::openDescriptorCount();
        auto cb = [&](const TSearchRec& rec, std::string_view) {
            if (rec.Name == "d") ++dirs;
        };
        WalkTree(t.root() + "/*.*", AttrAll, cb);
        _exit(dirs == 3000 && pelmora::test::openDescriptorCount() == before ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Walker, WideAndDeepTreeReopensDirectoriesItGaveUp) {
    TempTree t;
    // 80 levels, each with two branches: the walk must come back to levels whose descriptors
    // it released to stay within its budget.
    std::string p = "W";
    int expected = 0;
    for (int i = 0; i < 80; ++i) {
        t.dir(p + "/side");
        t.file(p + "/side/f");
        p += "/deep";
        t.dir(p);
        expected += 2;
    }
    long files = 0, dirs = 0;
    auto cb = [&](const TSearchRec& rec, std::string_view) {
        if (rec.Name == "f") ++files;
        if (rec.Name == "side" || rec.Name == "deep") ++dirs;
    };
    WalkTree(t.path("W/*.*"), AttrAll, cb);
    EXPECT_EQ(dirs, expected);
    EXPECT_EQ(files, 80);
}

TEST(Walker, RootWalkUsesTheRootAsPrefix) {
    if (geteuid() != 0) GTEST_SKIP() << "needs chroot";
    TempTree t;
    t.dir("SUB");
    t.file("top");
    t.file("SUB/low");
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(pipefd[0]);
        if (chroot(t.root().c_str()) != 0 || chdir("/") != 0) _exit(2);
        std::string out;
        auto cb = [&](const TSearchRec& rec, std::string_view prefix) {
            if (rec.Name.front() != '.') out += std::string(prefix) + std::string(rec.Name) + ";";
        };
        WalkTree("/*.*", AttrAll, cb);
        (void)!::write(pipefd[1], out.data(), out.size());
        _exit(0);
    }
    close(pipefd[1]);
    std::string got;
    char buf[256];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) got.append(buf, n);
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // Root entries with the prefix "/", then the subdirectory's with "/SUB/".
    const bool order1 = got == "/SUB;/top;/SUB/low;" || got == "/top;/SUB;/SUB/low;";
    EXPECT_TRUE(order1) << got;
}
