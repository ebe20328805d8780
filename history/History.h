// Growth history of a watched list: snapshots of its directories' figures, kept in a SQLite
// database beside the list file, and the growth report read back from them. No Qt.
//
// The database. One per folder and list name, beside the list file and named after it by the
// rule the data file's name follows (platform::replaceExtension: the last '.' after the last '/'
// and everything after it dropped), with ".history.sqlite" appended:
//   /lists/WEEKLY.PML -> /lists/WEEKLY.history.sqlite
//   /lists/MY.OLD.PML -> /lists/MY.OLD.history.sqlite
//   /lists/PLAIN      -> /lists/PLAIN.history.sqlite
// Lists whose names differ only in their extension (A.PML and A.pml, WEEKLY.BAK) thus share one
// file, but not one history: every snapshot records the path of its list, and a list's report
// takes only the snapshots recorded for a list of its own name (bare name, bytes compared).
//
// Trust. A history is used only when it is a regular file, reached through no symbolic link
// other than the user's own (or root's, for reading), with no link, non-regular file or file of
// a stranger as its -wal, -shm or -journal beside it; it is written only when it belongs to the
// user. Its schema must hold exactly the objects this program creates (no trigger, view or
// other table; every table as created), its application id Pelmora's, its version one this
// program reads. Every read and every recording begins with a full structural check (PRAGMA
// quick_check). Anything else is refused with a message naming the history and left byte for
// byte as it was. Triggers and views are switched off on every connection besides.
//
// Reading. Readers open the database read-only and read inside one transaction, so a report is
// consistent while others record. Where SQLite cannot make its -shm file beside the history (a
// read-only medium, a folder the reader may not write) and no -wal holds pages, the file is read
// as it lies on the disk (SQLite's immutable mode), and the read is taken again if the file
// changed meanwhile.
//
// Recording. A missing history is made complete (schema, WAL mode) under a temporary name beside
// its place, with 0666 less the umask as its permissions (those a new data file gets), and linked
// there in one step; on any failure that temporary file and every file SQLite made beside it are
// removed. A 0-byte file found in place is taken as a new history. The database runs in WAL mode
// with synchronous=FULL; every connection waits up to kBusyTimeoutMs for a lock; a snapshot is
// one BEGIN IMMEDIATE transaction, so concurrent recorders and readers never see or leave half a
// snapshot and none is lost. The snapshot's time is taken inside that transaction, so that
// snapshots recorded one after another have times in the same order.
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
// Schema version 2 adds where a directory grew (a version 1 history gains these tables, empty,
// in the transaction of the first snapshot recorded into it):
//   snapshot_depth(snapshot PRIMARY KEY, depth)
//       the depth down to which a snapshot holds its directories' subdirectories (1 to
//       kMaxChildDepth); none for a snapshot that holds none
//   subdirectory(id INTEGER PRIMARY KEY, parent, name BLOB, UNIQUE (parent, name))
//       parent: the directory (a list entry) it lies in; name: its path below it ("src",
//       "src/lib"), "" for "(other)", the subdirectories a snapshot leaves out taken together
//   subdirectory_figures(parent, subdirectory, snapshot, directories, files, bytes, complete)
//       a row only where a subdirectory's figures changed since its last row (a tree that
//       stays as it is adds nothing a week, and the check of the whole file that begins every
//       recording stays short), NULL bytes where it is no longer there (or left out, to
//       "(other)"); its figures as of a snapshot are those of its last row up to it, in a
//       snapshot that holds subdirectories. Primary key (parent, subdirectory, snapshot), so
//       that last row is one seek; bytes otherwise as in figures
// SQLite keeps its -wal and -shm files beside the database.
// A later schema bumps the version, adds its objects to the one list of them in Database.cpp,
// and migrates older files when it first writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ioerror.h"

