// A list counted in one walk, in every mode: each entry's figures must be those of the
// reference count of its own tree, whatever encloses it, and the figures below a start those of
// the directories there.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "stats/engine.h"
#include "tests/stats/EngineTestSupport.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

using namespace enginetest;
using pelmora::stats::count;
using pelmora::stats::CountError;
using pelmora::stats::CountOptions;
using pelmora::stats::CountProgress;
using pelmora::stats::CountResult;
using pelmora::stats::ListCount;
using pelmora::test::TempTree;

namespace {

class ListCountModes : public ::testing::TestWithParam<Mode> {
  protected:
    CountOptions options() const { return GetParam().options(); }
};

// Creates the file `relative` of `size` bytes (sparse) and the directories above it.
void put(const TempTree& t, const std::string& relative, long long size = 0) {
    t.dir(relative.substr(0, relative.rfind('/')));
    t.file(relative, size);
}

std::string describe(const CountResult& r) {
    std::ostringstream os;
    os << figuresOf(r) << ", " << r.errorCount << " errors";
    for (const CountError& e : r.errors) os << " [" << e.path << " " << e.error << "]";
    return os.str();
}

// Every entry (read in the order given) against the reference count of its own tree.
void expectEachAsAlone(ListCount& list, const std::vector<std::size_t>& order) {
    for (const std::size_t i : order) {
        const Reference ref = referenceCount(std::string(list.entry(i)));
        EXPECT_EQ(figuresOf(list.result(i)), figuresOf(ref)) << list.entry(i);
        EXPECT_EQ(list.result(i).exactBytes, ref.exactBytes) << list.entry(i);
    }
}

// Runs `act` once, after the first directory a count has read (the one-thread walk: after its
// first 256 entries).
struct OnFirstProgress : CountProgress {
    std::function<void()> act;
    bool done = false;
    void add(std::int64_t n, std::uint64_t b, std::string_view path) override {
        CountProgress::add(n, b, path);
        if (!done) {
            done = true;
            act();
        }
    }
};

TEST_P(ListCountModes, NestedEntriesAreReadOnceAndEachHasTheFiguresOfItsOwnTree) {
    TempTree t;
    put(t, "T/f", 5);
    t.dir("T/a/b/c");
    put(t, "T/a/x", 10);
    put(t, "T/a/b/y", 20);
    put(t, "T/a/b/c/z", 30);
    put(t, "T/d/w", 40);
    t.dir("T/e");
    const std::string T = t.path("T");
    ListCount list({T, T + "/a", T + "/a/b", T + "/a/b/c", T + "/d", T + "/e", T + "/a/b",
                    T + "//a/./b/", T + "/missing"},
                   options());
    // Asked for first, the deepest entry is answered by the walk of the outermost one.
    EXPECT_EQ(figuresOf(list.result(3)), (Figures{0, 1, "30"}));
    EXPECT_EQ(list.walks(), 1u);
    expectEachAsAlone(list, {0, 1, 2, 4, 5, 6, 7});
    EXPECT_EQ(list.walks(), 1u);
    const CountResult& missing = list.result(8);
    EXPECT_EQ(missing.errorCount, 1);
    ASSERT_EQ(missing.errors.size(), 1u);
    EXPECT_EQ(missing.errors[0], (CountError{T + "/missing", ENOENT, 2}));
    EXPECT_EQ(list.walks(), 2u);

    // A name that sorts between a directory and the directories below it ("a-b" between "a"
    // and "a/b" byte by byte) does not hide the one around them.
    t.dir("T/a-b");
    ListCount apart({T + "/a", T + "/a-b", T + "/a/b"}, options());
    expectEachAsAlone(apart, {2, 0, 1});
    EXPECT_EQ(apart.walks(), 2u);
}

TEST_P(ListCountModes, EntriesTheEnclosingWalkDoesNotEnterHaveWalksOfTheirOwn) {
    TempTree t;
    put(t, "T/.hidden/in/f", 7);
    put(t, "T/real/sub/g", 8);
    t.symlink("T/link", t.path("T/real"));
    put(t, "U/x/h", 9);
    t.symlink("T/out", t.path("U/x"));
    put(t, "T/plain", 3);
    const std::string T = t.path("T");
    ListCount list({T, T + "/.hidden/in", T + "/link/sub", T + "/out", T + "/plain"}, options());
    expectEachAsAlone(list, {0, 1, 2, 3});
    EXPECT_EQ(list.result(4).errors, (std::vector<CountError>{{T + "/plain", ENOTDIR, 3}}));
    // The walk of T enters neither the hidden folder nor the links: each of the other four
    // entries has a walk of its own.
    EXPECT_EQ(list.walks(), 5u);
}

TEST_P(ListCountModes, UnreadableSubtreeIsAnErrorOfEveryEntryAroundItByItsOwnName) {
    TempTree t;
    ASSERT_EQ(::chmod(t.root().c_str(), 0755), 0);
    put(t, "T/a/b/locked/secret", 100);
    put(t, "T/a/b/open", 1);
    ASSERT_EQ(::chmod(t.path("T/a/b/locked").c_str(), 0700), 0);
    const std::string T = t.path("T");
    const std::vector<std::string> entries{T, T + "/./a", T + "/a/b/"};
    const std::vector<std::string> names{T + "/a/b/locked", T + "/./a/b/locked", T + "/a/b/locked"};
    const CountOptions o = options();
    EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                  if (!pelmora::test::dropToNobody()) return "could not drop privileges";
                  ListCount list(entries, o);
                  for (std::size_t i = 0; i < entries.size(); ++i) {
                      const CountResult& r = list.result(i);
                      const Reference ref = referenceCount(entries[i], [&](const std::string& p) {
                          return p.find("locked") == std::string::npos;
                      });
                      if (!(figuresOf(r) == figuresOf(ref)) || r.errorCount != 1 ||
                          r.errors.size() != 1 || !(r.errors[0] == CountError{names[i], EACCES, 5}))
                          return entries[i] + ": " + describe(r);
                  }
                  return list.walks() == 1 ? "" : "walks: " + std::to_string(list.walks());
              }));
}

