#include "history/History.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/paths.h"

namespace pelmora::history {

namespace {

// "PLMH" in the database header's application id field: marks a Pelmora history.
constexpr std::int32_t kApplicationId = 0x504c4d48;

const char* const kCreateSchema = R"sql(
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
)sql";

enum class Mode { Read, Write };

// SQLite said "database is locked" without waiting (it does so where waiting could deadlock).
// Nothing was committed then, so the writer may try again.
class BusyError : public HistoryError {
  public:
    using HistoryError::HistoryError;
};

// Turns SQLite's result codes into HistoryError for one database.
struct Target {
    std::string listFileName;
    std::string path;  // the database
    Mode mode;

    [[noreturn]] void raise(HistoryError::Kind kind, const std::string& what) const {
        throw HistoryError(kind, what);
    }
    [[noreturn]] void noHistory() const {
        raise(HistoryError::Kind::NoHistory,
              "no history for " + listFileName + " yet: run pelmora-cli export --history");
    }
    [[noreturn]] void otherData() const {
        raise(HistoryError::Kind::NotADatabase,
              "history '" + path + "' holds other data than a Pelmora history; left untouched");
    }
    std::string prefix() const {
        return mode == Mode::Write ? "cannot record a snapshot in '" : "cannot read history '";
    }
    [[noreturn]] void failed(const std::string& reason) const {
        raise(HistoryError::Kind::Failed, prefix() + path + "': " + reason);
    }
    [[noreturn]] void sqliteFailed(int rc, sqlite3* db) const {
        switch (rc & 0xff) {
            case SQLITE_NOTADB:
                raise(HistoryError::Kind::NotADatabase,
                      "history '" + path + "' is not a SQLite database; left untouched");
            case SQLITE_CORRUPT:
                raise(HistoryError::Kind::Damaged, "history '" + path + "' is damaged (" +
                                                       sqlite3_errstr(rc) + "); left untouched");
            case SQLITE_BUSY:
                throw BusyError(HistoryError::Kind::Failed,
                                prefix() + path + "': " + sqlite3_errstr(rc));
            default:
                failed(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        }
    }
};

class Statement {
  public:
    Statement(sqlite3* db, const Target& target, const char* sql) : m_db(db), m_target(target) {
        const int rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
        if (rc != SQLITE_OK) target.sqliteFailed(rc, db);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True while there is a row; false when done.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        m_target.sqliteFailed(rc, m_db);
    }
    void reset() { sqlite3_reset(m_stmt); }
    void bind(int i, std::int64_t v) { check(sqlite3_bind_int64(m_stmt, i, v)); }
    void bindBlob(int i, std::string_view v) {
        // A zero-length blob still binds as a blob, not NULL, with a non-null pointer.
        check(sqlite3_bind_blob64(m_stmt, i, v.empty() ? "" : v.data(), v.size(), SQLITE_STATIC));
    }
    void bindText(int i, std::string_view v) {
        check(sqlite3_bind_text64(m_stmt, i, v.data(), v.size(), SQLITE_STATIC, SQLITE_UTF8));
    }
    void bindNull(int i) { check(sqlite3_bind_null(m_stmt, i)); }
    void bindBytes(int i, __int128 v) {
        if (v >= std::numeric_limits<std::int64_t>::min() &&
            v <= std::numeric_limits<std::int64_t>::max())
            bind(i, static_cast<std::int64_t>(v));
        else
            bindTextCopy(i, toDecimal(v));
    }

    std::int64_t integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    bool isNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
    // Valid until the next step or reset.
    std::string_view view(int col) const {
        const void* p = sqlite3_column_blob(m_stmt, col);
        const int n = sqlite3_column_bytes(m_stmt, col);
        return p == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(p), n);
    }
    std::string bytes(int col) const {
        const void* p = sqlite3_column_blob(m_stmt, col);
        const int n = sqlite3_column_bytes(m_stmt, col);
        return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
    }
    __int128 total(int col) const {
        if (sqlite3_column_type(m_stmt, col) != SQLITE_TEXT) return integer(col);
        const std::string text = bytes(col);
        __int128 v = 0;
        std::size_t i = text.starts_with('-') ? 1 : 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') m_target.sqliteFailed(SQLITE_CORRUPT, nullptr);
            v = v * 10 + (text[i] - '0');
        }
        return text.starts_with('-') ? -v : v;
    }

