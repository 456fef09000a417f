#pragma once
// Helpers for the card store tests: runs told to a store, and direct looks
// into its database.

#include "store/card_store.h"
#include "text/csv_row.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <sqlite3.h>

#include <cstdint>
#include <ostream>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline StoreSettings Settings(const QString& city = QStringLiteral("Москва--Москва и область")) {
    return {QStringLiteral("web.test"),
            QStringLiteral("api.test"),
            {QStringLiteral("Сантехники (santehniki)")},
            {city}};
}

inline QDateTime Day(int day, int hour = 10) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, 0), Qt::LocalTime);
}

inline CardRecord Card(const QString& slug, const QString& telephone = QStringLiteral("+7 900")) {
    CardRecord card;
    card.url = QStringLiteral("https://web.test/pro/") + slug;
    card.name = QStringLiteral("Мастер ") + slug;
    card.categories = QStringLiteral("Сантехники");
    card.rating = QStringLiteral("4.5");
    card.reviews = QStringLiteral("12");
    card.telephone = telephone;
    card.city = QStringLiteral("Москва");
    card.address = QStringLiteral("ул. Ленина, д. 1");
    return card;
}

inline QString Url(const QString& slug) {
    return QStringLiteral("https://web.test/pro/") + slug;
}

// One run as the run thread tells it: every card found, then rows and 404s.
struct RunScript {
    std::vector<QString> found; // slugs
    std::vector<CardRecord> rows;
    std::vector<QString> gone; // slugs
    bool complete = true;
    StoreSettings settings = Settings();
};

inline StoreReport TellStore(const QString& folder, const RunScript& script, int day,
                             const QString& key = QStringLiteral("run-1.journal")) {
    CardStore store(folder);
    store.BeginRun(script.settings, key, Day(day));
    for (const QString& slug : script.found)
        store.Found(Url(slug));
    store.Flush();
    for (const CardRecord& row : script.rows)
        store.RowWritten(row);
    for (const QString& slug : script.gone)
        store.Gone(Url(slug));
    return store.FinishRun(script.complete, Day(day, 11),
                           folder + QStringLiteral("/changes") + QString::number(day) + ".csv");
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The first column of the first row of `sql` on the database at `path`, or
// -1 when it cannot be read.
inline std::int64_t Query(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    std::int64_t value = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            value = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

inline bool Exec(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(path.toUtf8().constData(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}
