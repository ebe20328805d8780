// The history trusts no one: links and files of other users, things that are not files, schema
// objects Pelmora did not create and damage are refused and left as they were; a history is
// readable where SQLite cannot make its files, gets the data file's permissions, and a failed
// first recording leaves nothing behind. The tests run as root; "another user" is 65534.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "history/History.h"
#include "tests/support/Child.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"

namespace pelmora::history {
namespace {

using test::namesIn;
using test::readFile;
using test::TempTree;
using K = HistoryError::Kind;
constexpr std::int64_t kT0 = 1796731200;  // 2026-12-08T12:00:00Z
constexpr uid_t kOther = 65534;

Snapshot snapshotOf(const std::string& list, int directories, std::int64_t time = kT0) {
    Snapshot s{time, "box", list, {}};
    for (int i = 0; i < directories; ++i) {
        Row r;
        r.entry = "/srv/d" + std::to_string(i);
        r.bytes = 1000 + i;
        s.rows.push_back(r);
    }
    return s;
}

// What the call raises: its kind and message, or nothing.
struct Outcome {
    std::optional<K> kind;
    std::string what;
};
Outcome outcomeOf(const std::function<void()>& f) {
    try {
        f();
        return {};
    } catch (const HistoryError& e) {
        return {e.kind(), e.what()};
    }
}

// The names in `dir`, but for the -wal and -shm SQLite keeps beside a history it reads.
std::set<std::string> ownNames(const std::string& dir) {
    std::set<std::string> names;
    for (const std::string& n : namesIn(dir))
        if (!n.ends_with(".sqlite-wal") && !n.ends_with(".sqlite-shm")) names.insert(n);
    return names;
}

// The bytes of a regular file, "" for anything else (a fifo is never opened).
std::string bytesOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? readFile(path) : "";
}

void execSql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST(HistoryTrust, FilesItCannotTrustAreRefusedAndLeftAsTheyWere) {
    struct Case {
        const char* what;
        // Plants something at or beside `db`, the history of the list; `real` is a history.
        std::function<void(const TempTree&, const std::string& db, const std::string& real)> plant;
        K record;
        std::optional<K> read;  // nullopt: read as usual
        const char* message;    // in both messages
    };
    const auto copy = [](const std::string& from, const std::string& to) {
        test::writeBytes(to, readFile(from));
    };
    const Case cases[] = {
        {"another user's link to an empty file of root's",
         [](const TempTree& t, const std::string& db, const std::string&) {
             t.write("VICTIM", "");
             ASSERT_EQ(::symlink(t.path("VICTIM").c_str(), db.c_str()), 0);
             ASSERT_EQ(::lchown(db.c_str(), kOther, kOther), 0);
         },
         K::Refused, K::Refused, "is a symbolic link owned by another user"},
        {"the user's own link to nothing",
         [](const TempTree& t, const std::string& db, const std::string&) {
             ASSERT_EQ(::symlink(t.path("VICTIM").c_str(), db.c_str()), 0);
         },
         K::Refused, K::NoHistory, "link to nothing"},
        {"a fifo",
         [](const TempTree&, const std::string& db, const std::string&) {
             ASSERT_EQ(::mkfifo(db.c_str(), 0666), 0);
         },
         K::Refused, K::Refused, "is not a regular file"},
        {"a directory",
         [](const TempTree&, const std::string& db, const std::string&) {
             ASSERT_EQ(::mkdir(db.c_str(), 0777), 0);
         },
         K::Refused, K::Refused, "is not a regular file"},
        {"a history of another user's, open to all",
         [&](const TempTree&, const std::string& db, const std::string& real) {
             copy(real, db);
             ASSERT_EQ(::chown(db.c_str(), kOther, kOther), 0);
             ASSERT_EQ(::chmod(db.c_str(), 0666), 0);
         },
         K::Refused, std::nullopt, "belongs to another user"},
        {"a link as its -wal",
         [&](const TempTree& t, const std::string& db, const std::string& real) {
             copy(real, db);
             t.write("VICTIM", "");
             ASSERT_EQ(::symlink(t.path("VICTIM").c_str(), (db + "-wal").c_str()), 0);
         },
         K::Refused, K::Refused, "-wal' beside it is a symbolic link"},
        {"another user's -shm",
         [&](const TempTree&, const std::string& db, const std::string& real) {
             copy(real, db);
             test::writeBytes(db + "-shm", "");
             ASSERT_EQ(::chown((db + "-shm").c_str(), kOther, kOther), 0);
         },
         K::Refused, K::Refused, "-shm' beside it belongs to another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree t;
        t.dir("real");
        const std::string real = t.path("real/WEEKLY.PML");  // a history of a list of its name
        recordSnapshot(real, snapshotOf(real, 3));
        const std::string list = t.path("WEEKLY.PML");
        const std::string db = historyFileName(list);
        c.plant(t, db, historyFileName(real));
        const std::set<std::string> before = ownNames(t.root());
        const std::string dbBytes = bytesOf(db), victim = readFile(t.path("VICTIM"));

        const Outcome recorded = outcomeOf([&] { recordSnapshot(list, snapshotOf(list, 1)); });
        EXPECT_EQ(recorded.kind, c.record) << recorded.what;
        EXPECT_NE(recorded.what.find(c.message), std::string::npos) << recorded.what;
        const Outcome read = outcomeOf([&] { queryHistory(list, {}); });
        EXPECT_EQ(read.kind, c.read) << read.what;
        if (read.kind == K::Refused) {
            EXPECT_NE(read.what.find(c.message), std::string::npos) << read.what;
        }

        EXPECT_TRUE(bytesOf(db) == dbBytes);
        EXPECT_EQ(readFile(t.path("VICTIM")), victim);
        EXPECT_EQ(ownNames(t.root()), before);
    }
}

// A history of its own beside it, followed through the user's link: written where it lies.
TEST(HistoryTrust, TheUsersOwnLinkToTheUsersHistoryIsFollowed) {
    TempTree t;
    const std::string real = t.path("elsewhere/REAL.PML");
    t.dir("elsewhere");
    recordSnapshot(real, snapshotOf(real, 2));
    const std::string list = t.path("WEEKLY.PML");
    ASSERT_EQ(::symlink(historyFileName(real).c_str(), historyFileName(list).c_str()), 0);
    recordSnapshot(list, snapshotOf(list, 2, kT0 + 60));
    EXPECT_EQ(queryHistory(list, {}).snapshots.size(), 1u);  // its own, beside REAL's one
    EXPECT_EQ(queryHistory(real, {}).snapshots.size(), 1u);
}

// What SQLite itself would accept, but this program did not create: refused, never run.
TEST(HistoryTrust, SchemaObjectsPelmoraDidNotCreateAreRefused) {
    const std::pair<const char*, const char*> cases[] = {
        {"CREATE TRIGGER t AFTER INSERT ON figures BEGIN UPDATE figures SET bytes = 12345; END",
         "holds a trigger 't' that Pelmora did not create"},
        {"CREATE VIEW v AS SELECT 1", "holds a view 'v' that Pelmora did not create"},
        {"CREATE TABLE notes(x)", "holds a table 'notes' that Pelmora did not create"},
        {"CREATE INDEX i ON figures(bytes)", "holds an index 'i' that Pelmora did not create"},
        {"ALTER TABLE figures ADD COLUMN x DEFAULT 7",
         "holds a table 'figures' other than Pelmora created"},
        {"DROP TABLE presence", "holds other data than a Pelmora history"},
    };
    for (const auto& [sql, message] : cases) {
        SCOPED_TRACE(sql);
        TempTree t;
        const std::string list = t.path("WEEKLY.PML");
        recordSnapshot(list, snapshotOf(list, 3));
        execSql(historyFileName(list), sql);
        const std::string bytes = readFile(historyFileName(list));
        for (const auto& call :
             {std::function<void()>([&] { recordSnapshot(list, snapshotOf(list, 3, kT0 + 1)); }),
              std::function<void()>([&] { queryHistory(list, {}); })}) {
            const Outcome o = outcomeOf(call);
            EXPECT_EQ(o.kind, K::NotADatabase) << o.what;
            EXPECT_EQ(o.what,
                      "history '" + historyFileName(list) + "' " + message + "; left untouched");
        }
        EXPECT_TRUE(readFile(historyFileName(list)) == bytes);
    }
}

// A history as the first release of the history wrote it, made here by its own statements.
TEST(HistoryTrust, AHistoryOfTheFirstReleaseKeepsWorking) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    execSql(historyFileName(list), R"sql(
PRAGMA journal_mode = WAL;
CREATE TABLE schema_version (version INTEGER NOT NULL);
CREATE TABLE snapshot (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time INTEGER NOT NULL,
    host TEXT NOT NULL,
    list_path BLOB NOT NULL
);
CREATE TABLE directory (
    id INTEGER PRIMARY KEY,
    path BLOB NOT NULL UNIQUE
);
CREATE TABLE presence (
    directory INTEGER NOT NULL REFERENCES directory(id),
    first_snapshot INTEGER NOT NULL,
    last_snapshot INTEGER,
    PRIMARY KEY (directory, first_snapshot)
) WITHOUT ROWID;
CREATE TABLE figures (
    snapshot INTEGER NOT NULL REFERENCES snapshot(id),
    directory INTEGER NOT NULL REFERENCES directory(id),
    directories INTEGER NOT NULL,
    files INTEGER NOT NULL,
    bytes NOT NULL,
    overhead INTEGER NOT NULL,
    allocated INTEGER,
    complete INTEGER NOT NULL CHECK (complete IN (0, 1)),
    PRIMARY KEY (snapshot, directory)
) WITHOUT ROWID;
PRAGMA application_id = 1347177800;
INSERT INTO schema_version(version) VALUES (1);
)sql");
    recordSnapshot(list, snapshotOf(list, 2));
    recordSnapshot(list, snapshotOf(list, 3, kT0 + 86400));
    const HistoryReport r = queryHistory(list, {});
    EXPECT_EQ(r.snapshots.size(), 2u);
    EXPECT_EQ(r.directories.size(), 3u);
}

// Bytes overwritten in a page that neither a report nor a recording reads (the index of the
// directories' paths): only the check of the whole file finds them.
TEST(HistoryTrust, ADamagedHistoryIsReportedAndLeftByteForByte) {
    TempTree t;
    const std::string list = t.path("WEEKLY.PML");
    for (int i = 0; i < 3; ++i) recordSnapshot(list, snapshotOf(list, 300, kT0 + i));
    const std::string db = historyFileName(list);
    std::int64_t page = 0;
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(h, "SELECT rootpage FROM sqlite_schema WHERE type = 'index'", -1, &s,
                           nullptr);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        page = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        sqlite3_close(h);
    }
    std::string bytes = readFile(db);
    for (int i = 0; i < 2000; ++i) bytes[(page - 1) * 4096 + 8 + i] = static_cast<char>(i * 37);
    test::writeBytes(db, bytes);

