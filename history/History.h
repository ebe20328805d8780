// Growth history of a watched list: snapshots of its directories' figures, kept in a SQLite
// database beside the list file, and the growth report read back from them. No Qt.
//
// The database. One per list file, beside it and named after it by the rule the data file's
// name follows (platform::replaceExtension: the last '.' after the last '/' and everything
// after it dropped), with ".history.sqlite" appended:
//   /lists/WEEKLY.PML -> /lists/WEEKLY.history.sqlite
//   /lists/MY.OLD.PML -> /lists/MY.OLD.history.sqlite
//   /lists/PLAIN      -> /lists/PLAIN.history.sqlite
//
// Safety. A database is only ever written when it is one of ours: before any write it is
// opened read-only and checked (SQLite's header, the application id, the schema_version table),
// so a file that is not a SQLite database, a damaged one (SQLITE_NOTADB, SQLITE_CORRUPT), a
// SQLite database holding something else, or one of a newer schema is reported and left byte
// for byte as it was. A missing or empty (0-byte) file is created afresh. The database runs in
// WAL mode with synchronous=FULL; every connection waits up to kBusyTimeoutMs for a lock; a
// snapshot is one BEGIN IMMEDIATE transaction, so concurrent recorders and readers never see or
// leave half a snapshot and none is lost. Readers open the database read-only and read inside
// one transaction, so a report is consistent while others record.
//
// Schema version 1:
//   schema_version(version)                         one row: 1
//   snapshot(id INTEGER PRIMARY KEY, time, host, list_path)
//       id: order of recording; time: seconds since 1970-01-01T00:00:00Z (INTEGER);
//       host: TEXT; list_path: BLOB (the list file's path as the recorder named it)
//   directory(id INTEGER PRIMARY KEY, path BLOB UNIQUE)   every entry ever recorded, as bytes
//   presence(directory, first_snapshot, last_snapshot)
//       runs of consecutive snapshots that hold a directory; last_snapshot is NULL while the
//       run goes on. A snapshot writes only where the list changed, and a report finds each
//       directory's first and last snapshot in a range without a scan.
//   figures(snapshot, directory, directories, files, bytes, overhead, allocated, complete)
//       primary key (snapshot, directory), so a snapshot's rows are appended in one place and
//       read back in one range; bytes is an INTEGER when it fits 64 bits (every real total
//       does) and otherwise its decimal digits as TEXT, so any total reads back exactly;
//       allocated is NULL when space on disk was not counted; complete is 0 or 1.
// SQLite keeps its -wal and -shm files beside the database.
// A later schema bumps the version and migrates older files when it first writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ioerror.h"

namespace pelmora::history {

inline constexpr int kSchemaVersion = 1;
inline constexpr int kBusyTimeoutMs = 10000;

// listFileName with its extension replaced by ".history.sqlite" (see above).
std::string historyFileName(std::string_view listFileName);

// Every failure of this module. what() is one line without a trailing full stop and without a
// program prefix; the caller adds "pelmora-cli: ". Paths appear as the bytes they are.
class HistoryError : public platform::PelmoraError {
  public:
    enum class Kind {
        // No database beside the list, an empty one, or one without any snapshot:
        // "no history for LIST yet: run pelmora-cli export --history"
        NoHistory,
        // Not a SQLite database, or a SQLite database that is not a Pelmora history:
        // "history 'DB' is not a SQLite database; left untouched"
        // "history 'DB' holds other data than a Pelmora history; left untouched"
        NotADatabase,
        // SQLite reports the file damaged:
        // "history 'DB' is damaged (database disk image is malformed); left untouched"
        Damaged,
        // Written by a later version: "history 'DB' has schema version 2; this program reads
        // version 1: use a newer Pelmora"
        NewerSchema,
        // Anything else (cannot create, permissions, disk full, locked beyond the timeout):
        // "cannot record a snapshot in 'DB': database or disk is full",
        // "cannot read history 'DB': unable to open database file", ...
        Failed,
    };
    HistoryError(Kind kind, const std::string& message) : PelmoraError(message), m_kind(kind) {}
    Kind kind() const { return m_kind; }

