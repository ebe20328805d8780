// pelmora-cli's statuses where the world moves under it: standard output closed by its reader, a
// signal once the counting is over, the output folder renamed during an export, and report's
// statuses next to export's.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "history/History.h"
#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::namesIn;
using pelmora::test::readFile;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using pelmora::test::writeAt;

std::string readAll(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
}

// Starts pelmora-cli in `cwd` with `out` as its standard output and a pipe as its stderr, whose
// read end comes back in `err`; `ignorePipe`: with SIGPIPE ignored, as some callers leave it.
pid_t start(const std::vector<std::string>& args, const std::string& cwd, int out, int& err,
            bool ignorePipe = false) {
    int e[2];
    if (::pipe2(e, O_CLOEXEC) != 0) return -1;
    const std::string exe = pelmora::test::cliPath();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(e[1], 2);
        if (ignorePipe) ::signal(SIGPIPE, SIG_IGN);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(e[1]);
    err = e[0];
    return pid;
}

int statusOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A list naming a tree so often that its export's lines fill many pipe buffers.
std::string longList(const TempTree& t, int times) {
    fileAt(t, "tree/f", 10);
    std::string entries;
    for (int i = 0; i < times; ++i) entries += t.path("tree") + "\r\n";
    return writeAt(t, "L.PML", entries);
}

// The reader of standard output goes away (`| head -c 10`): the command stops quietly with the
// status of SIGPIPE, also where SIGPIPE is ignored, and leaves no temporary file.
TEST(CliStatus, AReaderThatGoesAwayEndsTheCommandQuietly) {
    TempTree t;
    longList(t, 20000);
    std::vector<pelmora::history::Row> rows(3000);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].entry = "/srv/d" + std::to_string(i);
    pelmora::history::recordSnapshot(t.path("L.PML"), {0, "box", t.path("L.PML"), rows});
    const std::vector<std::pair<std::vector<std::string>, bool>> commands = {
        {{"export", "-o", "-", "-j", "1", "L.PML"}, false},
        {{"export", "-o", "-", "-j", "1", "L.PML"}, true},
        {{"history", "--json", "L.PML"}, false},
        {{"history", "--csv", "L.PML"}, true},
    };
    const std::vector<std::string> before = namesIn(t.root());
    for (const auto& [args, ignorePipe] : commands) {
        SCOPED_TRACE(args[0] + " " + args[1] + (ignorePipe ? ", SIGPIPE ignored" : ""));
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        int err = -1;
        const pid_t pid = start(args, t.root(), out[1], err, ignorePipe);
        ASSERT_GT(pid, 0);
        ::close(out[1]);
        char some[10];
        EXPECT_EQ(::read(out[0], some, sizeof some), 10);
        ::close(out[0]);
        EXPECT_EQ(readAll(err), "");
        ::close(err);
        EXPECT_EQ(statusOf(pid), 128 + SIGPIPE);
        EXPECT_EQ(namesIn(t.root()), before);
    }
}

// A signal once the counting is over no longer changes the status: the snapshot is recorded
// and said to be, with status 0, so a script that retries on failure does not record it twice.
// Standard output is a full pipe, so that the program waits, its snapshot committed, in the
// write of its confirmation until the signal has come.
TEST(CliStatus, ASignalAfterTheCountingChangesNothing) {
    TempTree t;
    fileAt(t, "tree/f", 10);
    const std::string list = writeAt(t, "L.PML", t.path("tree") + "\r\n");
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC | O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    while (::write(out[1], filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(::fcntl(out[1], F_SETFL, 0), 0);  // the program's writes block
    int err = -1;
    const pid_t pid = start({"snapshot", "L.PML"}, t.root(), out[1], err);
    ASSERT_GT(pid, 0);
    ::close(out[1]);
    std::size_t snapshots = 0;
    for (int i = 0; i < 6000 && snapshots == 0; ++i) {  // up to a minute
        try {
            snapshots = pelmora::history::queryHistory(list, {}).snapshots.size();
        } catch (const pelmora::history::HistoryError&) {
            ::usleep(10000);
        }
    }
    ASSERT_EQ(snapshots, 1u);
    ::kill(pid, SIGTERM);
    const int flags = ::fcntl(out[0], F_GETFL);
    ::fcntl(out[0], F_SETFL, flags & ~O_NONBLOCK);
    const std::string shown = readAll(out[0]);
    ::close(out[0]);
    EXPECT_EQ(statusOf(pid), 0) << readAll(err);
    ::close(err);
    EXPECT_NE(shown.find("Snapshot recorded in L.history.sqlite.\n"), std::string::npos);
    EXPECT_EQ(pelmora::history::queryHistory(list, {}).snapshots.size(), 1u);
}

// The folder of the data file is renamed while the export counts: the file would land in the
// renamed folder, or nowhere. "Cannot create file" with its name, and nothing left anywhere.
TEST(CliStatus, AnOutputFolderRenamedDuringTheExportGetsNothing) {
    TempTree t;
    const std::string folder = t.dir("out");
    fileAt(t, "tree/f", 10);
    std::string entries;
    for (int i = 0; i < 20000; ++i) entries += t.path("tree") + "\r\n";
    writeAt(t, "out/L.PML", entries);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    int err = -1;
    const pid_t pid = start({"export", "-j", "1", folder + "/L.PML"}, "/", out[1], err);
    ASSERT_GT(pid, 0);
    ::close(out[1]);
    bool begun = false;  // the temporary data file is there
    for (int i = 0; i < 60000 && !begun; ++i) {
        begun = namesIn(folder).size() > 1;
        if (!begun) ::usleep(1000);
    }
    ASSERT_TRUE(begun);
    std::filesystem::rename(folder, t.path("moved"));
    EXPECT_EQ(readAll(out[0]), "");
    EXPECT_EQ(readAll(err), "pelmora-cli: Cannot create file " + folder + "/L.TXT.\n");
    ::close(out[0]);
    ::close(err);
    EXPECT_EQ(statusOf(pid), 3);
    EXPECT_EQ(namesIn(t.path("moved")), std::vector<std::string>{"L.PML"});
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// One table of statuses for every subcommand: a directory that cannot be read, or is missing, is
// named in the report as in the export, and gives 1.
TEST(CliStatus, ReportHasTheStatusesOfExport) {
    TempTree t;
    ::chmod(t.root().c_str(), 0777);
    fileAt(t, "tree/locked/x", 3);
    fileAt(t, "tree/y", 4);
    ::chmod(t.path("tree/locked").c_str(), 0700);
    const std::string list = writeAt(t, "L.PML", t.path("tree") + "\r\n\r\n");
    ::chmod(list.c_str(), 0644);
    writeAt(t, "M.PML", t.path("missing") + "\r\n");
    ::chmod(t.path("M.PML").c_str(), 0644);
    const std::string locked =
        "pelmora-cli: cannot read directory '" + t.path("tree/locked") + "': Permission denied\n";
    const std::string missing = "pelmora-cli: cannot read directory '" + t.path("missing") +
                                "': No such file or directory\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"report", "L.PML", "-o", "r.pdf"}, 1, locked},
        {{"report", "M.PML", "-o", "m.pdf"}, 1, missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const CliRun r = runCli(c.args, t.root(), [] { return pelmora::test::dropToNobody(); });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(readFile(t.path("r.pdf")).rfind("%PDF", 0), 0u);
}

}  // namespace
