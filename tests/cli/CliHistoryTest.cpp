// pelmora-cli's growth history: export --history and snapshot record, history reports the
// change through the command line, and a missing or damaged history is reported; the table over
// short ranges, the rule for an empty range, --plot's limits and arguments, the JSON keys the
// README lists, and memory that follows what is shown.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "history/History.h"

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

class CliHistory : public ::testing::Test {
  protected:
    void SetUp() override {
        fileAt(t, "a/old", 100);
        fileAt(t, "b/same", 7);
        writeAt(t, "L.PML", t.path("a") + "\r\n" + t.path("b") + "\r\n");
    }
    TempTree t;
};

TEST_F(CliHistory, TwoSnapshotsGiveExactlyTheChange) {
    const CliRun first = runCli({"snapshot", "L.PML"}, t.root());
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "Snapshot recorded in L.history.sqlite.\n");
    EXPECT_FALSE(std::filesystem::exists(t.path("L.TXT")));
    writeAt(t, "a/new", std::string(1 << 20, 'n'));
    const CliRun second = runCli({"export", "--history", "L.PML"}, t.root());
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "File L.TXT created.\n");

    const CliRun json = runCli({"history", "--json", "L.PML"}, t.root());
    ASSERT_EQ(json.status, 0) << json.err;
    QJsonParseError error{};
    const QJsonArray a =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    ASSERT_EQ(a.size(), 2);
    const QJsonObject grew = a[0].toObject();
    EXPECT_EQ(grew["path"].toString().toStdString(), t.path("a"));
    EXPECT_EQ(grew["bytes_change"].toInteger(), 1 << 20);
    EXPECT_EQ(grew["files_change"].toInteger(), 1);
    EXPECT_EQ(grew["first"].toObject()["files"].toInteger(), 1);
    EXPECT_EQ(grew["last"].toObject()["bytes"].toInteger(), 100 + (1 << 20));
    EXPECT_EQ(a[1].toObject()["bytes_change"].toInteger(), 0);

    const CliRun csv = runCli({"history", "--csv", "--top", "1", "L.PML"}, t.root());
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string row = csv.out.substr(csv.out.find('\n') + 1);
    EXPECT_EQ(row.rfind("\"" + t.path("a") + "\",", 0), 0u) << csv.out;
    EXPECT_NE(row.find(",1048576,"), std::string::npos) << row;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 2);

    const CliRun table = runCli({"history", "L.PML"}, t.root());
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("+1,048,576"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.rfind("2 snapshots from ", 0), 0u) << table.out;

    const CliRun later = runCli({"history", "--since", "2999-01-01", "L.PML"}, t.root());
    EXPECT_EQ(later.status, 0);
    EXPECT_EQ(later.out, "No snapshot of L.PML lies in that range.\n");

    const CliRun svg = runCli({"history", "--plot", "g.svg", "L.PML"}, t.root());
    ASSERT_EQ(svg.status, 0) << svg.err;
    EXPECT_NE(readFile(t.path("g.svg")).find("<svg"), std::string::npos);
}

