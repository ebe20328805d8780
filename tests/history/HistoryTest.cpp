// The growth history: what is recorded comes back exactly, the report's figures, ranges and
// marks, the times it reads, concurrent recorders, lists that share a file, and files that are
// not ours left alone.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "history/History.h"
#include "stats/counting.h"
#include "tests/support/TempTree.h"

namespace pelmora::history {
namespace {

using test::readFile;
using test::TempTree;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kT0 = 1796731200;  // 2026-12-08T12:00:00Z

Row row(std::string entry, __int128 bytes, std::int64_t files = 0) {
    Row r;
    r.entry = std::move(entry);
    r.bytes = bytes;
    r.files = files;
    return r;
}

// A snapshot of a list named WEEKLY.PML, the name of the lists the tests record for.
Snapshot snapshot(std::int64_t time, std::vector<Row> rows, std::string host = "box") {
    return {time, std::move(host), "/lists/WEEKLY.PML", std::move(rows)};
}

const DirectoryGrowth* find(const HistoryReport& r, const std::string& path) {
    for (const DirectoryGrowth& g : r.directories)
        if (g.path == path) return &g;
    return nullptr;
}

std::vector<std::string> paths(const HistoryReport& r) {
    std::vector<std::string> out;
    for (const DirectoryGrowth& g : r.directories) out.push_back(g.path);
    return out;
}

void expectError(HistoryError::Kind kind, const std::function<void()>& f) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const HistoryError& e) {
        EXPECT_EQ(e.kind(), kind) << e.what();
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
}

TEST(HistoryFile, NamedAfterTheListBesideIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"/lists/WEEKLY.PML", "/lists/WEEKLY.history.sqlite"},
        {"/lists/MY.OLD.PML", "/lists/MY.OLD.history.sqlite"},
        {"/lists/PLAIN", "/lists/PLAIN.history.sqlite"},
        {"/a.b/PLAIN", "/a.b/PLAIN.history.sqlite"},
    };
    for (const auto& [list, db] : cases) EXPECT_EQ(historyFileName(list), db);
}

