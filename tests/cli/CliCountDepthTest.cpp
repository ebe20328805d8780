// pelmora-cli count below its DIRs: -d with --sort and --top as a table, CSV lines and nested
// JSON; -h and --si in the table; hidden entries told of; --all, --exclude and -x.
#include <sys/stat.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Four subdirectories whose order differs by every key: by bytes zbig, mid, asmall; by files
// mid, zbig, asmall; by directories asmall, zbig, mid; by name asmall, mid, zbig.
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
    long long size(const std::string& relative) const { return sizeOf(t.path(relative)); }
    // "path",directories,files,bytes of a data-file line (its overhead left aside).
    std::string row(const std::string& dir, int dirs, int files, long long bytes) const {
        return "\"" + dir + "\"," + std::to_string(dirs) + "," + std::to_string(files) + "," +
               std::to_string(bytes);
    }
};

// The data-file lines of a CSV output without their last field, the overhead.
Lines rowsOf(const std::string& csv) {
    Lines rows = lines(csv);
    for (std::string& r : rows) r.erase(r.rfind(','));
    return rows;
}

Lines pathsOf(const std::string& csv) {
    Lines paths = lines(csv);
    for (std::string& p : paths) p = p.substr(1, p.find("\",") - 1);
    return paths;
}

TEST(CliCountDepth, EveryDirectoryDownToTheDepthWithItsOwnFigures) {
    const Tree tree;
    const CliRun r = runCli({"count", "--csv", "-d", "2", "D"}, tree.t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    const long long sub = tree.size("D/zbig/sub"), a = tree.size("D/asmall/a"),
                    b = tree.size("D/asmall/b");
    const long long all =
        590113 + tree.size("D/zbig") + tree.size("D/mid") + tree.size("D/asmall") + sub + a + b;
    EXPECT_EQ(rowsOf(r.out),
              (Lines{tree.row("D", 6, 7, all), tree.row("D/zbig", 1, 2, 500100 + sub),
                     tree.row("D/zbig/sub", 0, 1, 100), tree.row("D/mid", 0, 3, 90000),
                     tree.row("D/asmall", 2, 1, 10 + a + b), tree.row("D/asmall/a", 0, 0, 0),
                     tree.row("D/asmall/b", 0, 0, 0)}));
    // The first line is the plain count's.
    const CliRun plain = runCli({"count", "--csv", "D"}, tree.t.root());
    EXPECT_EQ(lines(r.out).front(), lines(plain.out).front());
}

TEST(CliCountDepth, SortAndTopAtEachLevel) {
    const Tree tree;
    const std::vector<std::pair<Args, Lines>> cases = {
        {{"--sort", "files"},
         {"D", "D/mid", "D/zbig", "D/zbig/sub", "D/asmall", "D/asmall/a", "D/asmall/b"}},
        {{"--sort", "dirs"},
         {"D", "D/asmall", "D/asmall/a", "D/asmall/b", "D/zbig", "D/zbig/sub", "D/mid"}},
        {{"--sort", "name"},
         {"D", "D/asmall", "D/asmall/a", "D/asmall/b", "D/mid", "D/zbig", "D/zbig/sub"}},
        {{"--top", "1"}, {"D", "D/zbig", "D/zbig/sub"}},
        {{"--top", "1", "--sort", "files"}, {"D", "D/mid"}},
        // With name, the largest by bytes are kept, and listed by name.
        {{"--top", "2", "--sort", "name"}, {"D", "D/mid", "D/zbig", "D/zbig/sub"}},
        {{"-d", "1", "--top", "5"}, {"D", "D/zbig", "D/mid", "D/asmall"}},
    };
    for (const auto& [options, paths] : cases) {
        Args args = {"count", "--csv", "-d", "2"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("D");
        SCOPED_TRACE(options.front() + " " + options.back());
        const CliRun r = runCli(args, tree.t.root());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(pathsOf(r.out), paths);
    }
}

TEST(CliCountDepth, TextTableAlignedAndIndentedWithDuSizes) {
    const Tree tree;
    const CliRun r = runCli({"count", "-d", "1", "-h", "D"}, tree.t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    const Lines out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[0], "Directories  Files  Bytes  Path");
    EXPECT_EQ(out[3], "          0      3    88K    D/mid");  // 90,000 bytes, rounded up
    EXPECT_EQ(out[1].substr(0, 18), "          6      7");
    EXPECT_TRUE(out[1].ends_with("  D")) << out[1];
    EXPECT_TRUE(out[2].ends_with("K    D/zbig")) << out[2];

    const CliRun si = runCli({"count", "--si", "--disk-usage", "D/mid"}, tree.t.root());
    ASSERT_EQ(si.status, 0) << si.err;
    const Lines one = lines(si.out);  // without -d: one line per DIR
    ASSERT_EQ(one.size(), 2u) << si.out;
    EXPECT_EQ(one[0], "Directories  Files  Bytes  On Disk  Path");
    EXPECT_TRUE(one[1].starts_with("          0      3    90k  ")) << one[1];
    EXPECT_TRUE(one[1].ends_with("  D/mid")) << one[1];
}

TEST(CliCountDepth, JsonNestsTheChildrenDownToTheDepth) {
    const Tree tree;
    const CliRun r = runCli({"count", "--json", "-d", "1", "D", "D/mid"}, tree.t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    QJsonParseError error{};
    const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    ASSERT_EQ(a.size(), 2);
    const QJsonArray children = a[0].toObject()["children"].toArray();
    ASSERT_EQ(children.size(), 3);
    const QJsonObject mid = children[1].toObject();
    EXPECT_EQ(mid["path"].toString(), "D/mid");
    EXPECT_EQ(mid["files"].toInt(), 3);
    EXPECT_EQ(mid["bytes"].toInt(), 90000);
    EXPECT_FALSE(mid["incomplete"].toBool(true));
    // Objects at the depth asked for have no "children"; above it, even an empty one shows.
    EXPECT_FALSE(mid.contains("children"));
    EXPECT_TRUE(a[1].toObject()["children"].toArray().isEmpty());
    EXPECT_TRUE(a[1].toObject().contains("children"));
    EXPECT_EQ(mid.keys(), a[1].toObject().keys().filter(QRegularExpression("^(?!children)")));

    // -d 0 is today's output.
    EXPECT_EQ(runCli({"count", "--json", "-d", "0", "D"}, tree.t.root()).out,
              runCli({"count", "--json", "D"}, tree.t.root()).out);
}

TEST(CliCountDepth, EachDirectoryListsTheErrorsOfItsOwnTree) {
    Tree tree;
    fileAt(tree.t, "D/zbig/locked/secret", 5);
    ::chmod(tree.t.path("D/zbig/locked").c_str(), 0700);
    const CliRun r = runCli({"count", "--json", "-d", "1", tree.t.path("D")}, "/",
                            [] { return pelmora::test::dropToNobody(); });
    ASSERT_EQ(r.status, 1) << r.err;
    const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(a.size(), 1) << r.out;
    const QJsonArray children = a[0].toObject()["children"].toArray();
    ASSERT_EQ(children.size(), 3) << r.out;
    const QJsonObject zbig = children[0].toObject(), mid = children[1].toObject();
    EXPECT_TRUE(zbig["incomplete"].toBool());
    ASSERT_EQ(zbig["errors"].toArray().size(), 1);
    EXPECT_EQ(zbig["errors"].toArray()[0].toObject()["path"].toString().toStdString(),
              tree.t.path("D/zbig/locked"));
    EXPECT_FALSE(mid["incomplete"].toBool(true));
    EXPECT_TRUE(mid["errors"].toArray().isEmpty());
}

TEST(CliCountHidden, LeftOutEntriesHoldingDataAreToldOf) {
    TempTree t;
    fileAt(t, "E/.git/x", 4);
    t.write("E/.profile", "p");
    t.file("E/.empty", 0);  // holds nothing: not told of
    t.dir("F/.cache");
    fileAt(t, "G/seen", 2);
    struct Case {
        Args args;
        std::string csv;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"E"}, "\"E\",0,0,0,", "pelmora-cli: 2 hidden entries not counted (use --all)\n"},
        {{"F"}, "\"F\",0,0,0,", "pelmora-cli: 1 hidden entry not counted (use --all)\n"},
        {{"G"}, "\"G\",0,1,2,", ""},
        {{"--all", "E"}, "\"E\",1,3,", ""},
        {{"E", "G", "F"},
         "\"E\",0,0,0,",
         "pelmora-cli: 2 hidden entries not counted below 'E' (use --all)\n"
         "pelmora-cli: 1 hidden entry not counted below 'F' (use --all)\n"},
    };
    for (const Case& c : cases) {
        Args args = {"count", "--csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.front());
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 0);  // nothing unreadable
        EXPECT_EQ(r.out.rfind(c.csv, 0), 0u) << r.out;
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(CliCountExclude, NamesAndPathsLeftOutAndNotEntered) {
    TempTree t;
    fileAt(t, "X/a.o", 5);
    fileAt(t, "X/b.c", 7);
    fileAt(t, "X/build/c.o", 9);
    fileAt(t, "X/build/d", 11);
    const long long build = sizeOf(t.path("X/build"));
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"-x"}, "\"X\",1,4," + std::to_string(32 + build)},
        {{"--exclude", "*.o"}, "\"X\",1,2," + std::to_string(18 + build)},
        {{"--exclude", "build/*.o"}, "\"X\",1,3," + std::to_string(23 + build)},
        {{"--exclude=build"}, "\"X\",0,2,12"},
        {{"--exclude", "*.o", "--exclude", "b.c"}, "\"X\",1,1," + std::to_string(11 + build)},
    };
    for (const auto& [options, head] : cases) {
        Args args = {"count", "--csv", "X"};
        args.insert(args.end(), options.begin(), options.end());
        SCOPED_TRACE(options.back());
        const CliRun r = runCli(args, t.root());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(rowsOf(r.out), Lines{head});
    }
}

