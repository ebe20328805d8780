// The replacement writer: the order of its flushes and rename, what happens when its folder
// moves or goes while it writes, and the signals it can be shielded from.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/replacefile.h"
#include "tests/support/TempTree.h"

using namespace pelmora::platform;
using pelmora::test::namesIn;
using pelmora::test::TempTree;

namespace {

std::vector<std::string> g_steps;
ino_t g_folder = 0;

int recordFsync(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    g_steps.push_back(!S_ISDIR(st.st_mode)    ? "fsync file"
                      : st.st_ino == g_folder ? "fsync folder"
                                              : "fsync another folder");
    return ::fsync(fd);
}

int recordRename(const char* from, const char* to) {
    g_steps.push_back("rename");
    return ::rename(from, to);
}

TEST(ReplacementFile, FlushesTheFileThenRenamesThenFlushesItsFolder) {
    TempTree t;
    const std::string dir = t.dir("out");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    g_folder = st.st_ino;
    g_steps.clear();
    const FileOps& sys = systemFileOps();
    const FileOps ops{sys.write, recordFsync, sys.close, recordRename};
    ReplacementFile file(dir + "/data.TXT", ops);
    file.write("line\r\n");
    file.commit();
    EXPECT_EQ(g_steps, (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
    EXPECT_EQ(pelmora::test::readFile(dir + "/data.TXT"), "line\r\n");
}

TEST(ReplacementFile, AFolderThatMovesOrGoesWhileItWritesGetsNothingAnywhere) {
    const std::vector<std::pair<const char*, std::function<void(const TempTree&)>>> cases = {
        {"renamed",
         [](const TempTree& t) { std::filesystem::rename(t.path("out"), t.path("moved")); }},
        {"renamed, and another made in its place",
         [](const TempTree& t) {
             std::filesystem::rename(t.path("out"), t.path("moved"));
             t.dir("out");
         }},
        {"removed with what it held",
         [](const TempTree& t) { std::filesystem::remove_all(t.path("out")); }},
    };
    for (const auto& [what, move] : cases) {
        SCOPED_TRACE(what);
        TempTree t;
        t.dir("out");
        const std::string path = t.path("out/L.TXT");
        std::string error;
        {
            ReplacementFile file(path);
            file.write("\"/a\",1,2,3,4\r\n");
            move(t);
            try {
                file.commit();
            } catch (const PelmoraError& e) {
                error = e.what();
            }
        }
        EXPECT_EQ(error, "Cannot create file " + path);
        EXPECT_FALSE(std::filesystem::exists(t.path("moved/L.TXT")));
        // Nothing in the moved folder nor in one made in its place (none when it is gone).
        EXPECT_EQ(namesIn(t.path("moved")), std::vector<std::string>{});
        EXPECT_EQ(namesIn(t.path("out")), std::vector<std::string>{});
    }
}

// An export abandoned (an error, an interrupt) after its folder was renamed: the temporary file
// goes from where the folder went.
TEST(ReplacementFile, AnAbandonedWriterFindsItsTemporaryFileWhereTheFolderWent) {
    TempTree t;
    t.dir("out");
    {
        ReplacementFile file(t.path("out/L.TXT"));
        file.write("partial");
        std::filesystem::rename(t.path("out"), t.path("moved"));
    }
    EXPECT_EQ(namesIn(t.path("moved")), std::vector<std::string>{});
}

int g_delivered = 0;
extern "C" void count(int) {
    ++g_delivered;
}

TEST(HeldSignals, ASignalThatComesMeanwhileTakesEffectWhenTheHoldEnds) {
    const sigset_t set = terminatingSignals();
    for (const int sig : {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                          SIGXCPU, SIGXFSZ, SIGRTMIN, SIGRTMAX})
        EXPECT_EQ(sigismember(&set, sig), 1) << sig;
    for (const int sig : {SIGSEGV, SIGQUIT, SIGABRT, SIGCHLD, SIGKILL, SIGSTOP, SIGCONT})
        EXPECT_EQ(sigismember(&set, sig), 0) << sig;

    struct sigaction action {
    }, previous{};
    action.sa_handler = count;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    g_delivered = 0;
    {
        const HeldSignals held;
        EXPECT_FALSE(HeldSignals::pending());
        ::raise(SIGUSR1);
        EXPECT_EQ(g_delivered, 0);
        EXPECT_TRUE(HeldSignals::pending());
    }
    EXPECT_EQ(g_delivered, 1);
    EXPECT_FALSE(HeldSignals::pending());
    sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