// Where it grew, from real counts: the subdirectory that took the new mebibyte explains all of
// the change, in the report's column and in --explain's table, CSV and JSON.
TEST_F(CliHistory, ExplainNamesTheSubdirectoryThatGrew) {
    fileAt(t, "a/x/one", 1);
    fileAt(t, "a/y/two", 2);
    fileAt(t, "a/y/z/three", 3);
    ASSERT_EQ(runCli({"snapshot", "L.PML"}, t.root()).status, 0);
    writeAt(t, "a/y/new", std::string(1 << 20, 'n'));
    ASSERT_EQ(runCli({"export", "--history", "--depth", "2", "L.PML"}, t.root()).status, 0);

    const CliRun report = runCli({"history", "L.PML"}, t.root());
    EXPECT_NE(report.out.find("  y" + std::string(10, ' ') + t.path("a") + "\n"), std::string::npos)
        << report.out;
    const CliRun table = runCli({"history", "--explain", t.path("a"), "L.PML"}, t.root());
    ASSERT_EQ(table.status, 0) << table.err;
    std::istringstream row(table.out.substr(table.out.find("Subdirectory\n") + 13));
    std::vector<std::string> cells(7);
    for (std::string& cell : cells) row >> cell;
    cells.erase(cells.begin() + 5);  // the last bytes, with the size of a directory
    cells.erase(cells.begin() + 1);  // that percentage of them
    EXPECT_EQ(cells,
              (std::vector<std::string>{"+1,048,576", "+1", "+50.0%", "100.0%", t.path("a/y")}))
        << table.out;
    EXPECT_EQ(table.out.find("a/y/z"), std::string::npos) << "deeper than the first snapshot";
    const CliRun csv = runCli({"history", "--csv", "--explain", t.path("a"), "L.PML"}, t.root());
    EXPECT_NE(csv.out.find("\n\"" + t.path("a/y") + "\","), std::string::npos) << csv.out;
    const CliRun json = runCli({"history", "--json", "--explain", t.path("a"), "L.PML"}, t.root());
    const QJsonArray a = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(a.size(), 2) << json.out;
    EXPECT_EQ(a[0].toObject()["path"].toString().toStdString(), t.path("a/y"));
    EXPECT_EQ(a[0].toObject()["share"].toDouble(), 100.0);
    // The chart draws the subdirectories, not the list's directories.
    const CliRun svg =
        runCli({"history", "--plot", "e.svg", "--explain", t.path("a"), "L.PML"}, t.root());
    ASSERT_EQ(svg.status, 0) << svg.err;
    const std::string chart = readFile(t.path("e.svg"));
    EXPECT_NE(chart.find(t.path("a/y")), std::string::npos);
    EXPECT_EQ(chart.find(t.path("b")), std::string::npos);

    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } refused[] = {
        {{"snapshot", "--depth", "4", "L.PML"}, 2, "--depth needs a number from 0 to 3"},
        {{"export", "--depth", "1", "L.PML"}, 2, "--depth goes with --history"},
        {{"history", "--explain", t.path("nowhere"), "L.PML"}, 3, "holds the directory"},
    };
    for (const auto& r : refused) {
        const CliRun run = runCli(r.args, t.root());
        EXPECT_EQ(run.status, r.status) << run.err;
        EXPECT_NE(run.err.find(r.err), std::string::npos) << run.err;
    }
}

TEST_F(CliHistory, NoHistoryAndADamagedOneAreReportedAndLeftAlone) {
    const CliRun none = runCli({"history", "L.PML"}, t.root());
    EXPECT_EQ(none.status, 3);
    EXPECT_EQ(none.err,
              "pelmora-cli: no history for L.PML yet: run pelmora-cli export --history\n");
    EXPECT_EQ(none.out, "");

    const std::string junk(8192, '\x5a');
    writeAt(t, "L.history.sqlite", junk);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"history", "L.PML"},
                                                 {"snapshot", "L.PML"},
                                                 {"export", "--history", "L.PML"}}) {
        SCOPED_TRACE(args[0]);
        const CliRun r = runCli(args, t.root());
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err,
                  "pelmora-cli: history 'L.history.sqlite' is not a SQLite database; "
                  "left untouched\n");
        EXPECT_EQ(readFile(t.path("L.history.sqlite")), junk);
    }
    // The export still wrote its data file.
    EXPECT_TRUE(std::filesystem::exists(t.path("L.TXT")));
}

constexpr std::int64_t kT0 = 1796731200;  // 2026-12-08T12:00:00Z

// A snapshot of `list` at `time`, as export --history records one.
void recordAt(const std::string& list, std::int64_t time,
              const std::vector<std::pair<std::string, long long>>& dirs) {
    pelmora::history::Snapshot s{time, "box", list, {}};
    for (const auto& [dir, bytes] : dirs) {
        pelmora::history::Row r;
        r.entry = dir;
        r.bytes = bytes;
        s.rows.push_back(r);
    }
    pelmora::history::recordSnapshot(list, s);
}