TEST_P(ListCountModes, EntryThatIsAMountPointBelowItsParentIsCountedOnItsOwnVolume) {
    TempTree t;
    put(t, "T/top", 5);
    t.dir("T/mnt");
    const std::string T = t.path("T");
    const CountOptions o = options();
    const std::string result = pelmora::test::inChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0) return "SKIP unshare: " + std::string(strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (T + "/mnt").c_str(), "tmpfs", 0, "size=1m") != 0)
            return "SKIP mount: " + std::string(strerror(errno));
        put(t, "T/mnt/inside/f", 99);
        ListCount list({T, T + "/mnt"}, o);
        const CountResult& inner = list.result(1);
        const Reference alone = referenceCount(T + "/mnt");
        if (alone.files != 1 || !(figuresOf(inner) == figuresOf(alone)))
            return "mount: " + describe(inner);
        // The parent counts the mount point as one directory and does not enter it.
        const CountResult& outer = list.result(0);
        if (outer.directories != 1 || outer.files != 1) return "parent: " + describe(outer);
        return list.walks() == 2 ? "" : "walks: " + std::to_string(list.walks());
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
}

TEST_P(ListCountModes, EntryThatVanishesDuringTheWalkIsMissingAsItsOwnCountWouldFindIt) {
    TempTree t;
    for (int i = 0; i < 300; ++i) put(t, "T/f" + std::to_string(i), 1);
    put(t, "T/v/inner/x", 50);
    const std::string T = t.path("T");
    OnFirstProgress gone;
    gone.act = [&] { pelmora::test::removeTree(T + "/v"); };
    CountOptions o = options();
    o.progress = &gone;
    ListCount list({T, T + "/v"}, o);
    EXPECT_EQ(list.result(0).files, 300);
    const CountResult& v = list.result(1);
    EXPECT_TRUE(gone.done);
    EXPECT_EQ(figuresOf(v), (Figures{0, 0, "0"})) << describe(v);
    EXPECT_EQ(v.errors, (std::vector<CountError>{{T + "/v", ENOENT, 2}}));
}

TEST_P(ListCountModes, ParentAboveTwoToTheFortyAndChildrenBelowItEachRoundAsAlone) {
    TempTree t;
    const long long tib = 1LL << 40;
    t.dir("T/a/inner");
    t.dir("T/z");
    try {
        put(t, "T/a/big", tib - 3);
        put(t, "T/z/huge", tib + 1);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no sparse files of a terabyte here: " << e.what();
    }
    for (int i = 0; i < 5; ++i) {
        put(t, "T/a/inner/one" + std::to_string(i), 1);
        put(t, "T/m/three" + std::to_string(i), 3);
        put(t, "T/odd" + std::to_string(i), 2 * i + 1);
    }
    const std::string T = t.path("T");
    ASSERT_NE(referenceCount(T).foldedBytes, referenceCount(T).exactBytes);
    ListCount list({T, T + "/a", T + "/a/inner", T + "/m", T + "/z"}, options());
    expectEachAsAlone(list, {4, 3, 2, 1, 0});
}