    for (const auto& call :
         {std::function<void()>([&] { recordSnapshot(list, snapshotOf(list, 300, kT0 + 9)); }),
          std::function<void()>([&] { queryHistory(list, {}); })}) {
        const Outcome o = outcomeOf(call);
        EXPECT_EQ(o.kind, K::Damaged) << o.what;
        EXPECT_EQ(o.what.rfind("history '" + db + "' is damaged (", 0), 0u) << o.what;
        EXPECT_EQ(o.what.find('\n'), std::string::npos) << o.what;
    }
    EXPECT_TRUE(readFile(db) == bytes);
}

// Another user reads root's history in root's folder, and root reads one on a read-only
// medium: SQLite can make no -shm there, and nothing is left beside the history.
TEST(HistoryTrust, ReadableWhereSQLiteCannotMakeItsFiles) {
    TempTree t;
    const std::string list = t.path("shared/WEEKLY.PML");
    t.dir("shared");
    recordSnapshot(list, snapshotOf(list, 4));
    ASSERT_EQ(::chmod(t.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(t.path("shared").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(historyFileName(list).c_str(), 0644), 0);
    const std::vector<std::string> before = namesIn(t.path("shared"));
    EXPECT_EQ(test::inChild([&]() -> std::string {
                  if (!test::dropToNobody()) return "cannot drop root";
                  const HistoryReport r = queryHistory(list, {});
                  return r.directories.size() == 4 ? ""
                                                   : "read " + std::to_string(r.directories.size());
              }),
              "");
    EXPECT_EQ(namesIn(t.path("shared")), before);

    const std::string medium = t.dir("medium");
    const test::PrivateTmpfs tmpfs(medium, "size=1m");
    if (!tmpfs.ok()) GTEST_SKIP() << tmpfs.why();
    const std::string onMedium = medium + "/WEEKLY.PML";
    test::writeBytes(historyFileName(onMedium), readFile(historyFileName(list)));
    ASSERT_EQ(::mount(nullptr, medium.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(queryHistory(onMedium, {}).directories.size(), 4u);
    const Outcome o = outcomeOf([&] { recordSnapshot(onMedium, snapshotOf(onMedium, 1)); });
    EXPECT_EQ(o.kind, K::Failed);
    EXPECT_NE(o.what.find("Read-only file system"), std::string::npos) << o.what;
    EXPECT_EQ(namesIn(medium), std::vector<std::string>{"WEEKLY.history.sqlite"});
}

TEST(HistoryTrust, ANewHistoryGetsTheDataFilesPermissions) {
    for (const mode_t mask : {022, 027, 077, 002}) {
        TempTree t;
        const mode_t previous = ::umask(mask);
        const std::string list = t.path("WEEKLY.PML");
        recordSnapshot(list, snapshotOf(list, 1));
        ::umask(previous);
        struct stat st {};
        ASSERT_EQ(::stat(historyFileName(list).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << std::oct << mask;
    }
}

// No room on the disk, or no inode left, for a new history: the message names the history, not
// a temporary file, and nothing but the history's own files (the complete empty history and
// SQLite's -wal beside it, when the last inode ran out only then) is left.
TEST(HistoryTrust, AFailedFirstRecordingLeavesNoTemporaryFile) {
    struct Case {
        const char* options;
        bool fill;
    };
    const Case cases[] = {{"size=64k", true},
                          {"nr_inodes=3", false},
                          {"nr_inodes=4", false},
                          {"nr_inodes=5", false},
                          {"nr_inodes=6", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TempTree t;
        const std::string dir = t.dir("disk");
        const test::PrivateTmpfs tmpfs(dir, c.options);
        if (!tmpfs.ok()) GTEST_SKIP() << tmpfs.why();
        const std::string list = dir + "/WEEKLY.PML";
        test::writeBytes(list, "/srv\r\n");
        if (c.fill) {
            ASSERT_TRUE(test::fillUp(dir + "/fill"));
        }
        const Outcome o = outcomeOf([&] { recordSnapshot(list, snapshotOf(list, 50)); });
        if (o.kind) {
            EXPECT_EQ(o.kind, K::Failed);
            EXPECT_EQ(
                o.what.rfind("cannot record a snapshot in '" + historyFileName(list) + "': ", 0),
                0u)
                << o.what;
        }
        for (const std::string& name : namesIn(dir))
            EXPECT_TRUE(name == "WEEKLY.PML" || name == "fill" ||
                        name.starts_with("WEEKLY.history.sqlite"))
                << name;
        if (c.fill) {
            EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"WEEKLY.PML", "fill"}));
        }
    }
}

}  // namespace
}  // namespace pelmora::history