  private:
    void check(int rc) {
        if (rc != SQLITE_OK) m_target.sqliteFailed(rc, m_db);
    }
    void bindTextCopy(int i, const std::string& v) {
        check(sqlite3_bind_text64(m_stmt, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    }

    sqlite3* m_db;
    const Target& m_target;
    sqlite3_stmt* m_stmt = nullptr;
};

class Connection {
  public:
    Connection(const Target& target, int flags) : m_target(target) {
        const int rc = sqlite3_open_v2(target.path.c_str(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            try {
                target.sqliteFailed(rc, m_db);
            } catch (...) {
                sqlite3_close_v2(m_db);  // a failed open still leaves a handle to release
                throw;
            }
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    }
    ~Connection() {
        if (m_inTransaction) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db; }
    const Target& target() const { return m_target; }

    void exec(const char* sql) {
        const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) m_target.sqliteFailed(rc, m_db);
    }
    void begin(const char* sql) {
        exec(sql);
        m_inTransaction = true;
    }
    void commit() {
        exec("COMMIT");
        m_inTransaction = false;
    }
    std::int64_t pragmaInteger(const char* sql) {
        Statement s(m_db, m_target, sql);
        return s.step() ? s.integer(0) : 0;
    }

  private:
    const Target& m_target;
    sqlite3* m_db = nullptr;
    bool m_inTransaction = false;
};

enum class SchemaState { Empty, Ours };

// Reads what the database holds without writing it. Empty: no schema at all (a new file).
// Runs inside a transaction, so that all its reads see the same state.
SchemaState checkSchema(Connection& c) {
    const std::int64_t applicationId = c.pragmaInteger("PRAGMA application_id");
    const std::int64_t objects = c.pragmaInteger("SELECT count(*) FROM sqlite_schema");
    if (objects == 0 && applicationId == 0) return SchemaState::Empty;
    if (applicationId != kApplicationId) c.target().otherData();
    if (c.pragmaInteger("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = "
                        "'schema_version'") == 0)
        c.target().otherData();
    const std::int64_t version = c.pragmaInteger("SELECT max(version) FROM schema_version");
    if (version > kSchemaVersion)
        c.target().raise(HistoryError::Kind::NewerSchema,
                         "history '" + c.target().path + "' has schema version " +
                             std::to_string(version) + "; this program reads version " +
                             std::to_string(kSchemaVersion) + ": use a newer Pelmora");
    if (version < 1) c.target().otherData();
    // Older versions would be migrated here, inside the writer's transaction.
    return SchemaState::Ours;
}

// checkSchema in a read transaction of its own: its statements see one state of the file, not
// the empty file before and the created schema after another recorder's first commit.
SchemaState checkSchemaAlone(Connection& c) {
    c.begin("BEGIN");
    const SchemaState state = checkSchema(c);
    c.commit();
    return state;
}

void createSchema(Connection& c) {
    c.exec(kCreateSchema);
    c.exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    c.exec(("INSERT INTO schema_version(version) VALUES (" + std::to_string(kSchemaVersion) + ")")
               .c_str());
}

// Size of the database file, or nullopt when there is none.
std::optional<off_t> fileSize(const Target& target) {
    struct stat st;
    if (::stat(target.path.c_str(), &st) == 0) return st.st_size;
    if (errno == ENOENT) return std::nullopt;
    target.failed(std::strerror(errno));
}

Figures readFigures(const Statement& s, std::int64_t snapshot, std::int64_t time) {
    // Columns 1..6: directories, files, bytes, overhead, allocated, complete.
    Figures f;
    f.snapshot = snapshot;
    f.time = time;
    f.directories = s.integer(1);
    f.files = s.integer(2);
    f.bytes = s.total(3);
    f.overhead = s.integer(4);
    if (!s.isNull(5)) f.allocated = s.integer(5);
    f.complete = s.integer(6) != 0;
    return f;
}

std::optional<double> percentOf(__int128 change, __int128 first) {
    if (first == 0) return std::nullopt;
    return static_cast<double>(change) * 100.0 / static_cast<double>(first);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

std::string historyFileName(std::string_view listFileName) {
    return platform::replaceExtension(listFileName, ".history.sqlite");
}

std::int64_t nowUtc() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

namespace {

// A new history is made complete (WAL mode, schema) under a temporary name beside its place and
// linked there in one step, so that no process ever opens it half made: concurrent first
// recorders would otherwise meet in SQLite's rollback mode, where one can fail at once with
// "database is locked". Whoever links first wins; the others use that file.
void createHistoryFile(const Target& target) {
    std::string temporary = target.path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) target.failed(std::strerror(errno));
    ::close(fd);
    try {
        {
            const Target made{target.listFileName, temporary, Mode::Write};
            Connection c(made, SQLITE_OPEN_READWRITE);
            {
                Statement mode(c.handle(), made, "PRAGMA journal_mode = WAL");
                if (!mode.step() || mode.bytes(0) != "wal")
                    made.failed("cannot switch to WAL mode");
            }
            c.begin("BEGIN IMMEDIATE");
            createSchema(c);
            c.commit();
        }
        if (::link(temporary.c_str(), target.path.c_str()) != 0 && errno != EEXIST) {
            // File systems without hard links: a rename that never replaces.
            if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.path.c_str(),
                            RENAME_NOREPLACE) != 0 &&
                errno != EEXIST)
                target.failed(std::strerror(errno));
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    ::unlink(temporary.c_str());
}

std::int64_t recordOnce(const Target& target, const Snapshot& snapshot) {
    std::optional<off_t> size = fileSize(target);
    if (!size) {
        createHistoryFile(target);
        size = fileSize(target);
        if (!size) target.failed(std::strerror(ENOENT));
    }
    if (*size > 0) {
        // Checked through a read-only connection first: nothing is written to a file that
        // turns out not to be ours.
        Connection check(target, SQLITE_OPEN_READONLY);
        checkSchemaAlone(check);
    }
    Connection c(target, SQLITE_OPEN_READWRITE);
    checkSchemaAlone(c);  // again, in case the file was replaced meanwhile
    {
        Statement mode(c.handle(), target, "PRAGMA journal_mode = WAL");
        if (!mode.step() || mode.bytes(0) != "wal") target.failed("cannot switch to WAL mode");
    }
    c.exec("PRAGMA synchronous = FULL");
    c.begin("BEGIN IMMEDIATE");
    if (checkSchema(c) == SchemaState::Empty) createSchema(c);  // an empty file found in place

    // The snapshot recorded last before this one, and its directories: their runs of presence
    // go on where they stay, end where they left; a run starts for each directory that came.
    const std::int64_t previousId = c.pragmaInteger("SELECT coalesce(max(id), 0) FROM snapshot");
    std::unordered_set<std::int64_t> previous;
    {
        Statement s(c.handle(), target, "SELECT directory FROM figures WHERE snapshot = ?1");
        s.bind(1, previousId);
        while (s.step()) previous.insert(s.integer(0));
    }

    Statement insertSnapshot(c.handle(), target,
                             "INSERT INTO snapshot(time, host, list_path) VALUES (?1, ?2, ?3)");
    insertSnapshot.bind(1, snapshot.time);
    insertSnapshot.bindText(2, snapshot.host);
    insertSnapshot.bindBlob(3, snapshot.listPath);
    insertSnapshot.step();
    const std::int64_t id = sqlite3_last_insert_rowid(c.handle());

    // This snapshot's entries (the first of each), matched with the directories on record.
    struct Entry {
        std::int64_t id = 0;  // 0: not on record yet
        bool written = false;
    };
    std::unordered_map<std::string_view, Entry> entries;
    entries.reserve(snapshot.rows.size());
    for (const Row& row : snapshot.rows) entries.emplace(row.entry, Entry{});
    {
        Statement all(c.handle(), target, "SELECT id, path FROM directory");
        while (all.step()) {
            const auto it = entries.find(all.view(1));
            if (it != entries.end()) it->second.id = all.integer(0);
        }
    }
    Statement insertDirectory(c.handle(), target, "INSERT INTO directory(path) VALUES (?1)");
    Statement startRun(c.handle(), target,
                       "INSERT INTO presence(directory, first_snapshot) VALUES (?1, ?2)");
    // Figures go in kBatch rows to a statement (far fewer statement runs), the rest one by one.
    constexpr int kBatch = 64;
    const auto insertFiguresOf = [&](int rows) {
        std::string sql =
            "INSERT INTO figures(snapshot, directory, directories, files, bytes, overhead, "
            "allocated, complete) VALUES ";
        for (int i = 0; i < rows; ++i) sql += i == 0 ? "(?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?)";
        return std::make_unique<Statement>(c.handle(), target, sql.c_str());
    };
    const std::unique_ptr<Statement> batch = insertFiguresOf(kBatch);
    const std::unique_ptr<Statement> single = insertFiguresOf(1);
    std::vector<std::pair<const Row*, std::int64_t>> pending;  // row, directory id
    const auto flush = [&](Statement& s, std::size_t from, std::size_t count) {
        s.reset();
        int p = 1;
        for (std::size_t i = from; i < from + count; ++i) {
            const auto& [row, dir] = pending[i];
            s.bind(p++, id);
            s.bind(p++, dir);
            s.bind(p++, row->directories);
            s.bind(p++, row->files);
            s.bindBytes(p++, row->bytes);
            s.bind(p++, row->overhead);
            if (row->allocated)
                s.bind(p++, *row->allocated);
            else
                s.bindNull(p++);
            s.bind(p++, row->complete ? 1 : 0);
        }
        s.step();
    };
    for (const Row& row : snapshot.rows) {
        Entry& e = entries.at(row.entry);
        if (e.written) continue;  // the same entry twice: the first counts
        e.written = true;
        if (e.id == 0) {
            insertDirectory.reset();
            insertDirectory.bindBlob(1, row.entry);
            insertDirectory.step();
            e.id = sqlite3_last_insert_rowid(c.handle());
        }
        pending.emplace_back(&row, e.id);
        if (pending.size() == kBatch) {
            flush(*batch, 0, kBatch);
            pending.clear();
        }
        if (previous.erase(e.id) == 0) {  // not in the last snapshot: a run starts
            startRun.reset();
            startRun.bind(1, e.id);
            startRun.bind(2, id);
            startRun.step();
        }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) flush(*single, i, 1);
    Statement endRun(c.handle(), target,
                     "UPDATE presence SET last_snapshot = ?1 WHERE directory = ?2 AND "
                     "last_snapshot IS NULL");
    for (const std::int64_t dir : previous) {  // those that left: their runs end
        endRun.reset();
        endRun.bind(1, previousId);
        endRun.bind(2, dir);
        endRun.step();
    }
    c.commit();
    return id;
}

}  // namespace

std::int64_t recordSnapshot(std::string_view listFileName, const Snapshot& snapshot) {
    const Target target{std::string(listFileName), historyFileName(listFileName), Mode::Write};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    std::minstd_rand jitter(static_cast<unsigned>(::getpid()));
    for (;;) {
        try {
            return recordOnce(target, snapshot);
        } catch (const BusyError&) {
            if (std::chrono::steady_clock::now() >= deadline) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + jitter() % 40));
        }
    }
}

namespace {

// Opens the history for reading and checks it; NoHistory when there is nothing to read.
void openForReading(const Target& target, std::optional<Connection>& c) {
    const std::optional<off_t> size = fileSize(target);
    if (!size || *size == 0) target.noHistory();
    c.emplace(target, SQLITE_OPEN_READONLY);
    c->begin("BEGIN");
    if (checkSchema(*c) == SchemaState::Empty) target.noHistory();
}

}  // namespace

HistoryReport queryHistory(std::string_view listFileName, const Query& query) {
    const Target target{std::string(listFileName), historyFileName(listFileName), Mode::Read};
    std::optional<Connection> connection;
    openForReading(target, connection);
    Connection& c = *connection;
    sqlite3* db = c.handle();

    HistoryReport report;
    bool anySnapshot = false;
    std::unordered_map<std::int64_t, std::int64_t> timeOf;  // snapshots in the range
    {
        Statement s(db, target, "SELECT id, time, host, list_path FROM snapshot ORDER BY id");
        while (s.step()) {
            anySnapshot = true;
            const std::int64_t time = s.integer(1);
            if ((query.range.since && time < *query.range.since) ||
                (query.range.until && time > *query.range.until))
                continue;
            if (!report.snapshots.empty() && time < report.snapshots.back().time)
                report.clockWentBackwards = true;
            report.snapshots.push_back({s.integer(0), time, s.bytes(2), s.bytes(3)});
            timeOf.emplace(s.integer(0), time);
        }
    }
    if (!anySnapshot) target.noHistory();
    if (report.snapshots.empty()) {
        report.emptyRange = true;
        c.commit();
        return report;
    }
    std::vector<std::int64_t> ids;  // of the snapshots in the range, ascending
    for (const SnapshotInfo& i : report.snapshots) ids.push_back(i.id);
    const std::int64_t firstId = ids.front();
    const std::int64_t lastId = ids.back();

    const auto figuresAt = [&](std::int64_t snapshot) {
        std::unordered_map<std::int64_t, Figures> out;
        Statement s(db, target,
                    "SELECT directory, directories, files, bytes, overhead, allocated, complete "
                    "FROM figures WHERE snapshot = ?1");
        s.bind(1, snapshot);
        while (s.step()) out.emplace(s.integer(0), readFigures(s, snapshot, timeOf.at(snapshot)));
        return out;
    };
    const std::unordered_map<std::int64_t, Figures> atFirst = figuresAt(firstId);
    const std::unordered_map<std::int64_t, Figures> atLast = figuresAt(lastId);
    Statement one(db, target,
                  "SELECT directory, directories, files, bytes, overhead, allocated, complete "
                  "FROM figures WHERE snapshot = ?1 AND directory = ?2");
    const auto at = [&](std::int64_t snapshot, std::int64_t directory) -> std::optional<Figures> {
        const auto& known = snapshot == firstId ? atFirst : atLast;
        if (snapshot == firstId || snapshot == lastId) {
            const auto f = known.find(directory);
            if (f == known.end()) return std::nullopt;
            return f->second;
        }
        one.reset();
        one.bind(1, snapshot);
        one.bind(2, directory);
        if (!one.step()) return std::nullopt;
        return readFigures(one, snapshot, timeOf.at(snapshot));
    };

    // Each directory's runs of presence, cut to the range: the first snapshot of the range in
    // its first run is where its figures start, the last in its last run where they end.
    std::unordered_map<std::int64_t, std::vector<std::pair<std::int64_t, std::int64_t>>> runsOf;
    std::vector<std::pair<std::int64_t, DirectoryGrowth>> rows;  // directory id, growth
    {
        Statement s(db, target,
                    "SELECT p.directory, p.first_snapshot, coalesce(p.last_snapshot, ?1), d.path "
                    "FROM presence p JOIN directory d ON d.id = p.directory ORDER BY "
                    "p.directory, p.first_snapshot");
        s.bind(1, std::numeric_limits<std::int64_t>::max());
        std::int64_t dir = 0;
        std::string path;
        std::int64_t earliest = 0, latest = 0;  // 0: none yet
        const auto finish = [&] {
            if (earliest == 0) return;
            DirectoryGrowth g;
            const std::optional<Figures> first = at(earliest, dir);
            const std::optional<Figures> last = at(latest, dir);
            if (!first || !last) return;  // runs without figures: nothing to show
            g.path = std::move(path);
            g.first = *first;
            g.last = *last;
            g.appeared = earliest != firstId;
            g.disappeared = latest != lastId;
            g.bytesChange = g.last.bytes - g.first.bytes;
            g.filesChange = g.last.files - g.first.files;
            g.bytesPercent = percentOf(g.bytesChange, g.first.bytes);
            g.filesPercent = percentOf(g.filesChange, g.first.files);
            const std::int64_t seconds = g.last.time - g.first.time;
            if (g.last.snapshot != g.first.snapshot && seconds > 0)
                g.bytesPerDay =
                    static_cast<double>(g.bytesChange) * 86400.0 / static_cast<double>(seconds);
            rows.emplace_back(dir, std::move(g));
        };
        while (s.step()) {
            if (s.integer(0) != dir) {
                finish();
                dir = s.integer(0);
                path = s.bytes(3);
                earliest = latest = 0;
            }
            const std::int64_t lo = std::max(firstId, s.integer(1));
            const std::int64_t hi = std::min(lastId, s.integer(2));
            const auto from = std::lower_bound(ids.begin(), ids.end(), lo);
            if (lo > hi || from == ids.end() || *from > hi) continue;  // none in the range
            if (earliest == 0) earliest = *from;
            latest = *(std::upper_bound(ids.begin(), ids.end(), hi) - 1);
            runsOf[dir].emplace_back(lo, hi);
        }
        finish();
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        if (a.second.bytesChange != b.second.bytesChange)
            return a.second.bytesChange > b.second.bytesChange;
        return a.second.path < b.second.path;
    });
    report.directoryCount = rows.size();
    if (query.top != 0 && rows.size() > query.top) rows.resize(query.top);

