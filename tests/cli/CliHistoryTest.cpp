// pelmora-cli's growth history: export --history and snapshot record, history reports the
// change through the command line, and a missing or damaged history is reported.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

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

}  // namespace
