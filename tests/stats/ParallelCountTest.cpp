// The threaded count must give CountTree's figures on every kind of tree, with any number of
// threads and any descriptor budget, and leave no descriptor open.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "stats/counting.h"
#include "stats/engine.h"
#include "tests/support/TempTree.h"

using namespace pelmora::stats;
using pelmora::test::openDescriptorCount;
using pelmora::test::TempTree;

namespace {

struct Figures {
    std::int64_t dirs = 0;
    std::int64_t files = 0;
    std::string bytes = "0";
    bool operator==(const Figures&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Figures& f) {
    return os << f.dirs << " dirs, " << f.files << " files, " << f.bytes << " bytes";
}

Figures figures(const TDirStats& s) {
    return {s.DirCount, s.FileCount, s.ByteTotal.toFixed0()};
}

// The counting engine with `jobs` threads (and a descriptor budget), as DirStats would hold it.
TDirStats threaded(const std::string& dir, unsigned jobs,
                   std::optional<std::size_t> budget = std::nullopt) {
    CountOptions options;
    options.jobs = jobs;
    options.descriptorBudget = budget;
    return dirStatsOf(count(dir, options));
}

Figures serialCount(const std::string& dir) {
    CountTree(dir);
    return figures(DirStats);
}

// What a count must find: the entries a test declares as counted, each looked at with lstat.
class Expected {
  public:
    explicit Expected(const TempTree& tree) : m_tree(tree) {}
    void add(const std::string& relative) { m_paths.push_back(relative); }
    Figures figures() const {
        Figures f;
        __int128 bytes = 0;
        for (const std::string& p : m_paths) {
            struct stat st {};
            EXPECT_EQ(::lstat(m_tree.path(p).c_str(), &st), 0) << p;
            bytes += st.st_size;
            if (S_ISDIR(st.st_mode))
                ++f.dirs;
            else
                ++f.files;
        }
        f.bytes = Real48::fromInt(static_cast<std::int64_t>(bytes)).toFixed0();
        return f;
    }

