// pelmora-cli export, run as its own process the way a script runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Child.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"

using namespace pelmora;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string cliPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? n : 0);
    return self.substr(0, self.rfind('/')) + "/../bin/pelmora-cli";
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, n);
    close(fd);
    return text;
}

// Runs pelmora-cli with `args` in the directory `cwd`; stderr goes to a file so that neither
// pipe can fill up while the other is read.
CliRun runCli(const std::vector<std::string>& args, const std::string& cwd) {
    const std::string errFile = cwd + "/.stderr";
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        dup2(out[1], 1);
        FILE* err = std::fopen(errFile.c_str(), "w");
        if (err) dup2(fileno(err), 2);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        const std::string exe = cliPath();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    CliRun r;
    r.out = drain(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = test::readFile(errFile);
    unlink(errFile.c_str());
    return r;
}

}  // namespace

TEST(CliExport, WritesTheDataFileBesideTheList) {
    test::TempTree dir;
    const std::string tree = dir.path("tree");
    ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
    writeFile(tree + "/one", std::string(300, '1'));
    writeFile(tree + "/two", std::string(20, '2'));
    ASSERT_EQ(mkdir((dir.path("lists")).c_str(), 0755), 0);
    const std::string gone = dir.path("gone");
    writeFile(dir.path("lists/week.pml"), gone + "\r\n" + tree + "\r\n");

    const CliRun r = runCli({"export", "--jobs", "2", "lists/week.pml"}, dir.root());
    // A missing directory gets four zeros and is named; the export is written, status 1.
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "File lists/week.TXT created.\n");
    EXPECT_EQ(r.err,
              "pelmora-cli: cannot read directory '" + gone + "': No such file or directory\n");
    const std::string data = test::readFile(dir.path("lists/week.TXT"));

    // The overhead is charged at half the cluster size of the current directory's volume
    // (0 on a compressed one).
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(dir.root().c_str(), &vfs), 0);
    const std::string full = std::to_string(2 * (vfs.f_frsize / 2));
    const std::string a = "\"" + gone + "\",0,0,0,0\r\n";
    const std::string b1 = "\"" + tree + "\",0,2,320," + full + "\r\n";
    const std::string b0 = "\"" + tree + "\",0,2,320,0\r\n";
    EXPECT_TRUE(data == a + b1 || data == a + b0) << data;
}

TEST(CliExport, SameFileWithOneJobOrMany) {
    test::TempTree dir;
    dir.dir("t/x/y");
    dir.dir("t/z");
    for (int i = 0; i < 30; ++i) dir.write("t/x/y/f" + std::to_string(i), "abc");
    writeFile(dir.path("t/z/g"), std::string(5000, 'g'));
    writeFile(dir.path("L.PML"),
              dir.path("t") + "\r\n" + dir.path("t/x") + "\n" + dir.path("t/z") + "\r\n");

    ASSERT_EQ(runCli({"export", "--jobs", "1", "L.PML"}, dir.root()).status, 0);
    const std::string one = test::readFile(dir.path("L.TXT"));
    ASSERT_EQ(runCli({"export", "--jobs=4", "L.PML"}, dir.root()).status, 0);
    EXPECT_EQ(test::readFile(dir.path("L.TXT")), one);
    EXPECT_NE(one.find("\"" + dir.path("t/z") + "\",0,1,5000,"), std::string::npos) << one;
}

// A list of a directory and everything below it, through a link and twice over: each line is
// what a count of that entry alone gives, and an unreadable folder is named for each entry
// that holds it.
TEST(CliExport, NestedEntriesGetTheLinesOfSeparateCounts) {
    test::TempTree dir;
    for (const char* d : {"t", "t/a", "t/a/b", "t/c", "t/a/b/shut"})
        ASSERT_EQ(mkdir(dir.path(d).c_str(), 0755), 0);
    writeFile(dir.path("t/f"), "12345");
    writeFile(dir.path("t/a/g"), std::string(700, 'g'));
    writeFile(dir.path("t/a/b/h"), std::string(90, 'h'));
    ASSERT_EQ(symlink(dir.path("t/a").c_str(), dir.path("t/link").c_str()), 0);
    ASSERT_EQ(chmod(dir.path("t/a/b/shut").c_str(), 0), 0);
    const std::vector<std::string> entries{dir.path("t"),   dir.path("t/a"),      dir.path("t/a/b"),
                                           dir.path("t/c"), dir.path("t/link/b"), dir.path("t/a")};
    std::string list;
    std::map<std::string, std::string> alone;  // each entry's line, counted alone
    for (const std::string& e : entries) {
        list += e + "\r\n";
        const CliRun one = runCli({"count", "--csv", e}, dir.root());
        ASSERT_FALSE(one.out.empty()) << one.err;
        alone[e] = one.out.substr(0, one.out.size() - 1) + "\r";
    }
    writeFile(dir.path("L.PML"), list);
    const CliRun r = runCli({"export", "-o", "-", "L.PML"}, dir.root());
    chmod(dir.path("t/a/b/shut").c_str(), 0755);
    std::istringstream lines(r.out);
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        const std::string entry = line.substr(1, line.find('"', 1) - 1);
        EXPECT_EQ(line, alone[entry]);
    }
    EXPECT_EQ(n, entries.size());
    if (getuid() != 0) {
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("'" + dir.path("t/link/b/shut") + "'"), std::string::npos) << r.err;
    }
}