TEST(HistoryTimes, FormatsUtcAndReadsDatesTimesOffsetsAndAges) {
    EXPECT_EQ(formatUtc(kT0), "2026-12-08T12:00:00Z");
    EXPECT_EQ(formatUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(formatUtc(-1), "1969-12-31T23:59:59Z");
    EXPECT_EQ(formatUtc(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(formatUtc(INT64_MAX), "9999-12-31T23:59:59Z");  // a forged time stays a date

    constexpr std::int64_t kLeapDay = 1709208000;  // 2024-02-29T12:00:00Z
    const std::tuple<const char*, bool, std::optional<std::int64_t>> cases[] = {
        {"2026-12-08T12:00:00Z", false, kT0},
        {"2026-12-08 12:00", false, kT0},
        {"2026-12-08T12:00:00.75Z", false, kT0},
        {"20261208T120000Z", false, kT0},
        {"2026-12-08T13:00+01:00", false, kT0},
        {"2026-12-08T06:30:00-0530", false, kT0},
        {"2026-12-08T14:00+02", false, kT0},
        {"2026-12-08", false, kT0 - 12 * 3600},
        {"20261208", false, kT0 - 12 * 3600},
        {"2026-12-08", true, kT0 + 12 * 3600 - 1},
        {"2026-12-08T12:00", true, kT0},  // a time is a time, also for --until
        {"2024-02-29", false, 1709164800},
        {"2026-02-29", false, std::nullopt},
        {"20260229", false, std::nullopt},
        {"2026-13-01", false, std::nullopt},
        {"2026-12-08T24:00", false, std::nullopt},
        {"2026-12-08T12:60", false, std::nullopt},
        {"2026-12-08T12:00:00+1", false, std::nullopt},
        {"2026-12-08Z", false, std::nullopt},
        {"2026-12-08T12:00:00.", false, std::nullopt},
        {"2026-12-08T12:00:00Z junk", false, std::nullopt},
        {"", false, std::nullopt},
        // Ages count back from now (kLeapDay here); a year is a calendar year.
        {"6h", false, kLeapDay - 6 * 3600},
        {"30d", true, kLeapDay - 30 * kDay},
        {"12w", false, kLeapDay - 84 * kDay},
        {"1y", false, kLeapDay - 366 * kDay},            // 2023-02-28T12:00:00Z
        {"4y", false, kLeapDay - (4 * 365 + 1) * kDay},  // 2020-02-29T12:00:00Z
        {"30", false, std::nullopt},
        {"d", false, std::nullopt},
        {"-3d", false, std::nullopt},
        {"3m", false, std::nullopt},
        {"yesterday", false, std::nullopt},
    };
    for (const auto& [text, endOfDay, expected] : cases)
        EXPECT_EQ(parseTime(text, endOfDay, kLeapDay), expected) << text;

    const std::pair<std::int64_t, const char*> intervals[] = {
        {1, "1 second"},   {119, "119 seconds"}, {120, "2 minutes"}, {7199, "119 minutes"},
        {7200, "2 hours"}, {86400, "24 hours"},  {172800, "2 days"}, {400 * kDay, "400 days"},
    };
    for (const auto& [seconds, text] : intervals) EXPECT_EQ(formatInterval(seconds), text);
}

TEST(History, ACountedMebibyteAddedIsExactlyTheChange) {
    TempTree t;
    const std::string photos = t.dir("photos"), docs = t.dir("docs");
    t.file("photos/a.jpg", 5000);
    t.file("docs/b.txt", 300);
    const std::string list = t.path("WEEKLY.PML");
    const auto count = [&](std::int64_t time) {
        Snapshot s = snapshot(time, {});
        for (const std::string& dir : {photos, docs}) {
            stats::CountTree(dir);
            Row r = row(dir, stats::DirStats.ByteTotal.toInt128(), stats::DirStats.FileCount);
            r.directories = stats::DirStats.DirCount;
            r.overhead = stats::TreeOverhead();
            s.rows.push_back(r);
        }
        recordSnapshot(list, s);
    };
    count(kT0);
    t.file("photos/holiday.mov", 1 << 20);
    count(kT0 + 2 * kDay);

    const HistoryReport r = queryHistory(list, {});
    ASSERT_EQ(paths(r), (std::vector<std::string>{photos, docs}));
    EXPECT_EQ(r.directories[0].bytesChange, 1 << 20);
    EXPECT_EQ(r.directories[0].filesChange, 1);
    EXPECT_EQ(r.directories[0].bytesPerDay, (1 << 20) / 2.0);
    EXPECT_EQ(r.directories[1].bytesChange, 0);
    EXPECT_EQ(r.directories[1].filesChange, 0);
}

// A rate per day over seconds or hours would be an extrapolation: there is none under a day.
TEST(History, GrowthPerDayOnlyOverADayOrMore) {
    const std::pair<std::int64_t, std::optional<double>> cases[] = {
        {7, std::nullopt}, {kDay - 1, std::nullopt}, {kDay, 5000.0}, {4 * kDay, 1250.0}};
    for (const auto& [seconds, perDay] : cases) {
        TempTree t;
        const std::string list = t.path("WEEKLY.PML");
        recordSnapshot(list, snapshot(kT0, {row("/a", 1000)}));
        recordSnapshot(list, snapshot(kT0 + seconds, {row("/a", 6000)}));
        const HistoryReport r = queryHistory(list, {});
        EXPECT_EQ(r.directories[0].bytesChange, 5000) << seconds;
        EXPECT_EQ(r.directories[0].bytesPerDay, perDay) << seconds;
    }
}

// Lists whose names differ only in their extension share the file, not the history: none marks
// the other's directories as appeared or gone, or counts the other's snapshots.
TEST(History, ListsSharingAFileSeeOnlyTheirOwnSnapshots) {
    TempTree t;
    const std::string upper = t.path("A.PML"), lower = t.path("A.pml"), backup = t.path("A.BAK");
    ASSERT_EQ(historyFileName(lower), historyFileName(upper));
    ASSERT_EQ(historyFileName(backup), historyFileName(upper));
    const auto record = [&](const std::string& list, std::int64_t time, const char* dir,
                            int bytes) {
        recordSnapshot(list, {time, "box", list, {row(dir, bytes)}});
    };
    record(upper, kT0, "/x", 100);
    record(lower, kT0 + kDay, "/y", 5);
    record(backup, kT0 + 2 * kDay, "/x", 999);
    record(upper, kT0 + 3 * kDay, "/x", 400);

    const HistoryReport r = queryHistory(upper, {});
    EXPECT_EQ(r.snapshots.size(), 2u);
    ASSERT_EQ(paths(r), std::vector<std::string>{"/x"});
    EXPECT_FALSE(r.directories[0].appeared || r.directories[0].disappeared);
    EXPECT_EQ(r.directories[0].bytesChange, 300);
    Query withSeries;
    withSeries.series = true;
    EXPECT_EQ(queryHistory(upper, withSeries).directories[0].series.size(), 2u);
    EXPECT_EQ(paths(queryHistory(lower, {})), std::vector<std::string>{"/y"});
    EXPECT_EQ(queryHistory(backup, {}).directories[0].first.bytes, 999);
    expectError(HistoryError::Kind::NoHistory, [&] { queryHistory(t.path("A.OLD"), {}); });
}

// A snapshot without a time gets the time of its recording, not one its caller took earlier.
TEST(History, ASnapshotWithoutATimeGetsTheTimeOfItsRecording) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    Snapshot s = snapshot(kT0, {row("/a", 1)});
    s.time.reset();
    const std::int64_t before = nowUtc();
    recordSnapshot(list, s);
    const std::int64_t after = nowUtc();
    const HistoryReport r = queryHistory(list, {});
    ASSERT_EQ(r.snapshots.size(), 1u);
    EXPECT_GE(r.snapshots[0].time, before);
    EXPECT_LE(r.snapshots[0].time, after);
}

// Three snapshots ten days apart; directories come, go, come back, grow, shrink and start from
// zero.
class HistoryReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recordSnapshot(list, snapshot(kT0, {row("/a", 1000, 10), row("/b", 0), row("/c", 500, 4),
                                            row("/e", 70), row("/gone", 300), row("/back", 10)}));
        recordSnapshot(
            list, snapshot(kT0 + 10 * kDay, {row("/a", 2000, 12), row("/b", 100), row("/c", 500, 4),
                                             row("/e", 70), row("/gone", 300), row("/new", 50)}));
        recordSnapshot(
            list, snapshot(kT0 + 20 * kDay, {row("/a", 4000, 15), row("/b", 100), row("/c", 400, 5),
                                             row("/e", 70), row("/new", 250), row("/back", 30)}));
    }
    HistoryReport query(std::optional<std::int64_t> since, std::optional<std::int64_t> until,
                        std::size_t top = 0) {
        Query q;
        q.range = {since, until};
        q.top = top;
        q.series = true;
        return queryHistory(list, q);
    }
    TempTree t;
    std::string list = t.path("WEEKLY.PML");
};

