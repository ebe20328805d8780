// pelmora-cli count below its DIRs: -d with --sort and --top as CSV lines, a table and nested
// JSON; hidden entries told of; --all, --exclude and -x reach the count.
#include <sys/stat.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

Lines lines(const std::string& text) {
    Lines v;
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        v.push_back(text.substr(from, nl - from));
    return v;
}

// count's CSV lines for `args` in `cwd`, without their last field (the overhead).
Lines rows(const Args& args, const std::string& cwd) {
    Args all = {"count", "--csv"};
    all.insert(all.end(), args.begin(), args.end());
    const CliRun r = runCli(all, cwd);
    EXPECT_EQ(r.status, 0) << r.err;
    Lines v = lines(r.out);
    for (std::string& l : v) l.erase(l.rfind(','));
    return v;
}

long long sizeOf(const TempTree& t, const std::string& relative) {
    struct stat st {};
    return ::lstat(t.path(relative).c_str(), &st) == 0 ? st.st_size : -1;
}

// Subdirectories whose order differs by every key: by bytes zbig, mid, asmall; by files mid,
// zbig, asmall; by directories asmall, zbig, mid; by name asmall, mid, zbig.
struct Tree {
    TempTree t;
    Tree() {
        ::chmod(t.root().c_str(), 0755);
        fileAt(t, "D/zbig/x", 500000);
        fileAt(t, "D/zbig/sub/y", 100);
        for (const char* m : {"m1", "m2", "m3"}) fileAt(t, std::string("D/mid/") + m, 30000);
        t.dir("D/asmall/a");
        t.dir("D/asmall/b");
        fileAt(t, "D/asmall/z", 10);
        fileAt(t, "D/top", 3);
    }
};

std::string row(const std::string& path, int dirs, int files, long long bytes) {
    return "\"" + path + "\"," + std::to_string(dirs) + "," + std::to_string(files) + "," +
           std::to_string(bytes);
}

TEST(CliCountDepth, EachDirectoryWithItsOwnFiguresInTheOrderAsked) {
    const Tree tree;
    const TempTree& t = tree.t;
    const long long sub = sizeOf(t, "D/zbig/sub"), a = sizeOf(t, "D/asmall/a"),
                    b = sizeOf(t, "D/asmall/b");
    const long long all =
        590113 + sizeOf(t, "D/zbig") + sizeOf(t, "D/mid") + sizeOf(t, "D/asmall") + sub + a + b;
    EXPECT_EQ(
        rows({"-d", "2", "D"}, t.root()),
        (Lines{row("D", 6, 7, all), row("D/zbig", 1, 2, 500100 + sub), row("D/zbig/sub", 0, 1, 100),
               row("D/mid", 0, 3, 90000), row("D/asmall", 2, 1, 10 + a + b),
               row("D/asmall/a", 0, 0, 0), row("D/asmall/b", 0, 0, 0)}));

    const std::vector<std::pair<Args, Lines>> orders = {
        {{"--sort", "files"}, {"D", "mid", "zbig", "zbig/sub", "asmall", "asmall/a", "asmall/b"}},
        {{"--sort", "dirs"}, {"D", "asmall", "asmall/a", "asmall/b", "zbig", "zbig/sub", "mid"}},
        {{"--sort", "name"}, {"D", "asmall", "asmall/a", "asmall/b", "mid", "zbig", "zbig/sub"}},
        {{"--top", "1"}, {"D", "zbig", "zbig/sub"}},
        {{"--top", "1", "--sort", "files"}, {"D", "mid"}},
        // With name, the largest by bytes are kept, then listed by name.
        {{"--top", "2", "--sort", "name"}, {"D", "mid", "zbig", "zbig/sub"}},
    };
    for (const auto& [options, paths] : orders) {
        Args args = {"-d", "2", "D"};
        args.insert(args.begin(), options.begin(), options.end());
        Lines got;
        for (const std::string& r : rows(args, t.root())) {
            const std::string path = r.substr(1, r.find("\",") - 1);
            got.push_back(path == "D" ? path : path.substr(2));
        }
        EXPECT_EQ(got, paths) << options.front() << " " << options.back();
    }
}

TEST(CliCountDepth, TextTableAlignedAndIndentedWithDuSizes) {
    const Tree tree;
    const CliRun r = runCli({"count", "-d", "1", "-h", "D"}, tree.t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    const Lines out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[0], "Directories  Files  Bytes  Path");
    EXPECT_EQ(out[1].substr(0, 18), "          6      7");
    EXPECT_EQ(out[3], "          0      3    88K    D/mid");  // 90,000 bytes, rounded up
    // --si, and without -d a line per DIR.
    const CliRun si = runCli({"count", "--si", "D/mid"}, tree.t.root());
    EXPECT_EQ(lines(si.out).back(), "          0      3    90k  D/mid");
}