    if (query.series) {
        Statement s(db, target, "SELECT bytes FROM figures WHERE snapshot = ?1 AND directory = ?2");
        for (auto& [dir, g] : rows) {
            for (const auto& [lo, hi] : runsOf.at(dir))
                for (auto i = std::lower_bound(ids.begin(), ids.end(), lo);
                     i != ids.end() && *i <= hi; ++i) {
                    s.reset();
                    s.bind(1, *i);
                    s.bind(2, dir);
                    if (s.step()) g.series.push_back({timeOf.at(*i), s.total(0)});
                }
        }
    }
    c.commit();
    report.directories.reserve(rows.size());
    for (auto& r : rows) report.directories.push_back(std::move(r.second));
    return report;
}

void checkHistory(std::string_view listFileName) {
    const Target target{std::string(listFileName), historyFileName(listFileName), Mode::Read};
    std::optional<Connection> c;
    openForReading(target, c);
    Statement s(c->handle(), target, "PRAGMA quick_check");
    if (s.step() && s.bytes(0) != "ok")
        target.raise(HistoryError::Kind::Damaged, "history '" + target.path + "' is damaged (" +
                                                      s.bytes(0) + "); left untouched");
}

std::string formatUtc(std::int64_t time) {
    const std::int64_t days = floorDiv(time, 86400);
    const std::int64_t secs = time - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, d, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    return buf;
}