TEST_F(HistoryReportTest, WholeHistorySortedByGrowthWithMarksPercentAndPerDay) {
    const HistoryReport r = query({}, {});
    EXPECT_FALSE(r.emptyRange);
    EXPECT_FALSE(r.clockWentBackwards);
    EXPECT_EQ(r.snapshots.size(), 3u);
    EXPECT_EQ(paths(r),
              (std::vector<std::string>{"/a", "/new", "/b", "/back", "/e", "/gone", "/c"}));

    const DirectoryGrowth& a = *find(r, "/a");
    EXPECT_EQ(a.bytesChange, 3000);
    EXPECT_EQ(a.filesChange, 5);
    EXPECT_EQ(a.bytesPercent, 300.0);
    EXPECT_EQ(a.filesPercent, 50.0);
    EXPECT_EQ(a.bytesPerDay, 150.0);
    EXPECT_EQ(a.series.size(), 3u);
    EXPECT_FALSE(a.appeared || a.disappeared);

    const DirectoryGrowth& fresh = *find(r, "/new");  // from its first snapshot on
    EXPECT_TRUE(fresh.appeared);
    EXPECT_FALSE(fresh.disappeared);
    EXPECT_EQ(fresh.first.time, kT0 + 10 * kDay);
    EXPECT_EQ(fresh.bytesChange, 200);
    EXPECT_EQ(fresh.bytesPerDay, 20.0);
    EXPECT_EQ(fresh.series.size(), 2u);

    const DirectoryGrowth& gone = *find(r, "/gone");  // up to its last snapshot
    EXPECT_TRUE(gone.disappeared);
    EXPECT_EQ(gone.last.time, kT0 + 10 * kDay);
    EXPECT_EQ(gone.bytesPerDay, 0.0);

    const DirectoryGrowth& back = *find(r, "/back");  // left and came back: neither mark
    EXPECT_FALSE(back.appeared || back.disappeared);
    EXPECT_EQ(back.bytesChange, 20);
    EXPECT_EQ(back.bytesPerDay, 1.0);
    ASSERT_EQ(back.series.size(), 2u);
    EXPECT_EQ(back.series[1].time, kT0 + 20 * kDay);

    EXPECT_EQ(find(r, "/b")->bytesPercent, std::nullopt);  // grew from nothing
    EXPECT_EQ(find(r, "/b")->filesPercent, std::nullopt);
    EXPECT_EQ(find(r, "/c")->bytesPercent, -20.0);
    EXPECT_EQ(find(r, "/c")->bytesChange, -100);
}