namespace pelmora::history {

inline constexpr int kSchemaVersion = 2;
// Subdirectories kept per directory and snapshot: down to at most kMaxChildDepth levels, at most
// kMaxChildren of them (the largest by bytes), the rest summed in one "(other)" row.
inline constexpr unsigned kMaxChildDepth = 3;
inline constexpr unsigned kDefaultChildDepth = 1;
inline constexpr std::size_t kMaxChildren = 1000;
inline constexpr int kBusyTimeoutMs = 10000;
// The growth per day is given for intervals of at least a day: over a shorter one a rate per day
// would be an extrapolation, and the change and the interval say more.
inline constexpr std::int64_t kSecondsPerDay = 86400;
// The most directories a report keeps (history --top) and a chart draws (pelmora-chart --top,
// history --plot --top).
inline constexpr std::size_t kMaxTop = 1000000;
inline constexpr std::size_t kMaxChartTop = 100;

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
        // "history 'DB' holds a trigger 'T' that Pelmora did not create; left untouched"
        NotADatabase,
        // Not to be trusted with the user's figures: a link of someone else's, not a regular
        // file, another user's file (for recording), or such a file beside it:
        // "history 'DB' belongs to another user; left untouched"
        // "history 'DB' cannot be used: 'DB-wal' beside it is a symbolic link; left untouched"
        Refused,
        // SQLite reports the file damaged:
        // "history 'DB' is damaged (database disk image is malformed); left untouched"
        Damaged,
        // Written by a later version: "history 'DB' has schema version 2; this program reads
        // version 1: use a newer Pelmora"
        NewerSchema,
        // history --explain of a directory that no snapshot of the list holds:
        // "no snapshot of LIST holds the directory DIR"
        NotWatched,
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

// A subdirectory's figures below a list entry in a snapshot (those of a count started there).
struct ChildRow {
    std::string name;  // its path below the entry: "src", "src/lib"; "" for "(other)"
    std::int64_t directories = 0;
    std::int64_t files = 0;
    __int128 bytes = 0;
    bool complete = true;
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
    // Its subdirectories down to Snapshot::depth, any number and in any order: a snapshot keeps
    // those that keepLargest keeps.
    std::vector<ChildRow> children;
};

struct Snapshot {
    // Seconds since 1970-01-01T00:00:00Z; unset: the time of recording (taken by recordSnapshot
    // inside its transaction).
    std::optional<std::int64_t> time;
    std::string host;
    std::string listPath;  // stored as given; callers pass the expanded path
    std::vector<Row> rows;
    // The depth down to which the rows hold their subdirectories (1 to kMaxChildDepth); 0: they
    // hold none, and the snapshot tells nothing of where its directories grew.
    unsigned depth = 0;
};

// The `most` largest of `children` by bytes (ties: the shallower, then by name), which always
// holds the directories above each one kept, sorted so; the subdirectories of the first level
// left out are summed in one row named "" at the end: their number and the directories below
// them, their files and their bytes, complete when all of them are (added to a row named ""
// that `children` holds already: a list kept so before keeps as it is).
std::vector<ChildRow> keepLargest(std::vector<ChildRow> children, std::size_t most = kMaxChildren);

// The current time in whole seconds (UTC), and this machine's host name ("" when unknown).
std::int64_t nowUtc();
std::string hostName();

// Records `snapshot` in the database of `listFileName`, creating the database when there is
// none, and returns the new snapshot's id (ids grow in order of recording). An entry that
// occurs twice in `rows` is recorded once, with its first figures. Throws HistoryError
// (NotADatabase, Refused, Damaged, NewerSchema, Failed); nothing is recorded then.
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
    // bytesChange per day over last.time - first.time; nullopt when that interval is shorter
    // than kSecondsPerDay (first and last the same snapshot, a clock that went backwards
    // included).
    std::optional<double> bytesPerDay;
    // Bytes at every snapshot of the range that holds the directory, in order of recording
    // (only when Query::series is set).
    std::vector<Point> series;
    // In the report of the list: the name of its subdirectory (first level) that grew most in
    // bytes between `first` and `last`, when both snapshots hold its subdirectories and one
    // grew; "" for "(other)".
    std::optional<std::string> grewMost;
    // In an explanation (explainHistory), for a subdirectory: the share of the directory's
    // change in bytes that its own change makes, in percent (nullopt when the directory's
    // change is 0); `other` for the "(other)" row (whose path is "(other)"). A subdirectory
    // that one of the two snapshots left out as one of the smaller ones, to its "(other)" row,
    // is marked inOtherFirst or inOtherLast instead of appeared or disappeared: its figures
    // there count 0, and "(other)"'s change makes up for it.
    std::optional<double> share;
    bool other = false;
    bool inOtherFirst = false;
    bool inOtherLast = false;
};