std::optional<std::int64_t> parseUtc(std::string_view t, bool endOfDay) {
    if (t.size() > 10 && (t.back() == 'Z' || t.back() == 'z')) t.remove_suffix(1);
    const auto number = [&](std::size_t pos, std::size_t n, unsigned& out) {
        out = 0;
        for (std::size_t i = pos; i < pos + n; ++i) {
            if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
            out = out * 10 + static_cast<unsigned>(t[i] - '0');
        }
        return true;
    };
    unsigned y, mo, d, h = 0, mi = 0, s = 0;
    if (!number(0, 4, y) || t.size() < 10 || t[4] != '-' || !number(5, 2, mo) || t[7] != '-' ||
        !number(8, 2, d))
        return std::nullopt;
    const bool dateOnly = t.size() == 10;
    if (!dateOnly) {
        if ((t[10] != 'T' && t[10] != 't' && t[10] != ' ') || (t.size() != 16 && t.size() != 19))
            return std::nullopt;
        if (!number(11, 2, h) || t[13] != ':' || !number(14, 2, mi)) return std::nullopt;
        if (t.size() == 19 && (t[16] != ':' || !number(17, 2, s))) return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return std::nullopt;
    const std::int64_t days = daysFromCivil(y, mo, d);
    std::int64_t cy;
    unsigned cm, cd;
    civilFromDays(days, cy, cm, cd);
    if (cm != mo || cd != d) return std::nullopt;  // 2026-02-30 and the like
    std::int64_t time = days * 86400 + h * 3600 + mi * 60 + s;
    if (dateOnly && endOfDay) time += 86399;
    return time;
}

std::string toDecimal(__int128 v) {
    const bool negative = v < 0;
    unsigned __int128 mag =
        negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
        mag /= 10;
    } while (mag != 0);
    if (negative) digits.push_back('-');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

}  // namespace pelmora::history