TEST_F(HistoryReportTest, RangesAndTop) {
    struct Case {
        std::optional<std::int64_t> since, until;
        std::size_t top;
        std::vector<std::string> order;
        std::size_t snapshots, directories;
    };
    const Case cases[] = {
        {kT0 + kDay, {}, 0, {"/a", "/new", "/b", "/back", "/e", "/gone", "/c"}, 2, 7},
        {{}, kT0 + 15 * kDay, 0, {"/a", "/b", "/back", "/c", "/e", "/gone", "/new"}, 2, 7},
        {kT0 + 5 * kDay, kT0 + 15 * kDay, 0, {"/a", "/b", "/c", "/e", "/gone", "/new"}, 1, 6},
        {{}, {}, 2, {"/a", "/new"}, 3, 7},
    };
    for (const Case& c : cases) {
        const HistoryReport r = query(c.since, c.until, c.top);
        EXPECT_EQ(paths(r), c.order);
        EXPECT_EQ(r.snapshots.size(), c.snapshots);
        EXPECT_EQ(r.directoryCount, c.directories);
    }
    // From the second snapshot on, /new was there from the start and /gone left.
    HistoryReport r = query(kT0 + kDay, {});
    EXPECT_FALSE(find(r, "/new")->appeared);
    EXPECT_TRUE(find(r, "/gone")->disappeared);
    EXPECT_EQ(find(r, "/gone")->bytesPerDay, std::nullopt);  // one snapshot only
    EXPECT_TRUE(find(r, "/back")->appeared);
    // Up to the second, /new came and nothing left.
    r = query({}, kT0 + 15 * kDay);
    EXPECT_TRUE(find(r, "/new")->appeared);
    EXPECT_FALSE(find(r, "/gone")->disappeared);
    EXPECT_TRUE(find(r, "/back")->disappeared);
    // A single snapshot: no change, no rate.
    r = query(kT0 + 5 * kDay, kT0 + 15 * kDay);
    EXPECT_EQ(find(r, "/a")->bytesChange, 0);
    EXPECT_EQ(find(r, "/a")->bytesPerDay, std::nullopt);
    // Nothing in the range.
    r = query(kT0 + 30 * kDay, {});
    EXPECT_TRUE(r.emptyRange);
    EXPECT_TRUE(r.directories.empty());
}

