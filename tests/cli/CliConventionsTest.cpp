// pelmora-cli's conventions, the same for every subcommand: --version, help, the forms of
// options, one-line usage errors with status 2, and stdout written in full or status 3.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pelmora/version.h"
#include "tests/support/Child.h"
#include "tests/cli/CliTree.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using pelmora::test::writeAt;
using Args = std::vector<std::string>;

TEST(CliConventions, VersionAndHelpGoToStdoutWithStatusZero) {
    for (const char* flag : {"--version", "-V"}) {
        const CliRun r = runCli({flag}, "/");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, std::string("pelmora-cli ") + PELMORA_VERSION + "\n");
        EXPECT_EQ(r.err, "");
    }
    const std::vector<std::pair<Args, std::string>> helps = {
        {{"--help"}, "usage: pelmora-cli count"},
        {{"help"}, "usage: pelmora-cli count"},
        {{"help", "count"}, "usage: pelmora-cli count [OPTIONS] DIR..."},
        {{"count", "--help"}, "usage: pelmora-cli count [OPTIONS] DIR..."},
        {{"export", "-h"}, "usage: pelmora-cli export [OPTIONS] LIST"},
        {{"snapshot", "--help"}, "usage: pelmora-cli snapshot [OPTIONS] LIST"},
        {{"history", "--csv", "--help"}, "usage: pelmora-cli history [OPTIONS] LIST"},
        {{"help", "report"}, "usage: pelmora-cli report LIST -o FILE.pdf"},
    };
    for (const auto& [args, head] : helps) {
        SCOPED_TRACE(args.back());
        const CliRun r = runCli(args, "/");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\nExit status:\n  0 "), std::string::npos);
        EXPECT_NE(r.out.find("\n  3    the work failed"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliConventions, EveryFormOfAnOptionGivesTheSameResult) {
    TempTree t;
    for (int i = 0; i < 6; ++i) fileAt(t, "D/s" + std::to_string(i) + "/f", 100 * i + 1);
    fileAt(t, "-odd/x", 7);  // a directory whose name looks like an option
    const CliRun base = runCli({"count", "--csv", "--jobs", "1", "D"}, t.root());
    ASSERT_EQ(base.status, 0) << base.err;
    for (const Args& args :
         {Args{"count", "--csv", "-j", "3", "D"}, Args{"count", "--csv", "-j3", "D"},
          Args{"count", "--jobs=3", "D", "--csv"}, Args{"count", "-qj2", "--csv", "D"},
          Args{"count", "--csv", "--", "D"}}) {
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 0) << args[2] << ": " << r.err;
        EXPECT_EQ(r.out, base.out) << args[2];
    }
    const CliRun dashed = runCli({"count", "--csv", "-j1", "--", "-odd"}, t.root());
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_EQ(dashed.out.rfind("\"-odd\",0,1,7,", 0), 0u) << dashed.out;
}

TEST(CliConventions, BadUsageIsOneLineAndStatusTwo) {
    TempTree t;
    const std::string list = writeAt(t, "L.PML", "");
    const std::vector<Args> cases = {
        {},
        {"count"},
        {"count", "--jobs", "0", "/"},
        {"count", "-j"},
        {"count", "--bogus", "/"},
        {"count", "-z", "/"},
        {"count", "--csv=yes", "/"},
        {"count", "--csv", "--json", "/"},
        {"export"},
        {"export", list, list},
        {"export", "--jobs=many", list},
        {"snapshot", "--output", "x", list},
        {"history"},
        {"history", "--since", "yesterday", list},
        {"history", "--until", "2026-02-30", list},
        {"history", "--top", "0", list},
        {"history", "--csv", "--json", list},
        {"history", "--since", "2026-03-01", "--until", "2026-02-01", list},
        {"help", "frobnicate"},
        {"frobnicate"},
    };
    for (const Args& args : cases) {
        std::string what;
        for (const std::string& a : args) what += a + " ";
        SCOPED_TRACE(what);
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("pelmora-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST(CliConventions, StdoutThatCannotBeWrittenGivesThree) {
    TempTree t;
    fileAt(t, "D/f", 10);
    const std::string list = writeAt(t, "L.PML", t.path("D") + "\r\n");
    const auto toFull = [] {
        const int fd = ::open("/dev/full", O_WRONLY);
        return fd >= 0 && ::dup2(fd, 1) == 1;
    };
    for (const Args& args :
         {Args{"count", "D"}, Args{"count", "--json", "D"},
          Args{"export", "--output", "-", "L.PML"}, Args{"--version"}, Args{"help", "count"}}) {
        SCOPED_TRACE(args.back());
        const CliRun r = runCli(args, t.root(), toFull);
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "pelmora-cli: cannot write to standard output: No space left on device\n");
    }
}

}  // namespace
