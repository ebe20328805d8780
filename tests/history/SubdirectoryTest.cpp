// Where a directory grew: the subdirectories a snapshot keeps (the largest, "(other)" for the
// rest), the explanation of one directory's change by them, the column of the report, and a
// history of the first schema made current by its first recording.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include "history/History.h"
#include "tests/support/TempTree.h"

namespace pelmora::history {
namespace {

using test::TempTree;
constexpr std::int64_t kT0 = 1796731200;  // 2026-12-08T12:00:00Z
constexpr std::int64_t kDay = 86400;

ChildRow child(std::string name, __int128 bytes, std::int64_t directories = 0) {
    ChildRow c;
    c.name = std::move(name);
    c.bytes = bytes;
    c.files = 1;
    c.directories = directories;
    return c;
}

Row entry(std::string path, __int128 bytes, std::vector<ChildRow> children) {
    Row r;
    r.entry = std::move(path);
    r.bytes = bytes;
    r.children = std::move(children);
    return r;
}

void record(const std::string& list, std::int64_t time, std::vector<Row> rows, unsigned depth) {
    Snapshot s{time, "box", list, std::move(rows)};
    s.depth = depth;
    recordSnapshot(list, s);
}

std::vector<std::string> names(const std::vector<ChildRow>& rows) {
    std::vector<std::string> out;
    for (const ChildRow& r : rows) out.push_back(r.name);
    return out;
}

const DirectoryGrowth& at(const Explanation& e, const std::string& path) {
    for (const DirectoryGrowth& g : e.subdirectories)
        if (g.path == path) return g;
    throw std::runtime_error("no " + path);
}

TEST(Subdirectories, TheLargestAreKeptWithWhatHoldsThemAndTheFirstLevelRestSummed) {
    const std::vector<ChildRow> all = {child("a", 50, 1), child("a/x", 50), child("b", 70),
                                       child("c", 5, 2),  child("d", 5),    child("b/y", 1)};
    const struct {
        std::size_t most;
        std::vector<std::string> kept;  // "" last: the sum of the rest
        std::int64_t otherDirectories, otherFiles;
        __int128 otherBytes;
    } cases[] = {
        {10, {"b", "a", "a/x", "c", "d", "b/y"}, 0, 0, 0},
        // a/x ties a, and a comes first; of the first level c and d are left out (3 + 1 dirs).
        {4, {"b", "a", "a/x", "c", ""}, 1, 1, 5},
        {2, {"b", "a", ""}, 3 + 1, 2, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.most);
        const std::vector<ChildRow> kept = keepLargest(all, c.most);
        EXPECT_EQ(names(kept), c.kept);
        if (kept.back().name.empty()) {
            EXPECT_EQ(kept.back().directories, c.otherDirectories);
            EXPECT_EQ(kept.back().files, c.otherFiles);
            EXPECT_TRUE(kept.back().bytes == c.otherBytes);
        }
        // Kept again, as the recording does with what the export kept: the same.
        const std::vector<ChildRow> again = keepLargest(kept, c.most);
        EXPECT_EQ(names(again), c.kept);
        EXPECT_TRUE(again.back().bytes == kept.back().bytes);
    }
}

TEST(Subdirectories, AnExplanationGivesEachChangeItsShareAndMarks) {
    TempTree t;
    const std::string list = t.path("W.PML");
    const std::string dir = "/srv/caf\xe9, \"x\"";
    record(list, kT0, {entry(dir, 160, {child("a", 100), child("b", 50), child("c", 10)})}, 1);
    record(list, kT0 + 2 * kDay,
           {entry(dir, 345, {child("a", 300), child("b", 40), child("d", 5)})}, 1);

    const Explanation e = explainHistory(list, dir, {});
    ASSERT_TRUE(e.directory);
    EXPECT_TRUE(e.directory->bytesChange == 185);
    EXPECT_EQ(e.snapshots.size(), 2u);
    std::vector<std::string> order;
    for (const DirectoryGrowth& g : e.subdirectories) order.push_back(g.path);
    EXPECT_EQ(order, (std::vector<std::string>{dir + "/a", dir + "/b", dir + "/c", dir + "/d"}));
    const DirectoryGrowth& a = at(e, dir + "/a");
    EXPECT_TRUE(a.bytesChange == 200);
    EXPECT_NEAR(*a.share, 200 * 100.0 / 185, 1e-9);
    EXPECT_NEAR(*a.bytesPerDay, 100, 1e-9);
    EXPECT_TRUE(at(e, dir + "/c").disappeared);
    EXPECT_TRUE(at(e, dir + "/c").last.bytes == 0);
    EXPECT_TRUE(at(e, dir + "/d").appeared);
    EXPECT_FALSE(at(e, dir + "/b").appeared || at(e, dir + "/b").disappeared);

    Query top;
    top.top = 1;
    top.series = true;
    const Explanation one = explainHistory(list, dir, top);
    ASSERT_EQ(one.subdirectories.size(), 1u);
    EXPECT_EQ(one.subdirectoryCount, 4u);
    ASSERT_EQ(one.subdirectories[0].series.size(), 2u);
    EXPECT_TRUE(one.subdirectories[0].series[1].bytes == 300);

    const HistoryReport report = queryHistory(list, {});
    ASSERT_EQ(report.directories.size(), 1u);
    EXPECT_EQ(report.directories[0].grewMost, "a");

    try {
        explainHistory(list, "/srv", {});
        ADD_FAILURE() << "no error";
    } catch (const HistoryError& error) {
        EXPECT_EQ(error.kind(), HistoryError::Kind::NotWatched);
    }
}

// A snapshot that left a subdirectory out among "(other)" does not make it appear; the lesser
// depth of the two snapshots is compared; a snapshot without subdirectories is passed over.
TEST(Subdirectories, CutsDepthsAndSnapshotsWithoutSubdirectories) {
    TempTree t;
    const std::string list = t.path("W.PML");
    std::vector<ChildRow> many;
    for (int i = 0; i < 1001; ++i) many.push_back(child("n" + std::to_string(i), 1000 + i));
    many.push_back(child("small", 1));
    many.push_back(child("n5/deep", 1005));  // kept, but deeper than the second snapshot
    record(list, kT0, {entry("/w", 2'000'000, many)}, 2);
    record(list, kT0 + kDay, {entry("/w", 3'000'000, {child("small", 5000), child("n5/deep", 9)})},
           1);
    record(list, kT0 + 2 * kDay, {entry("/w", 4'000'000, {})}, 0);

    const Explanation e = explainHistory(list, "/w", {});
    ASSERT_TRUE(e.directory);
    EXPECT_EQ(e.depth, 1u);
    EXPECT_EQ(e.snapshots.size(), 2u);  // not the one without subdirectories
    EXPECT_TRUE(e.directory->bytesChange == 1'000'000);
    const DirectoryGrowth& small = at(e, "/w/small");
    EXPECT_TRUE(small.inOtherFirst);
    EXPECT_FALSE(small.appeared);
    EXPECT_TRUE(at(e, "(other)").other);
    EXPECT_TRUE(at(e, "(other)").disappeared);
    for (const DirectoryGrowth& g : e.subdirectories) EXPECT_NE(g.path, "/w/n5/deep");
}

std::int64_t rowsOf(const std::string& list, const char* table) {
    sqlite3* db = nullptr;
    sqlite3_open(historyFileName(list).c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, (std::string("SELECT count(*) FROM ") + table).c_str(), -1, &s, nullptr);
    const std::int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}

// A row is kept only where a subdirectory changed; its figures hold until its next row, and a
// subdirectory that went and came back is gone in between.
TEST(Subdirectories, OnlyChangesAreKeptAndFiguresHoldUntilTheNext) {
    TempTree t;
    const std::string list = t.path("W.PML");
    record(list, kT0, {entry("/w", 30, {child("a", 10), child("b", 20)})}, 1);
    record(list, kT0 + kDay, {entry("/w", 35, {child("a", 10), child("b", 25)})}, 1);
    record(list, kT0 + 2 * kDay, {entry("/w", 10, {child("a", 10)})}, 1);
    record(list, kT0 + 3 * kDay, {entry("/w", 15, {child("a", 10), child("b", 5)})}, 1);
    EXPECT_EQ(rowsOf(list, "subdirectory_figures"), 1 + 4);

    const struct {
        std::int64_t from, to;
        __int128 aChange, bChange;
        bool bAppeared, bGone;
    } ranges[] = {
        {0, 1, 0, 5, false, false},
        {1, 2, 0, -25, false, true},
        {2, 3, 0, 5, true, false},
        {0, 3, 0, -15, false, false},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(r.from * 10 + r.to);
        Query q;
        q.range = {kT0 + r.from * kDay, kT0 + r.to * kDay};
        q.series = true;
        const Explanation e = explainHistory(list, "/w", q);
        ASSERT_EQ(e.subdirectories.size(), 2u);
        const DirectoryGrowth& a = at(e, "/w/a");
        const DirectoryGrowth& b = at(e, "/w/b");
        EXPECT_TRUE(a.bytesChange == r.aChange);
        EXPECT_TRUE(a.last.bytes == 10);
        EXPECT_EQ(a.series.size(), static_cast<std::size_t>(r.to - r.from + 1));
        EXPECT_TRUE(b.bytesChange == r.bChange);
        EXPECT_EQ(b.appeared, r.bAppeared);
        EXPECT_EQ(b.disappeared, r.bGone);
    }
}

TEST(Subdirectories, AHistoryOfTheFirstSchemaIsMadeCurrentByItsFirstRecording) {
    TempTree t;
    const std::string list = t.path("W.PML");
    record(list, kT0, {entry("/w", 10, {child("a", 10)})}, 1);
    // What the first schema holds: no subdirectories, version 1.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(historyFileName(list).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "DROP TABLE subdirectory_figures; DROP TABLE subdirectory; DROP TABLE "
                           "snapshot_depth; UPDATE schema_version SET version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const HistoryReport before = queryHistory(list, {});
    ASSERT_EQ(before.directories.size(), 1u);
    EXPECT_FALSE(before.directories[0].grewMost);
    EXPECT_FALSE(explainHistory(list, "/w", {}).directory);

    record(list, kT0 + kDay, {entry("/w", 30, {child("a", 30)})}, 1);
    record(list, kT0 + 2 * kDay, {entry("/w", 90, {child("a", 50), child("b", 40)})}, 1);
    const Explanation e = explainHistory(list, "/w", {});
    ASSERT_TRUE(e.directory);
    EXPECT_TRUE(e.directory->first.bytes == 30);  // from the first snapshot that holds them
    EXPECT_TRUE(at(e, "/w/b").appeared);
    ASSERT_EQ(sqlite3_open(historyFileName(list).c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT version FROM schema_version", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), kSchemaVersion);
    EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

}  // namespace
}  // namespace pelmora::history