TEST(History, ClockGoingBackwardsKeepsTheOrderOfRecording) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    recordSnapshot(list, snapshot(kT0, {row("/a", 100)}));
    recordSnapshot(list, snapshot(kT0 - kDay, {row("/a", 300)}));
    recordSnapshot(list, snapshot(kT0 + kDay, {row("/a", 600)}));

    HistoryReport r = queryHistory(list, {});
    EXPECT_TRUE(r.clockWentBackwards);
    EXPECT_EQ(r.directories[0].first.bytes, 100);
    EXPECT_EQ(r.directories[0].last.bytes, 600);
    r = queryHistory(list, {{{}, kT0}});  // the first two: last is recorded later, dated earlier
    EXPECT_TRUE(r.clockWentBackwards);
    EXPECT_EQ(r.directories[0].last.bytes, 300);
    EXPECT_EQ(r.directories[0].bytesPerDay, std::nullopt);
    EXPECT_FALSE(queryHistory(list, {{kT0, {}}}).clockWentBackwards);
}

TEST(History, EntriesAndFiguresComeBackExactly) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    const __int128 huge = static_cast<__int128>(1) << 70;
    std::vector<Row> rows = {row("/srv/a,b", 1), row("/srv/\"quoted\" name", 2),
                             row("/srv/caf\xe9\xff\x01", 3), row("", 4), row("/big", huge)};
    rows[0].allocated = 8192;
    rows[0].complete = false;
    rows[0].directories = 7;
    rows[0].overhead = 1234;
    rows.push_back(rows[1]);         // a duplicate entry is kept once
    for (int i = 0; i < 130; ++i) {  // enough to go in batches and one by one
        rows.push_back(row("/many/" + std::to_string(i), 1000 + i, i));
        rows.back().overhead = 3 * i;
    }
    recordSnapshot(list, snapshot(kT0, rows, "h\xc3\xb6st"));

    const HistoryReport r = queryHistory(list, {});
    ASSERT_EQ(r.directories.size(), 135u);
    EXPECT_EQ(r.snapshots[0].host, "h\xc3\xb6st");
    EXPECT_EQ(r.snapshots[0].listPath, "/lists/WEEKLY.PML");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i == 5) continue;  // the duplicate
        const DirectoryGrowth* g = find(r, rows[i].entry);
        ASSERT_NE(g, nullptr) << i;
        EXPECT_TRUE(g->first.bytes == rows[i].bytes) << i;
        EXPECT_EQ(g->first.allocated, rows[i].allocated);
        EXPECT_EQ(g->first.complete, rows[i].complete);
        EXPECT_EQ(g->first.directories, rows[i].directories);
        EXPECT_EQ(g->first.files, rows[i].files);
        EXPECT_EQ(g->first.overhead, rows[i].overhead);
    }
    EXPECT_EQ(toDecimal(huge), "1180591620717411303424");
    EXPECT_EQ(toDecimal(-huge), "-1180591620717411303424");
}

TEST(History, NoHistoryYet) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    try {
        queryHistory(list, {});
        ADD_FAILURE();
    } catch (const HistoryError& e) {
        EXPECT_EQ(e.kind(), HistoryError::Kind::NoHistory);
        EXPECT_EQ(std::string(e.what()),
                  "no history for " + list + " yet: run pelmora-cli export --history");
    }
    EXPECT_FALSE(std::filesystem::exists(historyFileName(list)));  // reading creates nothing
    t.write("WEEKLY.history.sqlite", "");                          // an empty file is a new history
    expectError(HistoryError::Kind::NoHistory, [&] { queryHistory(list, {}); });
    recordSnapshot(list, snapshot(kT0, {row("/a", 1)}));
    EXPECT_EQ(queryHistory(list, {}).directories.size(), 1u);
}