TEST(CliCountDepth, OptionsThatMeanNothingTogetherAreRefused) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--top", "3", "/"}, "--top and --sort need --max-depth"},
        {{"--sort", "name", "/"}, "--top and --sort need --max-depth"},
        {{"-d", "1", "--sort", "size", "/"}, "--sort takes bytes, files, dirs or name"},
        {{"-d", "-1", "/"}, "--max-depth needs a whole number, 0 or more"},
        {{"-d", "1", "--top", "0", "/"}, "--top needs a number, 1 or more"},
        {{"-h", "--csv", "/"}, "-h and --si are for the text output, not --csv or --json"},
        {{"--ncdu-export", "-", "-d", "1", "/"},
         "--ncdu-export writes the whole tree: no --csv, --json, -d, --top, --sort, -h or --si "
         "with it"},
        {{"--ncdu-export", "-", "/", "/tmp"}, "--ncdu-export takes exactly one DIR"},
        {{"--exclude", "", "/"}, "--exclude needs a pattern"},
    };
    for (const auto& [options, message] : cases) {
        Args args = {"count"};
        args.insert(args.end(), options.begin(), options.end());
        SCOPED_TRACE(message);
        const CliRun r = runCli(args, "/");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "pelmora-cli: count: " + message + "\n");
    }
}

}  // namespace
