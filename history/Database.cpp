#include "history/Database.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "platform/paths.h"
#include "platform/replacefile.h"

namespace pelmora::history::detail {

namespace {

// "PLMH" in the database header's application id field: marks a Pelmora history.
constexpr std::int32_t kApplicationId = 0x504c4d48;

// Every object of a history's schema, as SQLite keeps it in sqlite_schema: the schema check
// accepts exactly these (those of the file's version), and createSchema makes them. `sql` is
// the statement as SQLite stores it (the text of the CREATE statement, byte for byte as older
// versions of this program wrote it); nullptr for what SQLite makes by itself (the index of a
// UNIQUE column), which createSchema skips, as it skips sqlite_sequence.
struct SchemaObject {
    int since;  // the schema version that brought it
    const char* type;
    const char* name;
    const char* table;
    const char* sql;
};

constexpr SchemaObject kSchemaObjects[] = {
    {1, "table", "schema_version", "schema_version",
     "CREATE TABLE schema_version (version INTEGER NOT NULL)"},
    {1, "table", "snapshot", "snapshot",
     R"sql(CREATE TABLE snapshot (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time INTEGER NOT NULL,
    host TEXT NOT NULL,
    list_path BLOB NOT NULL
))sql"},
    {1, "table", "sqlite_sequence", "sqlite_sequence", "CREATE TABLE sqlite_sequence(name,seq)"},
    {1, "table", "directory", "directory",
     R"sql(CREATE TABLE directory (
    id INTEGER PRIMARY KEY,
    path BLOB NOT NULL UNIQUE
))sql"},
    {1, "index", "sqlite_autoindex_directory_1", "directory", nullptr},
    {1, "table", "presence", "presence",
     R"sql(CREATE TABLE presence (
    directory INTEGER NOT NULL REFERENCES directory(id),
    first_snapshot INTEGER NOT NULL,
    last_snapshot INTEGER,
    PRIMARY KEY (directory, first_snapshot)
) WITHOUT ROWID)sql"},
    {1, "table", "figures", "figures",
     R"sql(CREATE TABLE figures (
    snapshot INTEGER NOT NULL REFERENCES snapshot(id),
    directory INTEGER NOT NULL REFERENCES directory(id),
    directories INTEGER NOT NULL,
    files INTEGER NOT NULL,
    bytes NOT NULL,
    overhead INTEGER NOT NULL,
    allocated INTEGER,
    complete INTEGER NOT NULL CHECK (complete IN (0, 1)),
    PRIMARY KEY (snapshot, directory)
) WITHOUT ROWID)sql"},
    {2, "table", "snapshot_depth", "snapshot_depth",
     R"sql(CREATE TABLE snapshot_depth (
    snapshot INTEGER PRIMARY KEY REFERENCES snapshot(id),
    depth INTEGER NOT NULL
))sql"},
    {2, "table", "subdirectory", "subdirectory",
     R"sql(CREATE TABLE subdirectory (
    id INTEGER PRIMARY KEY,
    parent INTEGER NOT NULL REFERENCES directory(id),
    name BLOB NOT NULL,
    UNIQUE (parent, name)
))sql"},
    {2, "index", "sqlite_autoindex_subdirectory_1", "subdirectory", nullptr},
    {2, "table", "subdirectory_figures", "subdirectory_figures",
     R"sql(CREATE TABLE subdirectory_figures (
    parent INTEGER NOT NULL REFERENCES directory(id),
    subdirectory INTEGER NOT NULL REFERENCES subdirectory(id),
    snapshot INTEGER NOT NULL REFERENCES snapshot(id),
    directories INTEGER NOT NULL,
    files INTEGER NOT NULL,
    bytes,
    complete INTEGER NOT NULL CHECK (complete IN (0, 1)),
    PRIMARY KEY (parent, subdirectory, snapshot)
) WITHOUT ROWID)sql"},
};

// The files SQLite may keep beside a database.
constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal"};

std::string quoted(std::string_view path) {
    return "'" + std::string(path) + "'";
}

