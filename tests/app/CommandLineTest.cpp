// The command line: token rules, the arguments as the desktop passes them, the batch list name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "tests/support/TempTree.h"

using pelmora::app::batchListName;
using pelmora::app::findBatchList;
using pelmora::app::programArguments;
using pelmora::app::splitCommandLine;
using Tokens = std::vector<std::string>;

namespace {

Tokens argumentsOf(std::vector<std::string> argv) {
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    return programArguments(static_cast<int>(argv.size()), raw.data());
}

}  // namespace

// ---- one command-line text ----------------------------------------------------------------

TEST(SplitCommandLine, SpacesAndControlCharactersSeparate) {
    EXPECT_EQ(splitCommandLine("prog mylist"), (Tokens{"prog", "mylist"}));
    EXPECT_EQ(splitCommandLine("  prog\t\x01\x1f  a   b \r\n"), (Tokens{"prog", "a", "b"}));
    EXPECT_EQ(splitCommandLine(""), Tokens{});
    EXPECT_EQ(splitCommandLine(" \t "), Tokens{});
}

TEST(SplitCommandLine, BytesAbove127AreOrdinaryCharacters) {
    EXPECT_EQ(splitCommandLine("prog caf\xc3\xa9 \xff"), (Tokens{"prog", "caf\xc3\xa9", "\xff"}));
}