TEST(CliHistoryOutput, UnderADayTheTableSaysHowLongAndGivesNoRatePerDay) {
    const struct {
        std::int64_t seconds;
        std::string interval, perDay, json;
    } cases[] = {
        {7, "2026-12-08T12:00:07Z (7 seconds)", "-", "null"},
        {2 * 86400, "2026-12-10T12:00:00Z (2 days)", "+2,500", "2500.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        TempTree t;
        recordAt(t.path("L.PML"), kT0, {{"/srv/a", 1000}});
        recordAt(t.path("L.PML"), kT0 + c.seconds, {{"/srv/a", 6000}});
        const CliRun table = runCli({"history", "L.PML"}, t.root());
        ASSERT_EQ(table.status, 0) << table.err;
        EXPECT_EQ(table.out.substr(0, table.out.find('\n')),
                  "2 snapshots from 2026-12-08T12:00:00Z to " + c.interval);
        EXPECT_NE(table.out.find(" +5,000  "), std::string::npos) << table.out;
        // No subdirectories recorded: the column that names the one that grew most says "-".
        EXPECT_NE(table.out.find(" " + c.perDay + "  -" + std::string(10, ' ') + "/srv/a\n"),
                  std::string::npos)
            << table.out;
        const CliRun json = runCli({"history", "--json", "L.PML"}, t.root());
        EXPECT_NE(json.out.find("\"bytes_per_day\": " + c.json + ","), std::string::npos)
            << json.out;
    }
}

// A range that holds no snapshot is no error, whatever the output.
TEST_F(CliHistory, ARangeWithoutASnapshotIsNoErrorForAnyOutput) {
    ASSERT_EQ(runCli({"snapshot", "L.PML"}, t.root()).status, 0);
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"history", "--since", "2999-01-01", "L.PML"},
         "No snapshot of L.PML lies in that range.\n"},
        {{"history", "--until", "1999-12-31", "--json", "L.PML"}, "[]\n"},
        {{"history", "--since", "2999-01-01", "--csv", "L.PML"},
         "path,first_time,first_directories,first_files,first_bytes,last_time,last_directories,"
         "last_files,last_bytes,bytes_change,bytes_percent,files_change,files_percent,"
         "bytes_per_day,appeared,disappeared\n"},
        {{"history", "--since", "2999-01-01", "--plot", "empty.svg", "L.PML"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        const CliRun r = runCli(c.args, t.root());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(readFile(t.path("empty.svg")).find("No snapshot from 2999-01-01"), std::string::npos);
}

// --plot draws with pelmora-chart: its limits are the chart's, said by pelmora-cli itself, and
// a list whose name begins with '-' stays a list.
TEST(CliHistoryOutput, PlotKeepsTheChartsLimitsAndPassesOddNamesThrough) {
    TempTree t;
    for (const char* list : {"L.PML", "-C.PML"}) {
        recordAt(t.path(list), kT0, {{"/srv/a", 1000}});
        recordAt(t.path(list), kT0 + 86400, {{"/srv/a", 3000}});
    }
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err, written;
    } cases[] = {
        {{"history", "--plot", "dash.svg", "--", "-C.PML"}, 0, "", "dash.svg"},
        {{"history", "--top", "100", "--since", "20261201", "--until", "1d", "--plot", "t.png",
          "L.PML"},
         0,
         "",
         "t.png"},
        {{"history", "--top", "101", "--plot", "x.svg", "L.PML"},
         2,
         "pelmora-cli: history: --top needs a number from 1 to 100 with --plot\n",
         ""},
        {{"history", "--top", "101", "L.PML"}, 0, "", ""},
        {{"history", "--since", "last week", "--plot", "x.svg", "L.PML"},
         2,
         "pelmora-cli: history: invalid date 'last week' (use YYYY-MM-DD, YYYYMMDD, "
         "YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM] or an age: 6h, 30d, 12w, 1y)\n",
         ""},
        {{"history", "--plot", "x.svg", "NONE.PML"},
         3,
         "pelmora-cli: no history for NONE.PML yet: run pelmora-cli export --history\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[2]);
        const CliRun r = runCli(c.args, t.root());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        if (!c.written.empty()) {
            EXPECT_GT(readFile(t.path(c.written)).size(), 1000u);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(t.path("x.svg")));
}

void collectKeys(const QJsonValue& v, std::set<std::string>& keys) {
    if (v.isArray())
        for (const QJsonValue& e : v.toArray()) collectKeys(e, keys);
    if (!v.isObject()) return;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        keys.insert(it.key().toStdString());
        collectKeys(it.value(), keys);
    }
}

TEST(CliHistoryOutput, EveryJsonKeyIsInTheReadme) {
    TempTree t;
    recordAt(t.path("L.PML"), kT0, {{"/srv/caf\xe9", 10}, {"/srv/a", 1}});
    recordAt(t.path("L.PML"), kT0 + 86400, {{"/srv/caf\xe9", 20}});
    for (const std::int64_t time : {kT0 + 2 * 86400, kT0 + 3 * 86400}) {
        pelmora::history::Snapshot s{time, "box", t.path("L.PML"), {}};
        s.depth = 1;
        s.rows.push_back(
            {"/srv/b", 0, 0, time - kT0, 0, {}, true, {{"x", 0, 1, time - kT0, true}}});
        pelmora::history::recordSnapshot(t.path("L.PML"), s);
    }
    std::set<std::string> keys;
    for (const auto& args : {std::vector<std::string>{"history", "--json", "L.PML"},
                             {"history", "--json", "--explain", "/srv/b", "L.PML"}}) {
        const CliRun json = runCli(args, t.root());
        ASSERT_EQ(json.status, 0) << json.err;
        collectKeys(QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array(), keys);
    }
    ASSERT_GE(keys.size(), 20u);

    std::ifstream in(std::string(PELMORA_SOURCE_DIR) + "/README.md");
    std::stringstream readme;
    readme << in.rdbuf();
    const std::string text = readme.str();
    const std::size_t from = text.find("\n## Growth history");
    ASSERT_NE(from, std::string::npos);
    const std::string section = text.substr(from, text.find("\n## ", from + 1) - from);
    for (const std::string& key : keys)
        EXPECT_NE(section.find("`\"" + key + "\"`"), std::string::npos) << key;
}

// The peak memory of a run of the program without the sanitizers, in bytes.
long peakMemory(const std::vector<std::string>& args, const std::string& cwd, std::size_t* out) {
    const std::string exe = pelmora::test::plainCliPath();
    const std::string output = cwd + "/out.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, 1) != 1 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    if (out != nullptr) *out = std::filesystem::file_size(output);
    return usage.ru_maxrss * 1024L;
}

// Memory follows what is shown: --top 5 of 60,000 directories needs no more than of 6,000, and
// --json, written as it goes, holds little more than it writes.
TEST(CliHistoryOutput, MemoryFollowsWhatIsShown) {
    TempTree t;
    for (const auto& [list, count] : {std::pair{"SMALL.PML", 6000}, std::pair{"BIG.PML", 60000}}) {
        std::vector<std::pair<std::string, long long>> dirs;
        for (int i = 0; i < count; ++i)
            dirs.emplace_back("/srv/data/projects/member-" + std::to_string(i), 1000L * i);
        recordAt(t.path(list), kT0, dirs);
        for (auto& d : dirs) d.second += 4096;
        recordAt(t.path(list), kT0 + 86400, dirs);
    }
    const long topSmall = peakMemory({"history", "--top", "5", "SMALL.PML"}, t.root(), nullptr);
    const long topBig = peakMemory({"history", "--top", "5", "BIG.PML"}, t.root(), nullptr);
    ASSERT_GT(topSmall, 0);
    ASSERT_GT(topBig, 0);
    EXPECT_LT(topBig - topSmall, 4L << 20) << topSmall << " " << topBig;
    std::size_t smallOut = 0, bigOut = 0;
    const long jsonSmall = peakMemory({"history", "--json", "SMALL.PML"}, t.root(), &smallOut);
    const long jsonBig = peakMemory({"history", "--json", "BIG.PML"}, t.root(), &bigOut);
    ASSERT_GT(jsonSmall, 0);
    ASSERT_GT(jsonBig, 0);
    EXPECT_LT(jsonBig - jsonSmall, 2 * static_cast<long>(bigOut - smallOut))
        << jsonSmall << " " << jsonBig << " for " << bigOut - smallOut << " bytes more";
}

}  // namespace
