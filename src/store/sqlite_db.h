#pragma once
// Thin RAII holders over libsqlite3: a connection and its prepared
// statements. A failed call throws SqliteError with SQLite's codes, so that
// the caller can tell a busy store from a full disk or a damaged file.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, int systemErrno, const QString& message);
    int Code() const { return code_ & 0xFF; } // the primary result code (SQLITE_FULL, ...)
    int ExtendedCode() const { return code_; }
    int Errno() const { return errno_; } // the system's errno behind it, 0 if none
    const QString& Message() const { return message_; }

private:
    int code_;
    int errno_;
    QString message_;
};

class SqliteStatement;

class SqliteDb {
public:
    // Opens (creating when missing) the database file at `path`, read-write.
    // Throws SqliteError.
    explicit SqliteDb(const QString& path);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Runs statements without results (several separated by ";").
    void Exec(const char* sql);
    // The first column of the first row of `sql` as an integer (0 if none).
    std::int64_t Integer(const char* sql);
    SqliteStatement Prepare(const char* sql);
    // The statement of `sql`, prepared at its first use and kept, reset, for
    // the life of the connection (preparing costs more than most steps).
    SqliteStatement& Cached(const QByteArray& sql);
    std::int64_t LastInsertId() const;
    void SetBusyTimeout(int milliseconds);

    // Throws the connection's current error when `rc` is not a success code.
    void Check(int rc) const;
    [[noreturn]] void Fail(int rc) const;
    // The connection's current error, for `rc`.
    SqliteError Error(int rc) const;
    sqlite3* Handle() const { return db_.get(); }

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, Closer> db_;
    // Destroyed before the connection is closed.
    std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> cached_;
};

// A prepared statement: bind (from 1), Step, read columns (from 0), Reset.
class SqliteStatement {
public:
    SqliteStatement(SqliteDb& db, sqlite3_stmt* statement) : db_(&db), statement_(statement) {}
    SqliteStatement(SqliteStatement&&) noexcept = default;
    SqliteStatement& operator=(SqliteStatement&&) noexcept = default;

    SqliteStatement& Bind(int index, std::int64_t value);
    SqliteStatement& Bind(int index, const QString& text);
    SqliteStatement& BindNull(int index);
    // True while a row is there to read; false once the statement is done.
    bool Step();
    // Ready to run again, bindings cleared.
    void Reset();

    bool IsNull(int column) const;
    std::int64_t Integer(int column) const;
    QString Text(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };
    SqliteDb* db_;
    std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};