// `path` as a URI for sqlite3_open_v2 (SQLITE_OPEN_URI): every byte but the unreserved ones and
// '/' percent-encoded, so that '?', '#' and '%' in a name stay part of it.
std::string fileUri(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

}  // namespace

// ---- errors ----------------------------------------------------------------------------------

void Target::raise(HistoryError::Kind kind, const std::string& what) const {
    throw HistoryError(kind, what);
}

void Target::noHistory() const {
    raise(HistoryError::Kind::NoHistory,
          "no history for " + listFileName + " yet: run pelmora-cli export --history");
}

void Target::refuse(HistoryError::Kind kind, const std::string& why) const {
    raise(kind, "history " + quoted(path) + " " + why + "; left untouched");
}

void Target::failed(const std::string& reason) const {
    raise(HistoryError::Kind::Failed,
          (mode == Mode::Write ? "cannot record a snapshot in " : "cannot read history ") +
              quoted(path) + ": " + reason);
}

void Target::sqliteFailed(int rc, sqlite3* db) const {
    using K = HistoryError::Kind;
    std::string reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    // What the system said, where SQLite's words alone do not tell ("unable to open database
    // file": no inode left, permission denied, ...); not ENOENT, which SQLite meets looking for
    // files that need not exist.
    const int err = db != nullptr ? sqlite3_system_errno(db) : 0;
    if (err != 0 && err != ENOENT &&
        ((rc & 0xff) == SQLITE_CANTOPEN || (rc & 0xff) == SQLITE_IOERR))
        reason += std::string(" (") + std::strerror(err) + ")";
    switch (rc & 0xff) {
        case SQLITE_NOTADB:
            throw SqliteError(
                K::NotADatabase,
                "history " + quoted(path) + " is not a SQLite database; left untouched", rc);
        case SQLITE_CORRUPT:
            throw SqliteError(K::Damaged,
                              "history " + quoted(path) + " is damaged (" + sqlite3_errstr(rc) +
                                  "); left untouched",
                              rc);
        default:
            throw SqliteError(
                K::Failed,
                (mode == Mode::Write ? "cannot record a snapshot in " : "cannot read history ") +
                    quoted(path) + ": " + reason,
                rc);
    }
}

// ---- statements and connections ----------------------------------------------------------------

Statement::Statement(sqlite3* db, const Target& target, const char* sql)
    : m_db(db), m_target(target) {
    const int rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) target.sqliteFailed(rc, db);
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    m_target.sqliteFailed(rc, m_db);
}

void Statement::bindBlob(int i, std::string_view v) {
    check(sqlite3_bind_blob64(m_stmt, i, v.empty() ? "" : v.data(), v.size(), SQLITE_STATIC));
}

void Statement::bindText(int i, std::string_view v) {
    check(sqlite3_bind_text64(m_stmt, i, v.data(), v.size(), SQLITE_STATIC, SQLITE_UTF8));
}

