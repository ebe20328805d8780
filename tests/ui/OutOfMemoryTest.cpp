// Memory that runs out: at every allocation of an export and of a list load in turn (the list
// save shares the export's writer), in the window's commands, and for pelmora-cli under a
// lowered address-space limit. Out of
// memory is an error, never a crash; the previous data file and list file stay whole and no
// temporary file is left.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "tests/support/Child.h"
#include "tests/ui/FailingAllocations.h"
#include "tests/support/ExportList.h"
#include "tests/support/TempTree.h"
#include "tests/ui/ShellFixture.h"

using namespace pelmora;
using test::namesIn;
using test::writeBytes;
using Lines = std::vector<std::string>;

namespace {

const std::string kPrevious = "\"/previous\",1,2,3,4\r\n";

// Runs `op` with the n-th allocation failing, for n = 1, 2, ... until `op` gets through without
// reaching the failure; `setup` runs before each attempt, `check(failed)` after it says what is
// wrong ("" when nothing). Returns the first problem, or "" once every allocation has failed
// once (an operation that allocates next to nothing is a problem too: then nothing was
// tried).
std::string failEachAllocationInTurn(const std::function<void()>& setup,
                                     const std::function<void()>& op,
                                     const std::function<std::string(bool)>& check) {
    for (long n = 1; n < 100000; ++n) {
        bool threw = false;
        bool reached = false;
        setup();
        {
            const test::AllocationFailure failure(test::AllocationFailure::Nth{n});
            try {
                op();
            } catch (const std::bad_alloc&) {
                threw = true;
            } catch (const platform::PelmoraError&) {
                threw = true;  // e.g. "Unable to insert a line"
            }
            reached = test::allocationFailed();
        }
        if (!reached)
            return n > 3 ? check(false) : "only " + std::to_string(n - 1) + " allocations";
        // A shortage may be met by a slower way (a load sorts without its keys): then the
        // result must be complete all the same.
        if (std::string problem = check(threw); !problem.empty())
            return "allocation " + std::to_string(n) + ": " + problem;
    }
    return "too many allocations";
}

TEST(OutOfMemory, AtAnyAllocationTheExportKeepsThePreviousDataFile) {
    test::TempTree t;
    t.dir("tree/a");
    t.file("tree/a/f", 10);
    const std::string list = t.write("L.PML", "");
    const std::string data = t.write("L.TXT", kPrevious);
    const Lines entries = {t.path("tree"), t.path("tree/a"), ""};
    std::string complete;
    const std::string problem = failEachAllocationInTurn(
        [] {}, [&] { test::exportList(entries, data, list, stats::EntryOverhead); },
        [&](bool failed) -> std::string {
            if (namesIn(t.root()) != Lines{"L.PML", "L.TXT", "tree"}) return "a stray file";
            const std::string now = test::readFile(data);
            if (failed) return now == kPrevious ? "" : "the previous data file changed: " + now;
            return now.rfind("\"" + t.path("tree") + "\",1,1,", 0) == 0 ? "" : "wrote " + now;
        });
    EXPECT_EQ(problem, "");
}

TEST(OutOfMemory, AtAnyAllocationALoadLeavesTheListAsItWas) {
    test::TempTree t;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "/d" + std::to_string(i * 7 % 40) + (i % 9 ? "" : "\xFF") + "\r\n";
    const std::string path = t.write("L.PML", text);
    list::WatchedList expected;
    list::loadList(expected, path);
    list::WatchedList l;
    const std::string problem = failEachAllocationInTurn(
        [&] {
            l.clear();
            l.add("/kept");
        },
        [&] { list::loadList(l, path); },
        [&](bool failed) -> std::string {
            if (failed) return l.entries() == Lines{"/kept"} ? "" : "the list changed";
            return l.entries() == expected.entries() ? "" : "loaded wrongly";
        });
    EXPECT_EQ(problem, "");
}

// The window: a command that runs out of memory ends in the error box; the files on disk stay
// as they were and the window goes on.
class OutOfMemoryWindow : public test::ShellTest {};

TEST_F(OutOfMemoryWindow, CommandsShowTheErrorBoxAndKeepTheFiles) {
    createForm();
    const std::string listPath =
        tree.write("W.PML", tree.dir("d") + "\r\n" + std::string(100000, 'x') + "\r\n");
    const std::string listBytes = test::readFile(listPath);
    const std::string data = tree.write("W.TXT", kPrevious);
    struct Case {
        const char* what;
        std::size_t from;  // allocations of this size or more fail
        std::function<void()> run;
    };
    // Open last: it empties the list before it reads the file, as it always does.
    const std::vector<Case> cases = {
        {"Create Data File", 60000, [&] { form->CreateDataFile->trigger(); }},
        {"Save", 60000, [&] { form->Save1->trigger(); }},
        {"Open", 100000,
         [&] {
             dialogs.answerFile(listPath);
             form->Open1->trigger();
         }},
    };
    list::ListModified = false;
    list::ListFileName = listPath;
    form->watchedList().add(tree.path("d"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.clear();
        {
            const test::AllocationFailure failure(test::AllocationFailure::From{c.from});
            c.run();
        }
        EXPECT_EQ(dialogs.errors(), Lines{"Out of memory"});
        EXPECT_TRUE(dialogs.callsOf(test::DialogCall::Kind::Notice).empty());
        EXPECT_EQ(test::readFile(listPath), listBytes);
        EXPECT_EQ(test::readFile(data), kPrevious);
        EXPECT_EQ(namesIn(tree.root()), (Lines{"W.PML", "W.TXT", "d", "prog", "work"}));
    }
    // With memory again, the same commands go through.
    dialogs.answerFile(listPath);
    form->Open1->trigger();
    EXPECT_EQ(form->watchedList().count(), 2);
    dialogs.clear();
    form->CreateDataFile->trigger();
    EXPECT_TRUE(dialogs.errors().empty());
    EXPECT_NE(test::readFile(data), kPrevious);
}

// ---- pelmora-cli under a lowered address-space limit -----------------------------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

test::CliRun runLimited(const std::vector<std::string>& args, const std::string& cwd,
                        rlim_t bytes) {
    return test::runProgram(test::plainCliPath(), args, cwd, [bytes] {
        const rlimit limit{bytes, bytes};
        return ::setrlimit(RLIMIT_AS, &limit) == 0;
    });
}

// Too little to start at all: the loader could not map a library, or the C++ run-time could
// not even set aside its memory for exceptions (it then ends the program at the first one).
bool loaderFailed(const test::CliRun& r) {
    return r.err.find("error while loading shared libraries") != std::string::npos ||
           r.err.starts_with("terminate called without an active exception");
}

TEST(OutOfMemory, PelmoraCliSaysSoAndKeepsThePreviousDataFile) {
    if (kSanitized && test::plainCliPath() == test::cliPath())
        GTEST_SKIP() << "no pelmora-cli without sanitizers in this build";
    test::TempTree t;
    t.dir("tree/a");
    t.file("tree/a/f", 10);
    // A list of 4 MB: loading it needs some megabytes more than starting up.
    std::string text;
    for (int i = 0; text.size() < 4'000'000; ++i)
        text +=
            t.path("missing/") + std::to_string(i * 7919 % 100000) + std::string(60, 'p') + "\r\n";
    text += t.path("tree") + "\r\n";
    const std::string list = t.write("L.PML", text);
    const std::string data = t.path("L.TXT");

    // The missing directories are named on stderr and make the status 1; the data file is
    // written all the same.
    const test::CliRun free = runLimited({"export", "--jobs", "1", list}, t.root(), RLIM_INFINITY);
    ASSERT_EQ(free.status, 1) << free.err.substr(0, 200);
    const std::string complete = test::readFile(data);

    // The smallest limit under which the export goes through, to the MiB.
    constexpr rlim_t kMiB = 1 << 20;
    rlim_t lo = 1, hi = 4096;  // MiB
    while (lo < hi) {
        const rlim_t mid = (lo + hi) / 2;
        if (runLimited({"export", "--jobs", "1", list}, t.root(), mid * kMiB).status == 1)
            hi = mid;
        else
            lo = mid + 1;
    }
    ASSERT_LT(lo, 4096u) << "the export never went through";

    // From well below that (where the load runs short) to above it, every outcome.
    int outOfMemory = 0, succeeded = 0;
    for (rlim_t mib = lo > 24 ? lo - 24 : 1; mib <= lo + 4; mib += 2) {
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        writeBytes(data, kPrevious);
        const test::CliRun r = runLimited({"export", "--jobs", "1", list}, t.root(), mib * kMiB);
        if (loaderFailed(r)) {  // not the program's doing, and nothing is touched
            EXPECT_EQ(test::readFile(data), kPrevious);
            continue;
        }
        if (r.status == 1) {
            ++succeeded;
            EXPECT_EQ(test::readFile(data), complete);
        } else {
            ++outOfMemory;
            EXPECT_EQ(r.status, 3);
            EXPECT_TRUE(r.err.ends_with("pelmora-cli: out of memory\n")) << r.err.substr(0, 200);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(test::readFile(data), kPrevious);
        }
        EXPECT_EQ(namesIn(t.root()), (Lines{"L.PML", "L.TXT", "tree"}));
        // The count, one thread, at the same limit: its figures, the same message, or too
        // little to start.
        const test::CliRun c =
            runLimited({"count", "--jobs", "1", t.path("tree")}, t.root(), mib * kMiB);
        if (loaderFailed(c) || c.status == 0) continue;
        EXPECT_EQ(c.status, 3);
        EXPECT_EQ(c.err, "pelmora-cli: out of memory\n");
    }
    EXPECT_GT(outOfMemory, 0);
    EXPECT_GT(succeeded, 0);
}

}  // namespace
