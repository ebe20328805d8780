// Options as getopt_long takes them: the option parser against a table, then the forms of
// --help, prefixes and their faults as pelmora-cli answers them.
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli/options.h"
#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::cli::OptionDef;
using pelmora::cli::ParsedOptions;
using pelmora::cli::parseOptions;
using pelmora::test::CliRun;
using pelmora::test::runCli;
using Args = std::vector<std::string>;
using Taken = std::vector<std::pair<int, std::string>>;

enum { kJobs = 1, kQuiet, kDisk, kTop, kTopLevel, kHistory, kOutput, kColour, kHuman };

constexpr OptionDef kTable[] = {
    {"jobs", 'j', true, kJobs},
    {"quiet", 'q', false, kQuiet},
    {"disk-usage", '\0', false, kDisk},
    {"top", '\0', true, kTop},
    {"top-level", '\0', false, kTopLevel},
    {"history", '\0', false, kHistory},
    {"output", 'o', true, kOutput},
    {"colour", '\0', true, kColour},
    {"color", '\0', true, kColour},  // two names of one option
};
// A table that gives -h a meaning of its own, as du's -h.
constexpr OptionDef kHumanTable[] = {{"human-readable", 'h', false, kHuman}};

struct Case {
    Args args;
    std::string error;
    bool help;
    Taken options;
    Args operands;
};

void expectParsed(std::span<const OptionDef> table, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string what;
        for (const std::string& a : c.args) what += a + " ";
        SCOPED_TRACE(what);
        ParsedOptions parsed;
        EXPECT_EQ(parseOptions(c.args, table, parsed), c.error);
        EXPECT_EQ(parsed.help, c.help);
        EXPECT_EQ(parsed.options, c.options);
        EXPECT_EQ(parsed.operands, c.operands);
    }
}

TEST(CliOptions, ParsesAsGetoptLong) {
    const std::vector<Case> cases = {
        // Unique prefixes, exact names before the names they begin, aliases of one option.
        {{"--disk", "D"}, "", false, {{kDisk, ""}}, {"D"}},
        {{"--top", "5"}, "", false, {{kTop, "5"}}, {}},
        {{"--top-l"}, "", false, {{kTopLevel, ""}}, {}},
        {{"--to", "5"},
         "option '--to' is ambiguous; possibilities: '--top' '--top-level'",
         false,
         {},
         {}},
        {{"--col", "red"}, "", false, {{kColour, "red"}}, {}},
        {{"--j=4", "--jo", "2"}, "", false, {{kJobs, "4"}, {kJobs, "2"}}, {}},
        // Faults name the option by its full name; the first fault in order is reported.
        {{"--j"}, "option '--jobs' needs a value", false, {}, {}},
        {{"--qui=x"}, "option '--quiet' takes no value", false, {}, {}},
        {{"-q", "--bogus", "--help"}, "unknown option '--bogus'", false, {{kQuiet, ""}}, {}},
        {{"--=x"}, "unknown option '--=x'", false, {}, {}},
        {{"-qz"}, "unknown option '-z'", false, {{kQuiet, ""}}, {}},
        {{"-o"}, "option '-o' needs a value", false, {}, {}},
        // --help: every prefix that names it alone, and -h; parsing stops there.
        {{"--h"}, "option '--h' is ambiguous; possibilities: '--history' '--help'", false, {}, {}},
        {{"x", "--he", "--bogus"}, "", true, {}, {"x"}},
        {{"-qh", "-j"}, "", true, {{kQuiet, ""}}, {}},
        {{"-j", "--help"}, "", false, {{kJobs, "--help"}}, {}},  // a value, as getopt takes it
        // Short forms, bundles, operands anywhere, "--" and a lone "-".
        {{"a", "-qj4", "b", "-o-", "-j", "-1"},
         "",
         false,
         {{kQuiet, ""}, {kJobs, "4"}, {kOutput, "-"}, {kJobs, "-1"}},
         {"a", "b"}},
        {{"-", "--", "--jobs", "-q"}, "", false, {}, {"-", "--jobs", "-q"}},
        {{"--output", "caf\xe9 \"x\",y"}, "", false, {{kOutput, "caf\xe9 \"x\",y"}}, {}},
    };
    expectParsed(kTable, cases);
}

TEST(CliOptions, AShortHOfTheTableIsNotHelp) {
    const std::vector<Case> cases = {
        {{"-h"}, "", false, {{kHuman, ""}}, {}},
        {{"--h"},
         "option '--h' is ambiguous; possibilities: '--human-readable' '--help'",
         false,
         {},
         {}},
        {{"--help"}, "", true, {}, {}},
    };
    expectParsed(kHumanTable, cases);
}

TEST(CliOptions, EveryFormOfHelpPrintsItWithStatusZero) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"help", "--help"}, "usage: pelmora-cli help [COMMAND]\n"},
        {{"help", "-h"}, "usage: pelmora-cli help [COMMAND]\n"},
        {{"--he"}, "usage: pelmora-cli count"},
        {{"count", "--hel"}, "usage: pelmora-cli count [OPTIONS] DIR..."},
        {{"export", "-qh"}, "usage: pelmora-cli export [OPTIONS] LIST"},
        {{"history", "--h", "L.PML"}, "usage: pelmora-cli history [OPTIONS] LIST"},
        {{"report", "L.PML", "--help", "-o"}, "usage: pelmora-cli report LIST -o FILE.pdf"},
    };
    for (const auto& [args, head] : cases) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const CliRun r = runCli(args, "/");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    const CliRun version = runCli({"--vers"}, "/");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("pelmora-cli ", 0), 0u);
}

TEST(CliOptions, PrefixesCountAsTheirOptionAndAmbiguityIsRefused) {
    pelmora::test::TempTree t;
    pelmora::test::fileAt(t, "D/a/f", 1234);
    const CliRun full = runCli({"count", "--csv", "--disk-usage", "--jobs=1", "D"}, t.root());
    ASSERT_EQ(full.status, 0) << full.err;
    const CliRun prefixed = runCli({"count", "--cs", "--disk", "--jo=1", "D"}, t.root());
    EXPECT_EQ(prefixed.status, 0) << prefixed.err;
    EXPECT_EQ(prefixed.out, full.out);

    const std::vector<std::pair<Args, std::string>> refused = {
        {{"export", "--h", "L.PML"},
         "pelmora-cli: export: option '--h' is ambiguous; possibilities: '--history' '--help'\n"},
        {{"count", "--j=1", "D"},
         "pelmora-cli: count: option '--j' is ambiguous; possibilities: '--jobs' '--json'\n"},
        {{"count", "--bogus", "--help"}, "pelmora-cli: count: unknown option '--bogus'\n"},
        {{"help", "--bogus"}, "pelmora-cli: help: unknown option '--bogus'\n"},
        {{"--bogus"}, "pelmora-cli: unknown option '--bogus'; run 'pelmora-cli --help'\n"},
    };
    for (const auto& [args, message] : refused) {
        SCOPED_TRACE(args.back());
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
    }
}

}  // namespace