struct SnapshotInfo {
    std::int64_t id = 0;
    std::int64_t time = 0;
    std::string host;
    std::string listPath;
};

struct HistoryReport {
    // The snapshots of this list in the range, in order of recording.
    std::vector<SnapshotInfo> snapshots;
    // Sorted by bytesChange, largest first, ties by path bytes; at most Query::top.
    std::vector<DirectoryGrowth> directories;
    std::size_t directoryCount = 0;  // directories in the range before the top cut
    bool emptyRange = false;         // history exists, but no snapshot lies in the range
    // Some snapshot of the range has an earlier time than one recorded before it: snapshots
    // are taken in order of recording, first and last are by recording, not by time.
    bool clockWentBackwards = false;
};

// Where one directory of the list grew: its subdirectories' change between the first and the
// last snapshot of the range that hold its subdirectories.
struct Explanation {
    // The snapshots of this list in the range that hold the directory's subdirectories.
    std::vector<SnapshotInfo> snapshots;
    // The directory's own growth between the first and the last of them (its `series` with
    // Query::series); unset when no snapshot of the range holds its subdirectories.
    std::optional<DirectoryGrowth> directory;
    // Its subdirectories down to `depth`, each with the change from the first to the last of
    // those snapshots (a subdirectory missing from one of them counts 0 there), their paths in
    // full ("(other)" for that row); sorted by the size of the change in bytes, growth or
    // shrinking, largest first, ties by path; at most Query::top.
    std::vector<DirectoryGrowth> subdirectories;
    std::size_t subdirectoryCount = 0;  // before the top cut
    // The lesser depth of the first and the last snapshot: deeper rows are left out.
    unsigned depth = 0;
    bool emptyRange = false;  // no snapshot of this list lies in the range
    bool clockWentBackwards = false;
};

// Reads where `directory` (a list entry, its bytes as the list holds them) grew, never writing
// the database. Throws as queryHistory does, and HistoryError::Kind::NotWatched when no
// snapshot of this list holds the directory.
Explanation explainHistory(std::string_view listFileName, std::string_view directory,
                           const Query& query);

// Reads the growth report of `listFileName`'s history, never writing the database. Memory
// follows what is kept: with Query::top set, the top directories and the snapshots, however
// many directories the history holds. Throws HistoryError: NoHistory (also for a history
// without a snapshot of this list), NotADatabase, Refused, Damaged, NewerSchema, Failed.
HistoryReport queryHistory(std::string_view listFileName, const Query& query);

// The N of --top: a decimal number from 1 to `most`; nullopt for anything else.
std::optional<std::size_t> parseTop(std::string_view text, std::size_t most);

// ---- times (history/Times.cpp; the calendar is std::chrono's) ----

// "2026-12-08T12:00:00Z".
std::string formatUtc(std::int64_t time);

// A time the user gives, as seconds since 1970-01-01T00:00:00Z:
//   dates:   2026-12-08, 20261208 (a date alone means its first second, or its last one,
//            23:59:59, when `endOfDay` is set, so that "--until 2026-12-08" takes in that day)
//   times:   the date, 'T' (or a space), then 12:00, 12:00:00, 1200 or 120000 (a decimal
//            fraction of a second is allowed and dropped), then an optional offset: Z, +01:00,
//            -0530, +01; without one the time is UTC
//   ages:    N and a unit, back from `now`: 6h (hours), 30d (days), 12w (weeks), 1y (calendar
//            years: the same date and time N years earlier, Feb 29 becoming Feb 28)
// nullopt for anything else, and for dates and times that do not exist.
std::optional<std::int64_t> parseTime(std::string_view text, bool endOfDay, std::int64_t now);

// The forms parseTime reads, for a usage message.
inline constexpr std::string_view kTimeForms =
    "use YYYY-MM-DD, YYYYMMDD, YYYY-MM-DDTHH:MM[:SS][Z|+HH:MM] or an age: 6h, 30d, 12w, 1y";

// A length of time in words, by its largest unit below two of the next: "1 second",
// "59 seconds", "5 minutes", "3 hours", "12 days".
std::string formatInterval(std::int64_t seconds);

// The decimal digits of `v`, with '-' when negative.
std::string toDecimal(__int128 v);

}  // namespace pelmora::history