// Each child process records its own snapshots while another reads; none may be lost.
TEST(History, ConcurrentRecordersKeepEverySnapshot) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    constexpr int kWriters = 4, kEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w <= kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid != 0) {
            children.push_back(pid);
            continue;
        }
        int status = 0;
        try {
            for (int i = 0; i < kEach; ++i) {
                if (w == kWriters) {  // the reader
                    try {
                        queryHistory(list, {});
                    } catch (const HistoryError& e) {
                        if (e.kind() != HistoryError::Kind::NoHistory) throw;
                    }
                    continue;
                }
                std::vector<Row> rows;
                for (int k = 0; k < 200; ++k) rows.push_back(row("/d" + std::to_string(k), i));
                recordSnapshot(list, snapshot(kT0 + i, rows, "writer" + std::to_string(w)));
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "process %d: %s\n", w, e.what());
            status = 1;
        }
        ::_exit(status);
    }
    for (const pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const HistoryReport r = queryHistory(list, {});
    std::map<std::string, int> perWriter;
    for (const SnapshotInfo& s : r.snapshots) ++perWriter[s.host];
    EXPECT_EQ(r.snapshots.size(), std::size_t{kWriters * kEach});
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(perWriter["writer" + std::to_string(w)], kEach);
    EXPECT_EQ(r.directories.size(), 200u);
    EXPECT_EQ(r.directories[0].series.size(), 0u);  // not asked for
}

// A file that is not a usable history is reported by every call and keeps every byte.
TEST(History, FilesThatAreNotOursAreLeftAlone) {
    TempTree t;
    std::mt19937 rng(7);
    std::string noise(8192, '\0');
    for (char& c : noise) c = static_cast<char>(rng());

    // A real history, cut short.
    const std::string real = t.path("REAL.PML");
    for (int i = 0; i < 20; ++i) {
        std::vector<Row> rows;
        for (int k = 0; k < 300; ++k) rows.push_back(row("/dir/number/" + std::to_string(k), k));
        recordSnapshot(real, snapshot(kT0 + i, rows));
    }
    const std::string realBytes = readFile(historyFileName(real));
    ASSERT_GT(realBytes.size(), 16384u);

    // Someone else's SQLite database.
    const std::string other = t.path("OTHER.history.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(x); INSERT INTO notes VALUES (1)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    using K = HistoryError::Kind;
    const std::tuple<const char*, std::string, K> cases[] = {
        {"NOISE", noise, K::NotADatabase},
        {"TEXT", "/home/alice/Photos\r\n/home/alice/Music\r\n", K::NotADatabase},
        {"CUT", realBytes.substr(0, realBytes.size() / 2), K::Damaged},
        {"OTHER", readFile(other), K::NotADatabase},
    };
    for (const auto& [name, bytes, kind] : cases) {
        SCOPED_TRACE(name);
        const std::string list = t.path(std::string(name) + ".PML");
        const std::string file = historyFileName(list);
        t.write(std::string(name) + ".history.sqlite", bytes);
        expectError(kind, [&] { recordSnapshot(list, snapshot(kT0, {row("/a", 1)})); });
        expectError(kind, [&] { queryHistory(list, {}); });
        EXPECT_TRUE(readFile(file) == bytes);
    }
}

TEST(History, NewerSchemaIsRefused) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    recordSnapshot(list, snapshot(kT0, {row("/a", 1)}));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(historyFileName(list).c_str(), &db), SQLITE_OK);
    const std::string newer =
        "UPDATE schema_version SET version = " + std::to_string(kSchemaVersion + 1);
    ASSERT_EQ(sqlite3_exec(db, newer.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = readFile(historyFileName(list));

    expectError(HistoryError::Kind::NewerSchema,
                [&] { recordSnapshot(list, snapshot(kT0, {row("/a", 1)})); });
    expectError(HistoryError::Kind::NewerSchema, [&] { queryHistory(list, {}); });
    EXPECT_TRUE(readFile(historyFileName(list)) == before);
}

}  // namespace
}  // namespace pelmora::history