TEST(CliCountDepth, JsonNestsChildrenThatNameTheErrorsOfTheirOwnTrees) {
    Tree tree;
    fileAt(tree.t, "D/zbig/locked/secret", 5);
    ::chmod(tree.t.path("D/zbig/locked").c_str(), 0700);
    const CliRun r = runCli({"count", "--json", "-d", "1", tree.t.path("D")}, "/",
                            [] { return pelmora::test::dropToNobody(); });
    ASSERT_EQ(r.status, 1) << r.err;
    const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    const QJsonArray children = a[0].toObject()["children"].toArray();
    ASSERT_EQ(children.size(), 3) << r.out;
    const QJsonObject zbig = children[0].toObject(), mid = children[1].toObject();
    EXPECT_EQ(mid["files"].toInt(), 3);
    EXPECT_EQ(mid["bytes"].toInt(), 90000);
    EXPECT_FALSE(mid.contains("children"));  // at the depth asked for
    EXPECT_TRUE(mid["errors"].toArray().isEmpty());
    EXPECT_TRUE(zbig["incomplete"].toBool());
    const QJsonArray errors = zbig["errors"].toArray();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].toObject()["path"].toString().toStdString(), tree.t.path("D/zbig/locked"));
    // -d 0 is the plain output.
    EXPECT_EQ(runCli({"count", "--json", "-d", "0", "D/mid"}, tree.t.root()).out,
              runCli({"count", "--json", "D/mid"}, tree.t.root()).out);
}

TEST(CliCountHidden, LeftOutEntriesHoldingDataAreToldOf) {
    TempTree t;
    fileAt(t, "E/.git/x", 4);
    t.write("E/.profile", "p");
    t.file("E/.empty", 0);  // holds nothing: not told of
    t.dir("F/.cache");
    fileAt(t, "G/seen", 2);
    const std::vector<std::tuple<Args, std::string, std::string>> cases = {
        {{"E"}, "\"E\",0,0,0,", "pelmora-cli: 2 hidden entries not counted (use --all)\n"},
        {{"F"}, "\"F\",0,0,0,", "pelmora-cli: 1 hidden entry not counted (use --all)\n"},
        {{"--all", "E"}, "\"E\",1,3,", ""},
        {{"E", "G", "F"},
         "\"E\",0,0,0,",
         "pelmora-cli: 2 hidden entries not counted below 'E' (use --all)\n"
         "pelmora-cli: 1 hidden entry not counted below 'F' (use --all)\n"},
    };
    for (const auto& [dirs, csv, err] : cases) {
        Args args = {"count", "--csv"};
        args.insert(args.end(), dirs.begin(), dirs.end());
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 0);  // nothing was unreadable
        EXPECT_EQ(r.out.rfind(csv, 0), 0u) << r.out;
        EXPECT_EQ(r.err, err);
    }
}

TEST(CliCountExclude, PatternsByNameAndByPathTogether) {
    TempTree t;
    fileAt(t, "X/a.o", 5);
    fileAt(t, "X/b.c", 7);
    fileAt(t, "X/build/c.o", 9);
    fileAt(t, "X/build/d", 11);
    EXPECT_EQ(rows({"-x", "--exclude", "b.c", "--exclude=build/*.o", "X"}, t.root()),
              Lines{row("X", 1, 2, 16 + sizeOf(t, "X/build"))});
}

TEST(CliCountDepth, OptionsThatMeanNothingTogetherAreRefused) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--top", "3", "/"}, "--top and --sort need --max-depth"},
        {{"-h", "--csv", "/"}, "-h and --si are for the text output, not --csv or --json"},
        {{"--ncdu-export", "-", "-d", "1", "/"},
         "--ncdu-export writes the whole tree: no --csv, --json, -d, --top, --sort, -h or --si "
         "with it"},
        {{"--ncdu-export", "-", "/", "/tmp"}, "--ncdu-export takes exactly one DIR"},
    };
    for (const auto& [options, message] : cases) {
        Args args = {"count"};
        args.insert(args.end(), options.begin(), options.end());
        const CliRun r = runCli(args, "/");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "pelmora-cli: count: " + message + "\n");
    }
}

}  // namespace