TEST(SplitCommandLine, QuotedStretchKeepsSpaces) {
    EXPECT_EQ(splitCommandLine("prog \"my list\""), (Tokens{"prog", "my list"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(splitCommandLine("prog \"my list  "), (Tokens{"prog", "my list  "}));
}

TEST(SplitCommandLine, TouchingStretchesFormOneToken) {
    EXPECT_EQ(splitCommandLine("ab\"c d\"e"), Tokens{"abc de"});
    EXPECT_EQ(splitCommandLine("x a\"\"b y"), (Tokens{"x", "ab", "y"}));
}

TEST(SplitCommandLine, AdjacentQuotePairsBetweenTokensAreSkipped) {
    EXPECT_EQ(splitCommandLine("prog \"\""), Tokens{"prog"});
    EXPECT_EQ(splitCommandLine("prog \"\" mylist"), (Tokens{"prog", "mylist"}));
    EXPECT_EQ(splitCommandLine("prog \"\"\"\"mylist"), (Tokens{"prog", "mylist"}));
    EXPECT_EQ(splitCommandLine("prog \"\"\"a b\""), (Tokens{"prog", "a b"}));
}

TEST(SplitCommandLine, CountStopsAtTheFirstEmptyToken) {
    // A lone quote collects nothing: the tokens end there even though text follows.
    EXPECT_EQ(splitCommandLine("prog \"\"\""), Tokens{"prog"});
    EXPECT_EQ(splitCommandLine("prog a \""), (Tokens{"prog", "a"}));
}

TEST(SplitCommandLine, ByteZeroEndsTheLine) {
    EXPECT_EQ(splitCommandLine(std::string_view("prog a\0b c", 10)), (Tokens{"prog", "a"}));
}

// ---- argv as the desktop passes it --------------------------------------------------------

TEST(ProgramArguments, CountsTheArgumentsAfterTheProgram) {
    EXPECT_EQ(argumentsOf({"pelmora"}), Tokens{});
    EXPECT_EQ(argumentsOf({"pelmora", "mylist"}), Tokens{"mylist"});
    EXPECT_EQ(argumentsOf({"pelmora", "a", "b"}), (Tokens{"a", "b"}));
}

TEST(ProgramArguments, ArgumentWithASpaceStaysOne) {
    // What the shell passes for "my list" typed between double quotes.
    EXPECT_EQ(argumentsOf({"pelmora", "my list"}), Tokens{"my list"});
    // Quotes that reach the program still open stretches and are dropped.
    EXPECT_EQ(argumentsOf({"pelmora", "\"my list\""}), Tokens{"my list"});
    EXPECT_EQ(argumentsOf({"pelmora", "ab\"c d\"e"}), Tokens{"abc de"});
}

TEST(ProgramArguments, EmptyArgumentEndsTheCount) {
    EXPECT_EQ(argumentsOf({"pelmora", ""}), Tokens{});
    EXPECT_EQ(argumentsOf({"pelmora", "\"\""}), Tokens{});
    EXPECT_EQ(argumentsOf({"pelmora", "  \t"}), Tokens{});
    EXPECT_EQ(argumentsOf({"pelmora", "", "mylist"}), Tokens{});
    EXPECT_EQ(argumentsOf({"pelmora", "mylist", "", "other"}), Tokens{"mylist"});
}

TEST(ProgramArguments, LeadingBlanksAndQuotePairsAreSkipped) {
    EXPECT_EQ(argumentsOf({"pelmora", "  mylist"}), Tokens{"mylist"});
    EXPECT_EQ(argumentsOf({"pelmora", "\"\"mylist"}), Tokens{"mylist"});
}

TEST(ProgramArguments, LongArgumentIsKeptWhole) {
    const std::string name(1000, 'n');
    EXPECT_EQ(argumentsOf({"pelmora", name}), Tokens{name});
}

// ---- the batch list name ------------------------------------------------------------------

TEST(BatchListName, ExampleRows) {
    const std::string dir = "/opt/tools/";
    EXPECT_EQ(batchListName(dir, "mylist"), "/opt/tools/MYLIST.PML");
    EXPECT_EQ(batchListName(dir, "mylist.txt"), "/opt/tools/MYLIST.PML");
    EXPECT_EQ(batchListName(dir, "a.b.c"), "/opt/tools/A.B.PML");
    EXPECT_EQ(batchListName(dir, "my list"), "/opt/tools/MY LIST.PML");
    EXPECT_EQ(batchListName(dir, "sub/week"), "/opt/tools/SUB/WEEK.PML");
}

TEST(BatchListName, OnlyAToZAreUpperCased) {
    EXPECT_EQ(batchListName("/p/", "caf\xc3\xa9-\xe4x_1"), "/p/CAF\xc3\xa9-\xe4X_1.PML");
    EXPECT_EQ(batchListName("/p/", "MiXeD"), "/p/MIXED.PML");
}

TEST(BatchListName, ExtensionIsTakenAfterTheLastSlashOnly) {
    EXPECT_EQ(batchListName("/p/", "dir.d/name"), "/p/DIR.D/NAME.PML");
    EXPECT_EQ(batchListName("/p/", "dir.d/name.x"), "/p/DIR.D/NAME.PML");
    EXPECT_EQ(batchListName("/p/", "name."), "/p/NAME.PML");
    EXPECT_EQ(batchListName("/p/", ".hidden"), "/p/.PML");
}

TEST(BatchListName, IsPlainConcatenation) {
    // An absolute argument is not resolved: it is appended to the program directory.
    EXPECT_EQ(batchListName("/opt/tools/", "/lists/x"), "/opt/tools//LISTS/X.PML");
    EXPECT_EQ(batchListName("/opt/tools/", "../up"), "/opt/tools/../UP.PML");
}

// ---- finding the batch run's list whatever its case ---------------------------------------

TEST(FindBatchList, TheUpperCasedNameFirstElseTheOneFileNamedLikeItButForCase) {
    struct Case {
        std::vector<std::string> files;  // below the folder; a trailing '/' makes a directory
        const char* argument;
        const char* found;  // relative to the folder
    } cases[] = {
        {{"WEEKLY.PML"}, "weekly", "WEEKLY.PML"},
        {{"weekly.PML"}, "weekly", "weekly.PML"},  // what Save As "weekly" writes
        {{"Weekly.pml"}, "weekly", "Weekly.pml"},
        {{"weekly.PML", "WEEKLY.PML"}, "weekly", "WEEKLY.PML"},
        // Two candidates and no exact name: none is meant, the run reports the upper-cased one.
        {{"weekly.PML", "Weekly.pml"}, "weekly", "WEEKLY.PML"},
        {{"weekly.pml/"}, "weekly", "WEEKLY.PML"},               // a directory is no list
        {{"weekly.pml.bak", "weekly"}, "weekly", "WEEKLY.PML"},  // the whole name counts
        {{"\xc3\x9c"
          "bersicht.pml"},
         "\xc3\xbc"
         "bersicht",
         "\xc3\x9c"
         "bersicht.pml"},                             // U+00DC, U+00FC
        {{"caf\xe9.pml"}, "caf\xe9", "caf\xe9.pml"},  // not UTF-8: its ASCII letters
        {{"SUB/week.pml"}, "sub/week", "SUB/week.pml"},
    };
    for (const Case& c : cases) {
        pelmora::test::TempTree tree;
        tree.dir("prog/SUB");
        for (const std::string& f : c.files) {
            if (f.back() == '/')
                tree.dir("prog/" + f);
            else
                tree.write("prog/" + f, "/a\r\n");
        }
        const std::string folder = tree.path("prog/");
        EXPECT_EQ(findBatchList({folder}, c.argument), folder + c.found) << c.files.front();
    }
}

// ---- the whole way from a typed line to the list name -------------------------------------

TEST(CommandLineToListName, TypedLinesGiveTheExpectedListOrNone) {
    struct Row {
        const char* line;
        const char* listName;  // nullptr: not exactly one argument, interactive
    };
    const Row rows[] = {
        {"prog", nullptr},
        {"prog mylist", "/t/MYLIST.PML"},
        {"prog mylist.txt", "/t/MYLIST.PML"},
        {"prog a.b.c", "/t/A.B.PML"},
        {"prog \"my list\"", "/t/MY LIST.PML"},
        {"prog sub/week", "/t/SUB/WEEK.PML"},
        {"prog a b", nullptr},
        {"prog \"\"", nullptr},
    };
    for (const Row& row : rows) {
        const Tokens tokens = splitCommandLine(row.line);
        ASSERT_FALSE(tokens.empty()) << row.line;
        const std::size_t count = tokens.size() - 1;
        if (row.listName == nullptr) {
            EXPECT_NE(count, 1u) << row.line;
        } else {
            ASSERT_EQ(count, 1u) << row.line;
            EXPECT_EQ(batchListName("/t/", tokens[1]), row.listName) << row.line;
        }
    }
}
