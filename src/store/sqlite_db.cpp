#include "store/sqlite_db.h"

#include <QFile>

#include <sqlite3.h>

#include <cerrno>

SqliteError::SqliteError(int code, int systemErrno, const QString& message)
    : std::runtime_error(message.toStdString()), code_(code), errno_(systemErrno),
      message_(message) {}

void SqliteDb::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

SqliteDb::SqliteDb(const QString& path) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(db); // closed even when the open failed
    if (rc != SQLITE_OK)
        Fail(rc);
    sqlite3_extended_result_codes(db, 1);
}

SqliteDb::~SqliteDb() = default;

SqliteError SqliteDb::Error(int rc) const {
    const int callErrno = errno;
    int systemErrno = db_ ? sqlite3_system_errno(db_.get()) : 0;
    // SQLite does not always keep the errno of a failed write (a file size
    // limit's EFBIG, for one); the thread's errno still holds it then.
    const int code = rc & 0xFF;
    if (systemErrno == 0 && (code == SQLITE_IOERR || code == SQLITE_CANTOPEN))
        systemErrno = callErrno;
    const char* text = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc);
    return SqliteError(rc, systemErrno, QString::fromUtf8(text));
}

void SqliteDb::Fail(int rc) const {
    throw Error(rc);
}

void SqliteDb::Check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        Fail(rc);
}

void SqliteDb::Exec(const char* sql) {
    Check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr));
}

std::int64_t SqliteDb::Integer(const char* sql) {
    SqliteStatement statement = Prepare(sql);
    return statement.Step() ? statement.Integer(0) : 0;
}

SqliteStatement SqliteDb::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db_.get(), sql, -1, &statement, nullptr));
    return SqliteStatement(*this, statement);
}

SqliteStatement& SqliteDb::Cached(const QByteArray& sql) {
    std::unique_ptr<SqliteStatement>& cached = cached_[sql.toStdString()];
    if (!cached)
        cached = std::make_unique<SqliteStatement>(Prepare(sql.constData()));
    else
        cached->Reset();
    return *cached;
}

std::int64_t SqliteDb::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_.get());
}

void SqliteDb::SetBusyTimeout(int milliseconds) {
    Check(sqlite3_busy_timeout(db_.get(), milliseconds));
}

void SqliteStatement::Finalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteStatement& SqliteStatement::Bind(int index, std::int64_t value) {
    db_->Check(sqlite3_bind_int64(statement_.get(), index, value));
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    db_->Check(sqlite3_bind_text(statement_.get(), index, utf8.constData(),
                                 static_cast<int>(utf8.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int index) {
    db_->Check(sqlite3_bind_null(statement_.get(), index));
    return *this;
}

bool SqliteStatement::Step() {
    const int rc = sqlite3_step(statement_.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // The statement's own error code; the connection's message names it.
    SqliteError error = db_->Error(rc);
    sqlite3_reset(statement_.get());
    throw error;
}

void SqliteStatement::Reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
}

bool SqliteStatement::IsNull(int column) const {
    return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::Integer(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

QString SqliteStatement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    const int bytes = sqlite3_column_bytes(statement_.get(), column);
    return text == nullptr ? QString() : QString::fromUtf8(text, bytes);
}