// The peak memory (KiB) of an export by the program built without the sanitizers.
long exportPeak(const std::string& list, const std::string& cwd) {
    const std::string exe = test::plainCliPath();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0 || !freopen("/dev/null", "w", stderr)) _exit(126);
        execl(exe.c_str(), exe.c_str(), "export", "-q", list.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) > 1)
        return -1;
    return usage.ru_maxrss;
}

// A list of one line of 32 MB (a path that cannot exist): counted, named on stderr and written
// to the data file with no more than about three times its length in memory.
TEST(CliExport, AOneLineListOfManyMegabytesTakesAboutThreeTimesItsLength) {
    test::TempTree dir;
    long peak[2] = {0, 0};
    const std::size_t sizes[2] = {2u << 20, 34u << 20};
    for (int k = 0; k < 2; ++k) {
        // Made in a child, so that this process, whose size the program starts from, stays
        // small.
        const std::size_t size = sizes[k];
        ASSERT_EQ(test::inChild([&] {
                      std::string line = "/";
                      while (line.size() < size) line += "a/";
                      writeFile(dir.path("L.PML"), line + "\r\n");
                      return std::string();
                  }),
                  "");
        peak[k] = exportPeak("L.PML", dir.root());
        ASSERT_GT(peak[k], 0);
        struct stat list {
        }, data{};
        ASSERT_EQ(stat(dir.path("L.PML").c_str(), &list), 0);
        ASSERT_EQ(stat(dir.path("L.TXT").c_str(), &data), 0);
        EXPECT_EQ(data.st_size, list.st_size + 10);  // the quotes and ",0,0,0,0"
    }
    const long grown = peak[1] - peak[0];
    EXPECT_LT(grown, 35 * 1024 * 32 / 10) << "KiB for 32 MiB more";
}

TEST(CliExport, EmptyListWritesNothing) {
    test::TempTree dir;
    writeFile(dir.path("e.pml"), "");
    writeFile(dir.path("e.TXT"), "keep");
    const CliRun r = runCli({"export", "e.pml"}, dir.root());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "The list is empty.\n");
    EXPECT_EQ(test::readFile(dir.path("e.TXT")), "keep");
}

TEST(CliExport, MissingListFails) {
    test::TempTree dir;
    const CliRun r = runCli({"export", "nope.pml"}, dir.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("nope.pml"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir.path("nope.TXT")));
}

TEST(CliExport, DataFileThatCannotBeCreatedFails) {
    test::TempTree dir;
    writeFile(dir.path("L.pml"), "/tmp\r\n");
    ASSERT_EQ(mkdir((dir.path("L.TXT")).c_str(), 0755), 0);
    const CliRun r = runCli({"export", "L.pml"}, dir.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Cannot create file L.TXT"), std::string::npos) << r.err;
}

TEST(CliExport, FullDiskFails) {
    test::TempTree dir;
    const test::PrivateTmpfs full(dir.dir("full"), "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    writeFile(dir.path("full/L.pml"), dir.path("nothing-here") + "\r\n");
    ASSERT_TRUE(test::fillUp(dir.path("full/filler")));
    const CliRun r = runCli({"export", "full/L.pml"}, dir.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Disk full."), std::string::npos) << r.err;
}

TEST(CliExport, BadUsage) {
    test::TempTree dir;
    writeFile(dir.path("L.pml"), "/tmp\r\n");
    EXPECT_EQ(runCli({"export"}, dir.root()).status, 2);
    EXPECT_EQ(runCli({"export", "--jobs", "0", "L.pml"}, dir.root()).status, 2);
    EXPECT_EQ(runCli({"export", "--jobs", "many", "L.pml"}, dir.root()).status, 2);
    EXPECT_EQ(runCli({"export", "L.pml", "M.pml"}, dir.root()).status, 2);
    EXPECT_EQ(runCli({"export", "--fast", "L.pml"}, dir.root()).status, 2);
    EXPECT_FALSE(exists(dir.path("L.TXT")));
}