TEST_P(ListCountModes, FiguresBelowEachStartAreThoseOfTheDirectoriesThere) {
    TempTree t;
    t.dir("T/a");
    t.write("T/a/data", std::string(5000, 'x'));
    put(t, "T/a/p/q/deep", 3);
    put(t, "T/a/p/f", 7);
    put(t, "T/b/g", 11);
    t.dir("T/.hidden/skipped");
    ASSERT_EQ(::link(t.path("T/a/data").c_str(), t.path("T/a/p/again").c_str()), 0);
    const std::string T = t.path("T");
    CountOptions o = options();
    o.depth = 2;
    o.allocated = true;
    ListCount list({T, T + "/a/"}, o);
    for (std::size_t i = 0; i < 2; ++i) {
        const Reference ref = referenceCount(std::string(list.entry(i)));
        std::vector<std::pair<std::string, int>> expected;
        for (const auto& [path, depth] : ref.entered) {
            if (depth <= 2) expected.emplace_back(path, depth);
        }
        const CountResult& r = list.result(i);
        ASSERT_EQ(r.below.size(), expected.size()) << list.entry(i);
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const pelmora::stats::DirFigures& d = r.below[k];
            // The reference names directories below "T/a/" as "T/a//p".
            std::string want = expected[k].first;
            if (const auto at = want.find("//"); at != std::string::npos) want.erase(at, 1);
            EXPECT_EQ(d.path, want);
            EXPECT_EQ(static_cast<int>(d.depth), expected[k].second) << d.path;
            const Reference alone = referenceCount(d.path);
            EXPECT_EQ((Figures{d.directories, d.files, d.byteTotal.toFixed0()}), figuresOf(alone))
                << d.path;
            EXPECT_EQ(d.exactBytes, alone.exactBytes) << d.path;
            EXPECT_EQ(d.allocatedBytes, alone.allocated) << d.path;
        }
    }
    EXPECT_EQ(list.walks(), 1u);
    EXPECT_TRUE(count(T, options()).below.empty());  // only when asked for
}

// pelmora-cli count's own choices: names beginning with '.' counted too, those left out that
// hold data told of, and patterns that leave entries out.
TEST_P(ListCountModes, HiddenNamesCountedOrToldOfAndExclusionsLeftOut) {
    TempTree t;
    put(t, "T/.conf/.deep/f", 40);
    put(t, "T/.data", 5);
    put(t, "T/.empty", 0);
    put(t, "T/sub/.cache", 9);
    put(t, "T/sub/a.o", 100);
    put(t, "T/sub/a.c", 10);
    put(t, "T/skip/inside", 1000);
    put(t, "T/build/x.tmp", 7);
    put(t, "T/other/x.tmp", 8);
    const std::string T = t.path("T");

    CountOptions all = options();
    all.hidden = true;
    ReferenceRules withHidden;
    withHidden.hidden = true;
    EXPECT_EQ(figuresOf(count(T, all)), figuresOf(referenceCount(T, {}, withHidden)));

    CountOptions told = options();
    told.noteHidden = true;
    ListCount list({T, T + "/sub"}, told);
    // .conf and .data hold data, .empty does not; sub/.cache does.
    EXPECT_EQ(list.result(0).hiddenLeftOut, 3);
    EXPECT_EQ(list.result(1).hiddenLeftOut, 1);
    EXPECT_EQ(figuresOf(list.result(0)), figuresOf(referenceCount(T)));
    EXPECT_EQ(count(T, options()).hiddenLeftOut, 0);  // only when asked for

    const pelmora::stats::Exclusion patterns({"*.o", "skip", "build/*.tmp"});
    CountOptions excluding = options();
    excluding.exclude = &patterns;
    ReferenceRules leftOut;
    leftOut.leaveOut = [&](const std::string& p) {
        return p.ends_with(".o") || p == T + "/skip" || p == T + "/build/x.tmp";
    };
    const CountResult r = count(T, excluding);
    EXPECT_EQ(figuresOf(r), figuresOf(referenceCount(T, {}, leftOut)));
    EXPECT_EQ(r.files, 2);  // sub/a.c and other/x.tmp: nothing of skip, nor build/x.tmp

    // A hidden name left out by a pattern is not told of.
    const pelmora::stats::Exclusion dotData({".data"});
    told.exclude = &dotData;
    EXPECT_EQ(count(T, told).hiddenLeftOut, 2);
}

