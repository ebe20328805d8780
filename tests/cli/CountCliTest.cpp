// pelmora-cli count, run as a separate process the way scripts use it.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/TempTree.h"

using pelmora::test::TempTree;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs build/bin/pelmora-cli with `args` (bytes, no shell) and LC_ALL=C.UTF-8.
CliRun runCli(const std::vector<std::string>& args) {
    const std::string exe = pelmora::platform::programDirectory() + "../bin/pelmora-cli";
    int out[2], err[2];
    CliRun r;
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("LC_ALL", "C.UTF-8", 1);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    std::array<char, 4096> buf;
    ssize_t n;
    while ((n = read(out[0], buf.data(), buf.size())) > 0) r.out.append(buf.data(), n);
    while ((n = read(err[0], buf.data(), buf.size())) > 0) r.err.append(buf.data(), n);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

TEST(CountCli, PrintsTheFourStatsLinesPerDirectory) {
    TempTree t;
    t.dir("D/e1");
    t.file("D/a", 1234567);
    const CliRun r = runCli({"count", "--jobs", "1", t.path("D")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string dirLine = t.path("D") + "\n";
    ASSERT_EQ(r.out.rfind(dirLine, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nTotal Directories 1\nTotal Files 1\nTotal Bytes "), std::string::npos);
    EXPECT_NE(r.out.find("\nCluster Overhead "), std::string::npos);
    EXPECT_TRUE(r.err.empty());
}

TEST(CountCli, CsvLinesAreDataFileLinesEndingInLf) {
    TempTree t;
    t.dir("D");
    t.file("D/a", 950);
    const CliRun r = runCli({"count", "--csv", "--jobs", "1", t.path("D"), t.path("missing")});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::string first = "\"" + t.path("D") + "\",0,1,950,";
    ASSERT_EQ(r.out.rfind(first, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n\"" + t.path("missing") + "\",0,0,0,0\n"), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.err, "pelmora-cli: cannot read directory '" + t.path("missing") +
                         "': No such file or directory\n");
}

TEST(CountCli, PathBytesAreKeptAndQuotesDoubled) {
    TempTree t;
    const std::string odd = "we\"ird, \xff\xfe name";
    t.dir(odd);
    t.file(odd + "/f", 3);
    const CliRun r = runCli({"count", "--csv", "--jobs", "1", t.path(odd)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\"" + t.root() + "/we\"\"ird, \xff\xfe name\",0,1,3," +
                         r.out.substr(r.out.rfind(',') + 1));
}

TEST(CountCli, SeveralJobsGiveTheSameFigures) {
    TempTree t;
    for (int i = 0; i < 20; ++i) {
        t.dir("D/d" + std::to_string(i) + "/x");
        t.file("D/d" + std::to_string(i) + "/x/f", i * 1000);
        t.file("D/d" + std::to_string(i) + "/.hidden", 5);
    }
    const CliRun one = runCli({"count", "--csv", "--jobs", "1", t.path("D")});
    const CliRun two = runCli({"count", "--csv", "--jobs", "2", t.path("D")});
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(one.out, two.out);
}

TEST(CountCli, BadUsageExitsWithTwoAndOneLine) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"count"},
                                                 {"count", "--jobs", "0", "/"},
                                                 {"count", "--bogus", "/"},
                                                 {"frobnicate"}}) {
        const CliRun r = runCli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}
