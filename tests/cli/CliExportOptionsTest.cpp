// pelmora-cli export: --output, --disk-usage in the data file, unreadable directories, and
// SIGINT or SIGTERM in the middle of a large export.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Child.h"
#include "tests/cli/CliTree.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::readFile;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using pelmora::test::writeAt;

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

TEST(CliExport, OutputGoesWhereItIsToldAndDiskUsageAddsASixthField) {
    TempTree t;
    writeAt(t, "tree/f", std::string(5000, 'x'));
    const std::string list = writeAt(t, "L.PML", t.path("tree") + "\r\n\r\n");
    const CliRun count = runCli({"count", "--csv", "--disk-usage", "-j1", "tree"}, t.root());
    ASSERT_EQ(count.status, 0) << count.err;
    const std::string allocated = count.out.substr(count.out.rfind(',') + 1);

    const CliRun file = runCli({"export", "--output", "other.csv", "L.PML"}, t.root());
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_EQ(file.out, "File other.csv created.\n");
    EXPECT_EQ(namesIn(t.root()), (std::set<std::string>{"L.PML", "other.csv", "tree"}));
    const std::string plain = readFile(t.path("other.csv"));
    // The list keeps its entries sorted: the empty one comes first, with four zeros.
    const std::string treeLine = "\"" + t.path("tree") + "\",0,1,5000,";
    ASSERT_EQ(plain.rfind("\"\",0,0,0,0\r\n" + treeLine, 0), 0u) << plain;

    const CliRun piped = runCli({"export", "-o", "-", "-j2", "L.PML"}, t.root());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, plain);
    EXPECT_EQ(piped.err, "");

    const CliRun du = runCli({"export", "--disk-usage", "L.PML"}, t.root());
    ASSERT_EQ(du.status, 0) << du.err;
    const std::string lines = readFile(t.path("L.TXT"));
    const std::string overhead = plain.substr(plain.rfind(',') + 1);  // with its CR LF
    EXPECT_EQ(lines, "\"\",0,0,0,0,0\r\n" + treeLine + overhead.substr(0, overhead.size() - 2) +
                         "," + allocated.substr(0, allocated.size() - 1) + "\r\n");
}

TEST(CliExport, UnreadableDirectoriesAreNamedAndTheDataFileIsWritten) {
    TempTree t;
    ::chmod(t.root().c_str(), 0777);
    fileAt(t, "tree/locked/x", 3);
    fileAt(t, "tree/y", 4);
    ::chmod(t.path("tree/locked").c_str(), 0700);
    const std::string list = writeAt(t, "L.PML", t.path("tree") + "\r\n");
    ::chmod(list.c_str(), 0644);
    const CliRun r = runCli({"export", "-o", "-", "L.PML"}, t.root(),
                            [] { return pelmora::test::dropToNobody(); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelmora-cli: cannot read directory '" + t.path("tree/locked") +
                         "': Permission denied\n");
    EXPECT_EQ(r.out.rfind("\"" + t.path("tree") + "\",1,1,", 0), 0u) << r.out;
}

// A list naming a tree so many times that its export runs for minutes: the signal is sent
// once the temporary data file exists, and always finds the export counting. SIGINT and SIGTERM
// with one thread and three; every other signal that would end the program, with --history (no
// snapshot is recorded then either).
TEST(CliExport, AnInterruptLeavesThePreviousDataFileAndNoTemporaryFile) {
    TempTree t;
    for (int d = 0; d < 50; ++d)
        for (int f = 0; f < 20; ++f)
            fileAt(t, "tree/d" + std::to_string(d) + "/f" + std::to_string(f), f);
    std::string entries;
    for (int i = 0; i < 20000; ++i) entries += t.path("tree") + "\r\n";
    writeAt(t, "L.PML", entries);
    const std::string previous = "\"/earlier\",1,2,3,4\r\n";
    writeAt(t, "L.TXT", previous);
    const std::set<std::string> before = namesIn(t.root());

    struct Case {
        int sig;
        const char* jobs;
        const char* history;  // "--history", or "-q" for none
    };
    std::vector<Case> cases;
    for (const int sig : {SIGINT, SIGTERM})
        for (const char* jobs : {"1", "3"}) cases.push_back({sig, jobs, "-q"});
    for (const int sig : {SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGXFSZ})
        cases.push_back({sig, "1", "--history"});
    for (const auto& [sig, jobs, history] : cases) {
        const int status = 128 + sig;
        SCOPED_TRACE(std::to_string(sig) + " jobs " + jobs + " " + history);
        const std::string exe = pelmora::test::cliPath();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(t.root().c_str()) != 0) ::_exit(126);
            ::execl(exe.c_str(), exe.c_str(), "export", history, "-j", jobs, "L.PML", nullptr);
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        int wstatus = 0;
        bool ended = false;
        while (!ended && namesIn(t.root()).size() == before.size()) {
            ended = ::waitpid(pid, &wstatus, WNOHANG) == pid;
            ::usleep(1000);
        }
        ASSERT_FALSE(ended) << "the export ended before its data file was begun";
        ::kill(pid, sig);
        ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
        ASSERT_TRUE(WIFEXITED(wstatus));
        EXPECT_EQ(WEXITSTATUS(wstatus), status);
        EXPECT_EQ(namesIn(t.root()), before);
        EXPECT_EQ(readFile(t.path("L.TXT")), previous);
    }
}

}  // namespace