  private:
    Kind m_kind;
};

// One list entry's figures in a snapshot.
struct Row {
    std::string entry;  // the entry's bytes as the list holds them
    std::int64_t directories = 0;
    std::int64_t files = 0;
    __int128 bytes = 0;  // ByteTotal, exact (stats::Real48::toInt128)
    std::int64_t overhead = 0;
    std::optional<std::int64_t> allocated;  // space on disk; nullopt when not counted
    bool complete = true;                   // false when some directory could not be read
};

struct Snapshot {
    std::int64_t time = 0;  // seconds since 1970-01-01T00:00:00Z
    std::string host;
    std::string listPath;  // stored as given; callers pass the expanded path
    std::vector<Row> rows;
};

// The current time in whole seconds (UTC), and this machine's host name ("" when unknown).
std::int64_t nowUtc();
std::string hostName();

// Records `snapshot` in the database of `listFileName`, creating the database when there is
// none, and returns the new snapshot's id (ids grow in order of recording). An entry that
// occurs twice in `rows` is recorded once, with its first figures. Throws HistoryError
// (NotADatabase, Damaged, NewerSchema, Failed); nothing is recorded then.
std::int64_t recordSnapshot(std::string_view listFileName, const Snapshot& snapshot);

// Snapshots whose time lies in [since, until] (both inclusive; unset: unbounded).
struct Range {
    std::optional<std::int64_t> since;
    std::optional<std::int64_t> until;
};

struct Query {
    Range range;
    std::size_t top = 0;  // keep the first `top` directories of the sorted report; 0: all
    bool series = false;  // also fill DirectoryGrowth::series (for the chart)
};

// A directory's figures in one snapshot.
struct Figures {
    std::int64_t snapshot = 0;  // the snapshot's id
    std::int64_t time = 0;      // the snapshot's time
    std::int64_t directories = 0;
    std::int64_t files = 0;
    __int128 bytes = 0;
    std::int64_t overhead = 0;
    std::optional<std::int64_t> allocated;
    bool complete = true;
};

struct Point {
    std::int64_t time = 0;
    __int128 bytes = 0;
};

struct DirectoryGrowth {
    std::string path;  // the entry's bytes
    // At the range's first snapshot, or, for a directory that appeared later, at the first
    // snapshot of the range that holds it.
    Figures first;
    // At the range's last snapshot, or, for one that disappeared, at the last that holds it.
    Figures last;
    bool appeared = false;     // not in the range's first snapshot
    bool disappeared = false;  // not in the range's last snapshot
    __int128 bytesChange = 0;  // last.bytes - first.bytes
    std::int64_t filesChange = 0;
    // Change in percent of the first figure; nullopt when the first figure is 0.
    std::optional<double> bytesPercent;
    std::optional<double> filesPercent;
    // bytesChange per day over last.time - first.time; nullopt when first and last are the
    // same snapshot or the time between them is not positive (a clock that went backwards).
    std::optional<double> bytesPerDay;
    // Bytes at every snapshot of the range that holds the directory, in order of recording
    // (only when Query::series is set).
    std::vector<Point> series;
};

struct SnapshotInfo {
    std::int64_t id = 0;
    std::int64_t time = 0;
    std::string host;
    std::string listPath;
};

struct HistoryReport {
    std::vector<SnapshotInfo> snapshots;  // the snapshots in the range, in order of recording
    // Sorted by bytesChange, largest first, ties by path bytes; at most Query::top.
    std::vector<DirectoryGrowth> directories;
    std::size_t directoryCount = 0;  // directories in the range before the top cut
    bool emptyRange = false;         // history exists, but no snapshot lies in the range
    // Some snapshot of the range has an earlier time than one recorded before it: snapshots
    // are taken in order of recording, first and last are by recording, not by time.
    bool clockWentBackwards = false;
};

// Reads the growth report of `listFileName`'s history, never writing the database. Throws
// HistoryError: NoHistory, NotADatabase, Damaged, NewerSchema, Failed.
HistoryReport queryHistory(std::string_view listFileName, const Query& query);

// A full check of the database's structure (PRAGMA quick_check), read-only. Throws the errors
// of queryHistory; Damaged when the check finds a fault.
void checkHistory(std::string_view listFileName);

// "2026-12-08T12:00:00Z".
std::string formatUtc(std::int64_t time);

// Reads a UTC time: "2026-12-08", "2026-12-08T12:00", "2026-12-08T12:00:00", with 'T' or a
// space between date and time and an optional trailing "Z". A date alone means its first
// second, or its last one (23:59:59) when `endOfDay` is set (so that "--until 2026-12-08"
// takes in that day). nullopt for anything else, and for dates that do not exist.
std::optional<std::int64_t> parseUtc(std::string_view text, bool endOfDay = false);

// The decimal digits of `v`, with '-' when negative.
std::string toDecimal(__int128 v);

}  // namespace pelmora::history
