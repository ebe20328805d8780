// The progress line of count: on a terminal's stderr it is shown and erased again; on a pipe, and
// with --quiet, nothing is written to stderr. No timing is assumed: the line is shown at the start.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/progress.h"
#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::fileAt;
using pelmora::test::TempTree;

struct PtyRun {
    int status = -1;
    std::string terminal;  // what the child wrote on the terminal (its stderr)
    std::string out;       // its stdout, a pipe
};

// Runs pelmora-cli with stderr (and stdin) on a pseudo-terminal and stdout on a pipe.
PtyRun runOnTerminal(const std::vector<std::string>& args) {
    int outPipe[2];
    if (::pipe(outPipe) != 0) return {};
    struct winsize ws {};
    ws.ws_col = 60;
    ws.ws_row = 24;
    int master = -1;
    const std::string exe = pelmora::test::cliPath();
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &ws);
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    PtyRun r;
    char buf[4096];
    for (ssize_t n; (n = ::read(outPipe[0], buf, sizeof buf)) > 0;) r.out.append(buf, n);
    ::close(outPipe[0]);
    // The terminal reports EIO once the child and its descendants closed it.
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) r.terminal.append(buf, n);
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    return r;
}

TEST(CliProgress, ShownAndErasedOnATerminalOnly) {
    TempTree t;
    fileAt(t, "a/b/one", 1000);
    fileAt(t, "a/two", 2000);
    const std::string stdoutWanted = pelmora::test::runCli({"count", "--csv", t.root()}, "/").out;
    ASSERT_NE(stdoutWanted, "");

    const PtyRun shown = runOnTerminal({"count", "--csv", t.root()});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, stdoutWanted);
    EXPECT_NE(shown.terminal.find("\r0 entries, 0 bytes  " + t.root()), std::string::npos)
        << shown.terminal;
    const std::string erase = "\r\033[K";
    ASSERT_GE(shown.terminal.size(), erase.size());
    EXPECT_EQ(shown.terminal.substr(shown.terminal.size() - erase.size()), erase);

    const PtyRun quiet = runOnTerminal({"count", "--csv", "-q", t.root()});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, stdoutWanted);
    EXPECT_EQ(quiet.terminal, "");

    const pelmora::test::CliRun piped = pelmora::test::runCli({"count", t.root()}, "/");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
}

TEST(CliProgress, TextFitsTheWidthAndKeepsTheDirectorysEnd) {
    using pelmora::cli::progressText;
    EXPECT_EQ(progressText(1234, 5678901, "/d", 80, ','), "1,234 entries, 5,678,901 bytes  /d");
    const std::string cut = progressText(1, 10, "/very/long/path/to/the/end", 40, ',');
    EXPECT_EQ(cut, "1 entry, 10 bytes  ...g/path/to/the/end");
    EXPECT_EQ(cut.size(), 39u);
    // Control bytes are not sent to the terminal; a character is never split.
    EXPECT_EQ(progressText(0, 0, "/a\nb\033", 80, ','), "0 entries, 0 bytes  /a?b?");
    EXPECT_EQ(progressText(0, 0, "/\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 26, ','),
              "0 entries, 0 bytes  ...\xC3\xA9\xC3\xA9");
}

}  // namespace