// A folder that may be listed but not searched, holding only names beginning with '.': those
// are left out whether they can be looked at or not, so the count has no error.
TEST_P(ListCountModes, HiddenNamesThatCannotBeLookedAtAreNoError) {
    TempTree t;
    ASSERT_EQ(::chmod(t.root().c_str(), 0755), 0);
    put(t, "T/.only", 3);
    ASSERT_EQ(::chmod(t.path("T").c_str(), 0744), 0);
    CountOptions told = options();
    told.noteHidden = true;
    const std::string T = t.path("T");
    EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                  if (!pelmora::test::dropToNobody()) return "could not drop privileges";
                  const CountResult r = count(T, told);
                  return r.errorCount == 0 && r.files == 0 ? "" : describe(r);
              }));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ListCountModes, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return std::string(info.param.name);
                         });

// The one-thread walk holds its own request: a second count started in the middle of a first
// one, on another thread, changes neither's figures.
TEST(CountsAtOnce, ACountInTheMiddleOfAnotherLeavesBothTheirFigures) {
    TempTree t;
    for (int i = 0; i < 400; ++i) put(t, "A/a/f" + std::to_string(i), 2);
    put(t, "B/b/c/g", 7);
    put(t, "B/h", 3);
    CountResult inner;
    OnFirstProgress midway;
    CountOptions one;
    one.jobs = 1;
    midway.act = [&] { std::thread([&] { inner = count(t.path("B"), one); }).join(); };
    CountOptions first = one;
    first.progress = &midway;
    const CountResult outer = count(t.path("A"), first);
    ASSERT_TRUE(midway.done);
    EXPECT_EQ(figuresOf(outer), figuresOf(referenceCount(t.path("A"))));
    EXPECT_EQ(figuresOf(inner), figuresOf(referenceCount(t.path("B"))));
}

TEST(ThreadedCount, StartsMoreThreadsWhenThereIsWorkForThem) {
    TempTree t;
    for (int i = 0; i < 8; ++i) put(t, "W/d" + std::to_string(i) + "/f", i);
    CountOptions o;
    for (const unsigned jobs : {1u, 4u}) {
        o.jobs = jobs;
        const CountResult r = count(t.path("W"), o);
        EXPECT_EQ(figuresOf(r), figuresOf(referenceCount(t.path("W"))));
        if (jobs == 1)
            EXPECT_EQ(r.threads, 1u);
        else
            EXPECT_GE(r.threads, 2u);
    }
}

// A directory replaced after its parent was read and before it is opened: the new one is not
// the directory that was listed, and nothing in it is counted.
TEST(ThreadedCount, DirectoryReplacedBeforeItIsOpenedIsAnErrorNotAnotherTree) {
    for (const Mode& mode : kModes) {
        if (mode.jobs < 2) continue;
        TempTree t;
        put(t, "T/a/old", 1);
        put(t, "T/b/f", 2);
        const std::string T = t.path("T");
        OnFirstProgress swap;
        swap.act = [&] {
            ASSERT_EQ(::rename((T + "/a").c_str(), (t.root() + "/moved").c_str()), 0);
            for (int i = 0; i < 5; ++i) put(t, "T/a/intruder" + std::to_string(i), 1000);
        };
        CountOptions o = mode.options();
        o.progress = &swap;
        const CountResult r = count(T, o);
        struct stat a {
        }, b{};
        ASSERT_EQ(::stat((t.root() + "/moved").c_str(), &a), 0);
        ASSERT_EQ(::stat((T + "/b").c_str(), &b), 0);
        // a and b as the start directory listed them, and b's file.
        const long long bytes = a.st_size + b.st_size + 2;
        EXPECT_EQ(figuresOf(r), (Figures{2, 1, std::to_string(bytes)})) << mode.name;
        EXPECT_EQ(r.errors, (std::vector<CountError>{{T + "/a", ENOENT, 2}})) << mode.name;
    }
}

}  // namespace