void Statement::bindBytes(int i, __int128 v) {
    if (v >= std::numeric_limits<std::int64_t>::min() &&
        v <= std::numeric_limits<std::int64_t>::max()) {
        bind(i, static_cast<std::int64_t>(v));
        return;
    }
    const std::string digits = toDecimal(v);
    check(sqlite3_bind_text64(m_stmt, i, digits.data(), digits.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
}

std::string_view Statement::view(int col) const {
    const void* p = sqlite3_column_blob(m_stmt, col);
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(p), n);
}

__int128 Statement::total(int col) const {
    if (sqlite3_column_type(m_stmt, col) != SQLITE_TEXT) return integer(col);
    const std::string_view text = view(col);
    const bool negative = text.starts_with('-');
    // 38 digits always fit 128 bits; real totals have at most 20.
    if (text.size() == std::size_t{negative} || text.size() > std::size_t{negative} + 38)
        m_target.sqliteFailed(SQLITE_CORRUPT, nullptr);
    __int128 v = 0;
    for (std::size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') m_target.sqliteFailed(SQLITE_CORRUPT, nullptr);
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

void Statement::check(int rc) {
    if (rc != SQLITE_OK) m_target.sqliteFailed(rc, m_db);
}

Connection::Connection(const Target& target, const std::string& file, int flags, bool immutable)
    : m_target(target) {
    flags |= SQLITE_OPEN_NOFOLLOW;
    const std::string name = immutable ? fileUri(file) + "?mode=ro&immutable=1" : file;
    if (immutable) flags |= SQLITE_OPEN_URI;
    const int rc = sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr);
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
    for (const auto& [option, value] :
         {std::pair{SQLITE_DBCONFIG_DEFENSIVE, 1}, std::pair{SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
          std::pair{SQLITE_DBCONFIG_ENABLE_TRIGGER, 0}, std::pair{SQLITE_DBCONFIG_ENABLE_VIEW, 0},
          std::pair{SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0}})
        sqlite3_db_config(m_db, option, value, nullptr);
    // Checks each page's cells as they are read; it reads nothing itself, so it cannot fail here.
    sqlite3_exec(m_db, "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);
}

Connection::~Connection() {
    if (m_inTransaction) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
}

void Connection::exec(const char* sql) {
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) m_target.sqliteFailed(rc, m_db);
}

void Connection::begin(const char* sql) {
    exec(sql);
    m_inTransaction = true;
}

void Connection::commit() {
    exec("COMMIT");
    m_inTransaction = false;
}

std::int64_t Connection::integer(const char* sql) {
    Statement s(m_db, m_target, sql);
    return s.step() ? s.integer(0) : 0;
}

namespace {

// ---- the file ------------------------------------------------------------------------------

struct HistoryFile {
    std::string file;  // what SQLite opens: the history, or the end of the user's links
    bool exists = false;
    struct stat st {};
};

bool trustedOwner(const Target& t, uid_t owner) {
    return owner == ::geteuid() || (t.mode == Mode::Read && owner == 0);
}

// Follows the history's chain of symbolic links as long as each is trusted, and checks what
// it ends in.
HistoryFile vetFile(const Target& t) {
    using K = HistoryError::Kind;
    std::string current = t.path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) t.failed(std::strerror(errno));
            if (hops == 0) return {current, false, {}};
            if (t.mode == Mode::Read) t.noHistory();
            // A link to nothing is never followed to create a file where it points.
            t.refuse(K::Refused, "is a symbolic link to nothing");
        }
        if (S_ISLNK(st.st_mode)) {
            if (!trustedOwner(t, st.st_uid))
                t.refuse(K::Refused, "is a symbolic link owned by another user");
            std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
            const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
            if (n <= 0 || static_cast<std::size_t>(n) >= link.size())
                t.failed(std::strerror(n < 0 ? errno : ENAMETOOLONG));
            link.resize(static_cast<std::size_t>(n));
            if (!platform::isPathDelimiter(link.front()))
                link = std::string(platform::directoryPart(current)) + link;
            current = std::move(link);
            continue;
        }
        if (!S_ISREG(st.st_mode)) t.refuse(K::Refused, "is not a regular file");
        if (t.mode == Mode::Write && st.st_uid != ::geteuid())
            t.refuse(K::Refused, "belongs to another user");
        return {current, true, st};
    }
    t.refuse(K::Refused, "is a loop of symbolic links");
}

// What SQLite keeps beside the history is read and written with it, so it must be as
// trustworthy: a regular file of the user's (or, for reading, of the history's owner or root).
void vetCompanions(const Target& t, const HistoryFile& f) {
    for (const char* suffix : kCompanions) {
        const std::string name = f.file + suffix;
        struct stat st {};
        if (::lstat(name.c_str(), &st) != 0) {
            if (errno == ENOENT) continue;
            t.failed(std::strerror(errno));
        }
        const char* why = nullptr;
        if (S_ISLNK(st.st_mode))
            why = "is a symbolic link";
        else if (!S_ISREG(st.st_mode))
            why = "is not a regular file";
        else if (!trustedOwner(t, st.st_uid) && !(t.mode == Mode::Read && st.st_uid == f.st.st_uid))
            why = "belongs to another user";
        if (why != nullptr)
            t.refuse(HistoryError::Kind::Refused,
                     "cannot be used: " + quoted(name) + " beside it " + why);
    }
}

// The file SQLite has open is still the one vetted (nobody swapped it in between).
void checkSameFile(const Target& t, const HistoryFile& f) {
    struct stat now {};
    if (::lstat(f.file.c_str(), &now) != 0 || now.st_dev != f.st.st_dev ||
        now.st_ino != f.st.st_ino)
        t.refuse(HistoryError::Kind::Refused, "was replaced while it was opened");
}

// Recording needs to write the file and its folder (SQLite's -wal and -shm go there); a
// history that cannot be written is said to be so at once, in the system's words.
void checkWritable(const Target& t, const HistoryFile& f) {
    const std::string_view dir = platform::directoryPart(f.file);
    const std::string folder = dir.empty() ? std::string(".") : std::string(dir);
    if (::faccessat(AT_FDCWD, f.file.c_str(), W_OK, AT_EACCESS) != 0 ||
        ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        t.failed(std::strerror(errno));
}

// ---- the schema ----------------------------------------------------------------------------

const SchemaObject* expectedObject(std::string_view type, std::string_view name, int version) {
    for (const SchemaObject& o : kSchemaObjects)
        if (o.since <= version && type == o.type && name == o.name) return &o;
    return nullptr;
}

// Checks that the database holds a Pelmora history this program reads, and nothing else, and
// returns its schema version; 0: no schema at all (a new file). Runs inside the caller's
// transaction.
int checkSchema(Connection& c) {
    using K = HistoryError::Kind;
    const Target& t = c.target();
    struct Row {
        std::string type, name, table;
        std::optional<std::string> sql;
    };
    std::vector<Row> rows;
    {
        Statement s(c.handle(), t, "SELECT type, name, tbl_name, sql FROM sqlite_schema");
        while (s.step())
            rows.push_back({s.bytes(0), s.bytes(1), s.bytes(2),
                            s.isNull(3) ? std::nullopt : std::optional(s.bytes(3))});
    }
    const std::int64_t applicationId = c.integer("PRAGMA application_id");
    if (rows.empty() && applicationId == 0) return 0;
    const auto otherData = [&] {
        t.refuse(K::NotADatabase, "holds other data than a Pelmora history");
    };
    if (applicationId != kApplicationId) otherData();
    const auto same = [](const Row& r, const SchemaObject& o) {
        return r.table == o.table &&
               r.sql == (o.sql ? std::optional<std::string>(o.sql) : std::optional<std::string>());
    };
    // The version table first: what else belongs depends on the version.
    const SchemaObject& versionTable = kSchemaObjects[0];
    bool versioned = false;
    for (const Row& r : rows)
        versioned |=
            r.name == versionTable.name && r.type == versionTable.type && same(r, versionTable);
    if (!versioned) otherData();
    const std::int64_t version = c.integer("SELECT max(version) FROM schema_version");
    if (version > kSchemaVersion)
        t.raise(K::NewerSchema, "history " + quoted(t.path) + " has schema version " +
                                    std::to_string(version) + "; this program reads version " +
                                    std::to_string(kSchemaVersion) + ": use a newer Pelmora");
    if (version < 1) otherData();
    std::size_t known = 0;
    for (const Row& r : rows) {
        const SchemaObject* o = expectedObject(r.type, r.name, static_cast<int>(version));
        const std::string what =
            (r.type == "index" ? "holds an " : "holds a ") + r.type + " " + quoted(r.name);
        if (o == nullptr) t.refuse(K::NotADatabase, what + " that Pelmora did not create");
        if (!same(r, *o)) t.refuse(K::NotADatabase, what + " other than Pelmora created");
        ++known;
    }
    std::size_t expected = 0;
    for (const SchemaObject& o : kSchemaObjects) expected += o.since <= version;
    if (known != expected) otherData();  // something of ours is missing
    return static_cast<int>(version);
}

// The objects that came after schema version `from`.
void createObjectsSince(Connection& c, int from) {
    for (const SchemaObject& o : kSchemaObjects)
        if (o.since > from && o.since <= kSchemaVersion && o.sql != nullptr &&
            !std::string_view(o.name).starts_with("sqlite_"))
            c.exec(o.sql);
}

void createSchema(Connection& c) {
    createObjectsSince(c, 0);
    c.exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    c.exec(("INSERT INTO schema_version(version) VALUES (" + std::to_string(kSchemaVersion) + ")")
               .c_str());
}

// An older history made current inside the writer's transaction: what later versions brought
// is added (empty), and the version says so; a failure rolls it all back.
void upgradeSchema(Connection& c, int from) {
    createObjectsSince(c, from);
    c.exec(("UPDATE schema_version SET version = " + std::to_string(kSchemaVersion)).c_str());
}

// SQLite's check of the whole file's structure; Damaged with its first finding, on one line.
void quickCheck(Connection& c) {
    Statement s(c.handle(), c.target(), "PRAGMA quick_check(1)");
    if (!s.step() || s.view(0) == "ok") return;
    std::string_view finding = s.view(0);
    if (finding.starts_with("***"))
        finding.remove_prefix(std::min(finding.find('\n'), finding.size()));
    while (finding.starts_with('\n')) finding.remove_prefix(1);
    finding = finding.substr(0, finding.find('\n'));
    c.target().refuse(HistoryError::Kind::Damaged, "is damaged (" + std::string(finding) + ")");
}

void switchToWal(Connection& c) {
    Statement mode(c.handle(), c.target(), "PRAGMA journal_mode = WAL");
    if (!mode.step() || mode.view(0) != "wal") c.target().failed("cannot switch to WAL mode");
}

// ---- a new history ---------------------------------------------------------------------------

void removeWithCompanions(const std::string& file) {
    ::unlink(file.c_str());
    for (const char* suffix : kCompanions) ::unlink((file + suffix).c_str());
}

void syncFolder(const std::string& file) {
    const std::string_view dir = platform::directoryPart(file);
    const int fd =
        ::open(dir.empty() ? "." : std::string(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A new history is made complete (schema, WAL mode) under a temporary name beside its place and
// linked there in one step, so that no process ever opens it half made: concurrent first
// recorders would otherwise meet in SQLite's rollback mode, where one can fail at once with
// "database is locked". Whoever links first wins; the others use that file. The temporary file
// gets 0666 less the umask, as a new data file does, and SQLite's files beside a history take
// their permissions from it.
void createHistoryFile(const Target& t) {
    const std::string prefix = std::string(platform::directoryPart(t.path)) + ".~" +
                               std::string(platform::bareName(t.path)).substr(0, 200) + ".";
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = prefix + platform::randomSuffix();
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) t.failed(std::strerror(errno));
    ::close(fd);
    try {
        {
            // Made in rollback mode and switched to WAL last: whatever SQLite leaves beside the
            // temporary file afterwards holds nothing the history needs.
            Connection c(t, temporary, SQLITE_OPEN_READWRITE);
            c.exec("PRAGMA synchronous = FULL");
            c.begin("BEGIN IMMEDIATE");
            createSchema(c);
            c.commit();
            switchToWal(c);
        }
        for (const char* suffix : kCompanions) ::unlink((temporary + suffix).c_str());
        if (::link(temporary.c_str(), t.path.c_str()) != 0 && errno != EEXIST) {
            // File systems without hard links: a rename that never replaces.
            if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, t.path.c_str(),
                            RENAME_NOREPLACE) != 0 &&
                errno != EEXIST)
                t.failed(std::strerror(errno));
        }
    } catch (...) {
        removeWithCompanions(temporary);
        throw;
    }
    ::unlink(temporary.c_str());
    syncFolder(t.path);
}

// SQLite could not make or open its -shm beside the history (a read-only medium, a folder the
// user may not write).
bool cannotMakeShm(int code) {
    return (code & 0xff) == SQLITE_CANTOPEN || code == SQLITE_READONLY_DIRECTORY ||
           code == SQLITE_READONLY_CANTINIT;
}

// True when a -wal beside the history may hold pages newer than the file: then the file alone
// is not the history.
bool walMayHoldPages(const std::string& file) {
    struct stat st {};
    return ::lstat((file + "-wal").c_str(), &st) == 0 && st.st_size > 0;
}

bool sameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Begins the read and checks what is read.
int beginChecked(Connection& c, const HistoryFile& f) {
    c.begin("BEGIN");
    const int version = checkSchema(c);
    if (version == 0) c.target().noHistory();
    quickCheck(c);
    vetCompanions(c.target(), f);
    checkSameFile(c.target(), f);
    return version;
}

bool changedSince(const std::string& file, const struct stat& before) {
    struct stat now {};
    return ::stat(file.c_str(), &now) != 0 || !sameState(now, before) || walMayHoldPages(file);
}

[[noreturn]] void changedWhileRead(const Target& t) {
    throw SqliteError(HistoryError::Kind::Failed,
                      "cannot read history " + quoted(t.path) + ": it changed while it was read",
                      SQLITE_BUSY);
}

}  // namespace

void Session::finish() {
    if (m_asItLies && changedSince(m_file, m_before)) changedWhileRead(m_connection->target());
    m_connection->commit();
}

void Session::rethrowUnlessChanged() const {
    if (m_asItLies && changedSince(m_file, m_before)) changedWhileRead(m_connection->target());
    throw;
}

std::unique_ptr<Session> openToRead(const Target& t) {
    const HistoryFile f = vetFile(t);
    if (!f.exists || f.st.st_size == 0) t.noHistory();
    vetCompanions(t, f);
    auto session = std::make_unique<Session>();
    session->m_file = f.file;
    session->m_asItLies = !walMayHoldPages(f.file);
    session->m_before = f.st;
    session->m_connection =
        std::make_unique<Connection>(t, f.file, SQLITE_OPEN_READONLY, session->m_asItLies);
    try {
        session->m_version = beginChecked(*session->m_connection, f);
    } catch (const SqliteError& e) {
        // A -wal with pages (left so by hand or by a crash: a recorder at work keeps its -shm)
        // and no -shm this user may make: SQLite's "unable to open database file" says too little.
        if (!session->m_asItLies && cannotMakeShm(e.code()))
            t.failed(quoted(f.file + "-wal") +
                     " holds recent changes, which SQLite reads only with a -shm file that this "
                     "user cannot make beside it");
        session->rethrowUnlessChanged();
    } catch (const HistoryError&) {
        session->rethrowUnlessChanged();
    }
    return session;
}

std::unique_ptr<Session> openToWrite(const Target& t) {
    HistoryFile f = vetFile(t);
    if (!f.exists) {
        createHistoryFile(t);
        f = vetFile(t);
        if (!f.exists) t.failed(std::strerror(ENOENT));
    }
    checkWritable(t, f);
    vetCompanions(t, f);
    if (f.st.st_size > 0) {
        // Checked through a read-only connection first: nothing is written to a file that turns
        // out not to be ours, or damaged (a read-write connection may replay a journal).
        Connection check(t, f.file, SQLITE_OPEN_READONLY);
        check.begin("BEGIN");
        checkSchema(check);
        quickCheck(check);
        checkSameFile(t, f);
        check.commit();
    }
    auto session = std::make_unique<Session>();
    session->m_file = f.file;
    session->m_connection = std::make_unique<Connection>(t, f.file, SQLITE_OPEN_READWRITE);
    Connection& c = *session->m_connection;
    checkSameFile(t, f);  // SQLite holds the file open from here on
    switchToWal(c);
    c.exec("PRAGMA synchronous = FULL");
    c.begin("BEGIN IMMEDIATE");
    // Again, in case the file was replaced meanwhile; an empty file found in place is made a
    // history, an older one current.
    if (const int version = checkSchema(c); version == 0)
        createSchema(c);
    else if (version < kSchemaVersion)
        upgradeSchema(c, version);
    vetCompanions(t, f);
    checkSameFile(t, f);
    return session;
}

}  // namespace pelmora::history::detail