  private:
    const TempTree& m_tree;
    std::vector<std::string> m_paths;
};

// Builds a chain of `depth` directories named "d" below `top` relative to descriptors (its
// paths may be longer than PATH_MAX). Each level holds a file "f" of `level` bytes and, with
// `sides`, a directory "s" with one file "g". Returns the figures a count of `top` must give.
Figures buildChain(const std::string& top, int depth, bool sides) {
    Figures f;
    __int128 bytes = 0;
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_EQ(::ftruncate(file, level), 0);
        ::close(file);
        ++f.files;
        bytes += level;
        if (sides) {
            EXPECT_EQ(::mkdirat(fd, "s", 0755), 0);
            const int g = ::openat(fd, "s/g", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            EXPECT_EQ(::ftruncate(g, 3), 0);
            ::close(g);
            ++f.files;
            ++f.dirs;
            struct stat st {};
            ::fstatat(fd, "s", &st, AT_SYMLINK_NOFOLLOW);
            bytes += st.st_size + 3;
        }
        EXPECT_EQ(::mkdirat(fd, "d", 0755), 0);
        struct stat st {};
        ::fstatat(fd, "d", &st, AT_SYMLINK_NOFOLLOW);
        bytes += st.st_size;
        ++f.dirs;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0) ::close(fd);
    f.bytes = Real48::fromInt(static_cast<std::int64_t>(bytes)).toFixed0();
    return f;
}

const unsigned kJobs[] = {1, 2, 4};

}  // namespace

TEST(ParallelCount, MixedTreeGivesTheExpectedFiguresWithAnyNumberOfThreads) {
    TempTree t;
    Expected want(t);
    t.dir("T/.hidden/inner");
    for (const char* d : {"T/a", "T/a/b", "T/a/b/c", "T/empty", "T/e2", "T/a/b/c/empty"}) {
        t.dir(d);
        want.add(d);
    }
    for (int i = 0; i < 40; ++i) {
        const std::string f = "T/a/b/file" + std::to_string(i);
        t.file(f, i * 37);
        want.add(f);
    }
    t.file("T/zero");
    want.add("T/zero");
    t.file("T/a/big", 3LL << 30);  // more than 32 bits, counted whole
    want.add("T/a/big");
    // Dot names: neither counted nor entered, whatever is inside.
    t.file("T/.hidden/one", 11);
    t.file("T/.hidden/inner/two", 22);
    t.file("T/a/.profile", 500);
    t.symlink("T/.dotlink", "a");
    // Links count as files of their own length and are never followed, a loop included.
    t.symlink("T/loop", ".");
    t.symlink("T/a/up", "..");
    t.symlink("T/to-dir", "a/b");
    t.symlink("T/dangling", "nowhere");
    for (const char* l : {"T/loop", "T/a/up", "T/to-dir", "T/dangling"}) want.add(l);
    ASSERT_EQ(::mkfifo(t.path("T/e2/pipe").c_str(), 0644), 0);
    want.add("T/e2/pipe");
    // A name that is not UTF-8 is entered like any other.
    const std::string odd = "T/\xff\xfe-caf\xe9";
    t.dir(odd);
    want.add(odd);
    t.file(odd + "/in\x80side", 5);
    want.add(odd + "/in\x80side");

    const Figures expected = want.figures();
    EXPECT_EQ(expected.dirs, 7);
    EXPECT_EQ(expected.files, 48);
    EXPECT_EQ(serialCount(t.path("T")), expected);
    for (unsigned jobs : kJobs) {
        const int before = openDescriptorCount();
        EXPECT_EQ(figures(threaded(t.path("T"), jobs)), expected) << jobs << " jobs";
        EXPECT_EQ(figures(threaded(t.path("T") + "/", jobs)), expected);
        EXPECT_EQ(openDescriptorCount(), before) << jobs << " jobs";
    }
}

TEST(ParallelCount, LeavesDirStatsAlone) {
    TempTree t;
    t.dir("T");
    t.file("T/x", 9);
    t.dir("U");
    t.file("U/y", 1);
    CountTree(t.path("U"));
    const Figures before = figures(DirStats);
    EXPECT_EQ(figures(threaded(t.path("T"), 2)), (Figures{0, 1, "9"}));
    EXPECT_EQ(figures(DirStats), before);
}

TEST(ParallelCount, NothingToCountGivesZeros) {
    TempTree t;
    t.dir("empty");
    t.file("plain", 10);
    t.dir("dots/.a");
    t.file("dots/.b", 3);
    for (unsigned jobs : kJobs) {
        const int before = openDescriptorCount();
        EXPECT_EQ(figures(threaded("", jobs)), Figures{});
        EXPECT_EQ(figures(threaded(t.path("missing"), jobs)), Figures{});
        EXPECT_EQ(figures(threaded(t.path("plain"), jobs)), Figures{});
        EXPECT_EQ(figures(threaded(t.path("empty"), jobs)), Figures{});
        EXPECT_EQ(figures(threaded(t.path("dots"), jobs)), Figures{});
        EXPECT_EQ(openDescriptorCount(), before);
    }
}

TEST(ParallelCount, StartDirectoryGivenThroughALinkIsCountedLikeTheWalkDoes) {
    TempTree t;
    t.dir("real/sub");
    t.file("real/a", 4);
    t.file("real/sub/b", 6);
    t.symlink("link", "real");
    const Figures expected = serialCount(t.path("link"));
    EXPECT_EQ(expected.files, 2);
    for (unsigned jobs : kJobs) EXPECT_EQ(figures(threaded(t.path("link"), jobs)), expected);
}

TEST(ParallelCount, ChainThreeThousandLevelsDeepIsCountedInFullWithFewDescriptors) {
    TempTree t;
    const std::string top = t.dir("C");
    const Figures expected = buildChain(top, 3000, false);
    ASSERT_EQ(expected.dirs, 3000);
    EXPECT_EQ(serialCount(top), expected);
    for (unsigned jobs : kJobs) {
        const int before = openDescriptorCount();
        EXPECT_EQ(figures(threaded(top, jobs)), expected) << jobs << " jobs";
        EXPECT_EQ(openDescriptorCount(), before) << jobs << " jobs";
    }
    // In a child with a small descriptor limit: one descriptor per level would run out long
    // before the bottom.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int before = openDescriptorCount();
        rlimit lim{static_cast<rlim_t>(before + 24), static_cast<rlim_t>(before + 24)};
        ::setrlimit(RLIMIT_NOFILE, &lim);
        bool ok = true;
        for (unsigned jobs : kJobs) ok = ok && figures(threaded(top, jobs)) == expected;
        ::_exit(ok && openDescriptorCount() == before ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ParallelCount, DirectoriesThatGaveUpTheirDescriptorAreReachedAgain) {
    // Every level has two subdirectories, so a level waits for its second one while the first
    // is walked; with a tiny budget most levels must be reopened from an ancestor.
    TempTree t;
    const std::string top = t.dir("W");
    const Figures expected = buildChain(top, 150, true);
    ASSERT_EQ(expected.dirs, 300);
    EXPECT_EQ(serialCount(top), expected);
    for (std::size_t budget : {0, 1, 3, 1000}) {
        for (unsigned jobs : kJobs) {
            const int before = openDescriptorCount();
            EXPECT_EQ(figures(threaded(top, jobs, budget)), expected)
                << jobs << " jobs, budget " << budget;
            EXPECT_EQ(openDescriptorCount(), before) << jobs << " jobs, budget " << budget;
        }
    }
}

TEST(ParallelCount, WideTreeMatchesTheSingleThreadedCount) {
    // Enough directories that several threads really share the work.
    TempTree t;
    const std::string top = t.dir("Wide");
    for (int a = 0; a < 12; ++a) {
        for (int b = 0; b < 12; ++b) {
            const std::string d = "Wide/a" + std::to_string(a) + "/b" + std::to_string(b);
            t.dir(d);
            for (int f = 0; f < 5; ++f) t.file(d + "/f" + std::to_string(f), a * 1000 + b * 10 + f);
            if (b % 5 == 0) t.file(d + "/.skip", 99999);
        }
    }
    const Figures expected = serialCount(top);
    EXPECT_EQ(expected.dirs, 12 + 144);
    EXPECT_EQ(expected.files, 720);
    for (unsigned jobs : {1u, 2u, 4u, 8u})
        EXPECT_EQ(figures(threaded(top, jobs)), expected) << jobs << " jobs";
}
