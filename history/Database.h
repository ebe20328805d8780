// The history's database file, as the rest of the history module uses it: SQLite's errors as
// HistoryError, statements and connections that clean up after themselves, and the two ways in
// (openToRead, openToWrite), which vet the file, its schema and its structure first. The rules
// are those listed under "Trust" in History.h; this is their one home. Internal to history/.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <string_view>

#include "history/History.h"

namespace pelmora::history::detail {

enum class Mode { Read, Write };

// An error of SQLite's, with its extended result code.
class SqliteError : public HistoryError {
  public:
    SqliteError(Kind kind, const std::string& message, int code)
        : HistoryError(kind, message), m_code(code) {}
    int code() const { return m_code; }
    // SQLite said "database is locked" without waiting (it does so where waiting could
    // deadlock), or a file read as it lies changed under the read: nothing was committed, so
    // the work may be tried again.
    bool retryable() const { return (m_code & 0xff) == SQLITE_BUSY; }

  private:
    int m_code;
};

// One history as a command uses it; its messages name `path`.
struct Target {
    std::string listFileName;
    std::string path;  // the history beside the list (historyFileName)
    Mode mode;

    [[noreturn]] void raise(HistoryError::Kind kind, const std::string& what) const;
    // "no history for LIST yet: run pelmora-cli export --history"
    [[noreturn]] void noHistory() const;
    // "history 'DB' WHY; left untouched", of `kind`
    [[noreturn]] void refuse(HistoryError::Kind kind, const std::string& why) const;
    // "cannot record a snapshot in 'DB': REASON" or "cannot read history 'DB': REASON"
    [[noreturn]] void failed(const std::string& reason) const;
    // The error for a SQLite result code (and the connection's message, when there is one).
    [[noreturn]] void sqliteFailed(int rc, sqlite3* db) const;
};

class Statement {
  public:
    Statement(sqlite3* db, const Target& target, const char* sql);
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True while there is a row; false when done.
    bool step();
    void reset() { sqlite3_reset(m_stmt); }
    void bind(int i, std::int64_t v) { check(sqlite3_bind_int64(m_stmt, i, v)); }
    // A zero-length blob still binds as a blob, not NULL.
    void bindBlob(int i, std::string_view v);
    void bindText(int i, std::string_view v);
    void bindNull(int i) { check(sqlite3_bind_null(m_stmt, i)); }
    // An INTEGER when it fits 64 bits, else its decimal digits as TEXT.
    void bindBytes(int i, __int128 v);

    std::int64_t integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    bool isNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
    // Valid until the next step or reset.
    std::string_view view(int col) const;
    std::string bytes(int col) const { return std::string(view(col)); }
    // A byte total as bindBytes stored it; Damaged for TEXT that is not a decimal number.
    __int128 total(int col) const;

  private:
    void check(int rc);

    sqlite3* m_db;
    const Target& m_target;
    sqlite3_stmt* m_stmt = nullptr;
};

class Connection {
  public:
    // Opens `file` (never through a symbolic link) with `flags`; `immutable`: read as the file
    // lies, without locks or -shm (only where no one can write it meanwhile). Triggers, views
    // and extensions are off, the schema is not trusted.
    Connection(const Target& target, const std::string& file, int flags, bool immutable = false);
    // Rolls back an open transaction.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db; }
    const Target& target() const { return m_target; }

    void exec(const char* sql);
    void begin(const char* sql);
    void commit();
    std::int64_t integer(const char* sql);

  private:
    const Target& m_target;
    sqlite3* m_db = nullptr;
    bool m_inTransaction = false;
};

// A connection in a transaction on a history that passed every check. A history read as it lies
// on the disk (see openToRead) may change under the read: then finish() and rethrowUnlessChanged()
// raise a retryable SqliteError instead, and the read is to be taken again.
class Session {
  public:
    Connection& connection() { return *m_connection; }
    sqlite3* handle() const { return m_connection->handle(); }
    // The schema version of the history read (a recording makes it kSchemaVersion).
    int version() const { return m_version; }
    // Ends the transaction (commits a recording).
    void finish();
    // For an error raised during the read: a retryable one when the file changed meanwhile (the
    // error may come from reading it half written), else the error itself. Call from a catch.
    [[noreturn]] void rethrowUnlessChanged() const;

  private:
    friend std::unique_ptr<Session> openToRead(const Target&);
    friend std::unique_ptr<Session> openToWrite(const Target&);
    std::unique_ptr<Connection> m_connection;
    std::string m_file;
    bool m_asItLies = false;
    int m_version = kSchemaVersion;
    struct stat m_before {};
};

// The history of `target` in a read transaction. NoHistory when there is none (no file, an
// empty one, or one without a schema). When no -wal beside it holds pages, the file alone is the
// history and is read as it lies (SQLite's immutable mode): no -shm or -wal is made, so a reader
// leaves nothing behind and needs no right to write, on a read-only medium or in another user's
// folder; a recorder that writes meanwhile changes the file or makes a -wal, which the session
// sees at its end.
std::unique_ptr<Session> openToRead(const Target& target);

// The history of `target` in a BEGIN IMMEDIATE transaction, made when there is none.
std::unique_ptr<Session> openToWrite(const Target& target);

}  // namespace pelmora::history::detail
