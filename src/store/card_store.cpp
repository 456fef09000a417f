#include "store/card_store.h"

#include "store/changes_file.h"
#include "store/sqlite_db.h"
#include "store/url_key.h"
#include "text/csv_row.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr std::int64_t kSchemaVersion = 1;
// Marks the file as this program's store (PRAGMA application_id).
constexpr std::int64_t kApplicationId = 0x43415244; // "CARD"

// Per run one row; per card one row holding its last values (NULL until its
// first row); per run and card one small row of integers.
const char* const kSchema = R"(
CREATE TABLE runs(
    id INTEGER PRIMARY KEY,
    key TEXT NOT NULL,
    settings TEXT NOT NULL,
    started INTEGER NOT NULL,
    ended INTEGER,
    complete INTEGER NOT NULL DEFAULT 0);
CREATE INDEX runs_by_settings ON runs(settings, complete, started);
CREATE TABLE cards(
    id INTEGER PRIMARY KEY,
    url_key TEXT NOT NULL UNIQUE,
    url TEXT NOT NULL,
    name TEXT, categories TEXT, services TEXT, rating TEXT, reviews TEXT,
    telephone TEXT, site TEXT, email TEXT, city TEXT, address TEXT,
    first_seen INTEGER NOT NULL,
    last_seen INTEGER NOT NULL,
    last_changed INTEGER);
CREATE TABLE run_cards(
    run INTEGER NOT NULL,
    card INTEGER NOT NULL,
    outcome INTEGER NOT NULL,
    changed INTEGER NOT NULL,
    PRIMARY KEY(run, card)) WITHOUT ROWID;
)";

const char* const kValueColumns =
    "name, categories, services, rating, reviews, telephone, site, email, city, address";

std::array<const QString*, kCardColumns> Values(const CardRecord& card) {
    return {&card.name,      &card.categories, &card.services, &card.rating, &card.reviews,
            &card.telephone, &card.site,       &card.email,    &card.city,   &card.address};
}

std::array<QString*, kCardColumns> Values(CardRecord& card) {
    return {&card.name,      &card.categories, &card.services, &card.rating, &card.reviews,
            &card.telephone, &card.site,       &card.email,    &card.city,   &card.address};
}

QString SettingsText(const StoreSettings& settings) {
    const QJsonArray array{settings.webHost, settings.apiHost,
                           QJsonArray::fromStringList(settings.categoryRows),
                           QJsonArray::fromStringList(settings.cityRows)};
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

CardRecord UrlOnly(const QString& url) {
    CardRecord card;
    card.url = url;
    return card;
}

bool IsDamage(int code) {
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

// Why a call failed, in the user's words where the cause is a common one.
QString Reason(const SqliteError& error) {
    const int systemErrno = error.Errno();
    if (error.Code() == SQLITE_FULL || systemErrno == ENOSPC || systemErrno == EDQUOT ||
        systemErrno == EFBIG)
        return QStringLiteral("на диске нет места");
    switch (error.Code()) {
    case SQLITE_READONLY:
        return QStringLiteral("запись запрещена");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("база занята другой копией программы");
    case SQLITE_NOTADB:
        return QStringLiteral("файл не является базой данных");
    case SQLITE_CORRUPT:
        return QStringLiteral("файл повреждён");
    case SQLITE_IOERR:
        return QStringLiteral("ошибка чтения или записи на диске");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        if (systemErrno != 0)
            return QStringLiteral("файл не открывается: ") +
                   QString::fromLocal8Bit(std::strerror(systemErrno));
        return QStringLiteral("файл не открывается");
    default:
        break;
    }
    return error.Message();
}

// A free name beside `path` for a file set aside: "<name>.bad", then
// "<name>.bad2", ...
QString BadName(const QString& path) {
    QString target = path + QStringLiteral(".bad");
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".bad") + QString::number(n);
    return target;
}

} // namespace

struct CardStore::Pending {
    enum class Kind : std::uint8_t { Found, Row, Gone };
    struct Op {
        Kind kind;
        CardRecord card; // Found and Gone: the URL only
    };
    bool begin = false;
    bool continuing = false;
    QString key;
    bool finish = false;
    bool complete = false;
    std::int64_t endMs = 0;
    std::vector<Op> ops;

    bool Empty() const { return !begin && !finish && ops.empty(); }
};

CardStore::CardStore(const QString& folder, int busyTimeoutMs)
    : folder_(folder), path_(QDir(folder).filePath(FileName())), busyTimeoutMs_(busyTimeoutMs),
      pending_(std::make_unique<Pending>()) {
    Open(busyTimeoutMs);
}

CardStore::~CardStore() = default;

QString CardStore::FileName() {
    return QStringLiteral("cards.sqlite");
}

std::vector<QString> CardStore::TakeLines() {
    return std::exchange(lines_, {});
}

void CardStore::Open(int busyTimeoutMs) {
    try {
        OpenDatabase(busyTimeoutMs);
    } catch (const SqliteError& error) {
        db_.reset();
        if (IsDamage(error.Code()))
            Damaged(Reason(error), true, busyTimeoutMs);
        else if (error.Code() == SQLITE_CANTOPEN && !QFile::exists(path_) &&
                 QFileInfo(folder_).isDir() && !QFileInfo(folder_).isWritable())
            Unavailable(QStringLiteral("запись запрещена")); // no store can be made there
        else
            Unavailable(Reason(error));
    } catch (const std::exception& error) {
        db_.reset();
        Unavailable(QString::fromUtf8(error.what()));
    }
}

void CardStore::OpenDatabase(int busyTimeoutMs) {
    db_ = std::make_unique<SqliteDb>(path_);
    db_->SetBusyTimeout(busyTimeoutMs);
    // The first read of the file: a damaged file fails here. A store of a
    // newer version or another program's database is left as it is found.
    const std::int64_t version = db_->Integer("PRAGMA user_version");
    if (version > kSchemaVersion)
        throw std::runtime_error(
            QStringLiteral("база записана более новой версией программы").toStdString());
    if (version == 0 && db_->Integer("SELECT count(*) FROM sqlite_master") != 0)
        throw std::runtime_error(QStringLiteral("файл не является базой карточек").toStdString());
    db_->Exec("PRAGMA journal_mode=WAL");
    db_->Exec("PRAGMA synchronous=NORMAL");
    if (version < kSchemaVersion)
        CreateSchema();
}

// A new store gets its tables; a second process making them at the same
// moment waits, then finds them made.
void CardStore::CreateSchema() {
    db_->Exec("BEGIN IMMEDIATE");
    try {
        const std::int64_t version = db_->Integer("PRAGMA user_version");
        if (version == 0) {
            if (db_->Integer("SELECT count(*) FROM sqlite_master") != 0)
                throw std::runtime_error(
                    QStringLiteral("файл не является базой карточек").toStdString());
            db_->Exec(kSchema);
            db_->Exec(QStringLiteral("PRAGMA application_id=%1; PRAGMA user_version=%2")
                          .arg(kApplicationId)
                          .arg(kSchemaVersion)
                          .toUtf8()
                          .constData());
        } else if (version != kSchemaVersion) {
            throw std::runtime_error(
                QStringLiteral("база записана более новой версией программы").toStdString());
        }
        db_->Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CardStore::Unavailable(const QString& reason) {
    db_.reset();
    if (reported_)
        return;
    reported_ = true;
    lines_.push_back(
        QStringLiteral("База карточек %1 недоступна (%2), сравнение с прошлыми сборами пропущено")
            .arg(QDir::toNativeSeparators(path_), reason));
}

void CardStore::Fail(const std::exception& error) {
    const auto* sqlite = dynamic_cast<const SqliteError*>(&error);
    if (sqlite != nullptr && IsDamage(sqlite->Code()))
        Damaged(Reason(*sqlite), false, busyTimeoutMs_);
    else
        Unavailable(sqlite != nullptr ? Reason(*sqlite) : QString::fromUtf8(error.what()));
}

// A damaged file is set aside under "<name>.bad" with its write-ahead log,
// so that nothing of it is lost; when that worked and `startAnew`, a new
// store is made in its place, which this run then fills (it has no earlier
// run to compare with, so the line still says that the comparison is left
// out).
void CardStore::Damaged(const QString& detail, bool startAnew, int busyTimeoutMs) {
    db_.reset();
    const QString target = BadName(path_);
    if (!QFile::rename(path_, target)) {
        Unavailable(QStringLiteral("%1; переименовать его в %2 не удалось")
                        .arg(detail, QDir::toNativeSeparators(target)));
        return;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString from = path_ + QLatin1String(suffix);
        if (QFile::exists(from))
            QFile::rename(from, target + QLatin1String(suffix));
    }
    const QString renamed =
        QStringLiteral("%1; он переименован в %2").arg(detail, QDir::toNativeSeparators(target));
    if (!startAnew) {
        Unavailable(renamed);
        return;
    }
    try {
        OpenDatabase(busyTimeoutMs);
    } catch (const SqliteError& error) {
        Unavailable(renamed + QStringLiteral(", новая база не создана: ") + Reason(error));
        return;
    } catch (const std::exception& error) {
        Unavailable(renamed + QStringLiteral(", новая база не создана: ") +
                    QString::fromUtf8(error.what()));
        return;
    }
    // Said as Unavailable says it, with the new store kept open.
    auto db = std::move(db_);
    Unavailable(renamed + QStringLiteral(", начата новая база"));
    db_ = std::move(db);
    skipComparison_ = true;
}

void CardStore::BeginRun(const StoreSettings& settings, const QString& key, const QDateTime& start,
                         bool continuing) {
    run_ = 0;
    continued_ = false;
    settingsText_ = SettingsText(settings);
    startMs_ = start.toMSecsSinceEpoch();
    *pending_ = Pending{};
    pending_->begin = true;
    pending_->continuing = continuing;
    pending_->key = key;
    Flush();
}

void CardStore::Found(const QString& url) {
    if (db_)
        pending_->ops.push_back({Pending::Kind::Found, UrlOnly(url)});
}

void CardStore::RowWritten(const CardRecord& card) {
    if (db_)
        pending_->ops.push_back({Pending::Kind::Row, CsvRowForm(card)});
}

void CardStore::Gone(const QString& url) {
    if (db_)
        pending_->ops.push_back({Pending::Kind::Gone, UrlOnly(url)});
}

void CardStore::Flush() {
    if (!db_ || pending_->Empty())
        return;
    Commit();
}

CardStore::Problem CardStore::Commit() {
    try {
        db_->Exec("BEGIN IMMEDIATE");
    } catch (const SqliteError& error) {
        if (error.Code() == SQLITE_BUSY || error.Code() == SQLITE_LOCKED)
            return Problem::Busy; // the writes wait for the next flush
        Fail(error);
        return Problem::None;
    } catch (const std::exception& error) {
        Fail(error);
        return Problem::None;
    }
    try {
        Apply(*pending_);
        db_->Exec("COMMIT");
        *pending_ = Pending{};
    } catch (const std::exception& error) {
        sqlite3_exec(db_->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        Fail(error);
    }
    return Problem::None;
}

void CardStore::Apply(Pending& pending) {
    SqliteDb& db = *db_;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (pending.begin) {
        SqliteStatement find = db.Prepare("SELECT id, started FROM runs WHERE key=?1 AND "
                                          "settings=?2 AND complete=0 ORDER BY id DESC LIMIT 1");
        find.Bind(1, pending.key).Bind(2, settingsText_);
        if (pending.continuing && find.Step()) {
            run_ = find.Integer(0);
            startMs_ = find.Integer(1); // a continued run is as old as its start
            continued_ = true;
            SqliteStatement reopen = db.Prepare("UPDATE runs SET ended=NULL WHERE id=?1");
            reopen.Bind(1, run_);
            reopen.Step();
        } else {
            SqliteStatement insert =
                db.Prepare("INSERT INTO runs(key, settings, started) VALUES(?1, ?2, ?3)");
            insert.Bind(1, pending.key).Bind(2, settingsText_).Bind(3, startMs_);
            insert.Step();
            run_ = db.LastInsertId();
        }
        pending.begin = false;
    }
    if (run_ == 0)
        return; // no run begun: nothing to record against

    // Kept prepared for the life of the connection: a run flushes once a
    // second.
    SqliteStatement& findCard =
        db.Cached(QStringLiteral("SELECT id, url, %1, name IS NULL FROM cards WHERE url_key=?1")
                      .arg(QLatin1String(kValueColumns))
                      .toUtf8());
    SqliteStatement& insertCard =
        db.Cached("INSERT INTO cards(url_key, url, first_seen, last_seen) VALUES(?1, ?2, ?3, ?3)");
    SqliteStatement& seen = db.Cached("UPDATE cards SET url=?2, last_seen=?3 WHERE id=?1");
    SqliteStatement& putValues =
        db.Cached("UPDATE cards SET url=?2, name=?3, categories=?4, services=?5, rating=?6, "
                  "reviews=?7, telephone=?8, site=?9, email=?10, city=?11, address=?12, "
                  "last_seen=?13, last_changed=?13 WHERE id=?1");
    SqliteStatement& findRunCard =
        db.Cached("SELECT outcome, changed FROM run_cards WHERE run=?1 AND card=?2");
    SqliteStatement& putRunCard =
        db.Cached("INSERT INTO run_cards(run, card, outcome, changed) VALUES(?1, ?2, ?3, ?4) "
                  "ON CONFLICT(run, card) DO UPDATE SET outcome=excluded.outcome, "
                  "changed=excluded.changed");

    for (Pending::Op& op : pending.ops) {
        const QString& url = op.card.url;
        std::int64_t card = 0;
        CardRecord stored;
        bool hasValues = false;
        findCard.Bind(1, UrlKey(url));
        if (findCard.Step()) {
            card = findCard.Integer(0);
            stored.url = findCard.Text(1);
            const auto values = Values(stored);
            for (int i = 0; i < kCardColumns; ++i)
                *values[static_cast<std::size_t>(i)] = findCard.Text(2 + i);
            hasValues = findCard.Integer(2 + kCardColumns) == 0;
        }
        findCard.Reset();
        bool isNew = false;
        if (card == 0) {
            insertCard.Bind(1, UrlKey(url)).Bind(2, url).Bind(3, now);
            insertCard.Step();
            insertCard.Reset();
            card = db.LastInsertId();
            isNew = true;
        }

        bool known = false;
        auto outcome = CardOutcome::Found;
        std::uint16_t changed = 0;
        findRunCard.Bind(1, run_).Bind(2, card);
        if (findRunCard.Step()) {
            known = true;
            outcome = static_cast<CardOutcome>(findRunCard.Integer(0));
            changed = static_cast<std::uint16_t>(findRunCard.Integer(1));
        }
        findRunCard.Reset();
        const bool written = outcome == CardOutcome::Unchanged || outcome == CardOutcome::Changed ||
                             outcome == CardOutcome::First;

        auto newOutcome = outcome;
        std::uint16_t newChanged = changed;
        bool writeValues = false;
        switch (op.kind) {
        case Pending::Kind::Found:
            if (known)
                continue; // told again: nothing new
            if (!isNew) {
                seen.Bind(1, card).Bind(2, stored.url).Bind(3, now);
                seen.Step();
                seen.Reset();
            }
            break;
        case Pending::Kind::Gone:
            if (written || outcome == CardOutcome::Gone)
                continue;
            newOutcome = CardOutcome::Gone;
            break;
        case Pending::Kind::Row: {
            std::uint16_t diff = 0;
            const auto now_values = Values(std::as_const(op.card));
            const auto old_values = Values(std::as_const(stored));
            for (int i = 0; i < kCardColumns; ++i) {
                if (*now_values[static_cast<std::size_t>(i)] !=
                    *old_values[static_cast<std::size_t>(i)])
                    diff = static_cast<std::uint16_t>(diff | (1u << i));
            }
            if (written) {
                // Told again in the same run: the values it first had stay
                // the comparison's, a later difference is added to them.
                newChanged = static_cast<std::uint16_t>(changed | diff);
                if (diff != 0 && outcome == CardOutcome::Unchanged)
                    newOutcome = CardOutcome::Changed;
            } else if (!hasValues) {
                newOutcome = CardOutcome::First;
                newChanged = 0;
                diff = 1; // the first values are written
            } else {
                newOutcome = diff == 0 ? CardOutcome::Unchanged : CardOutcome::Changed;
                newChanged = diff;
            }
            writeValues = diff != 0;
            if (writeValues) {
                putValues.Bind(1, card).Bind(2, url);
                const auto values = Values(std::as_const(op.card));
                for (int i = 0; i < kCardColumns; ++i)
                    putValues.Bind(3 + i, *values[static_cast<std::size_t>(i)]);
                putValues.Bind(13, now);
                putValues.Step();
                putValues.Reset();
            } else {
                seen.Bind(1, card).Bind(2, url).Bind(3, now);
                seen.Step();
                seen.Reset();
            }
            break;
        }
        }
        if (known && newOutcome == outcome && newChanged == changed)
            continue;
        putRunCard.Bind(1, run_).Bind(2, card).Bind(3, static_cast<std::int64_t>(newOutcome));
        putRunCard.Bind(4, static_cast<std::int64_t>(newChanged));
        putRunCard.Step();
        putRunCard.Reset();
    }
    pending.ops.clear();

    if (pending.finish) {
        SqliteStatement finish = db.Prepare("UPDATE runs SET ended=?2, complete=?3 WHERE id=?1");
        finish.Bind(1, run_).Bind(2, pending.endMs).Bind(3, pending.complete ? 1 : 0);
        finish.Step();
        pending.finish = false;
    }
}

StoreReport CardStore::FinishRun(bool complete, const QDateTime& end, const QString& changesPath) {
    StoreReport report;
    if (db_) {
        pending_->finish = true;
        pending_->complete = complete;
        pending_->endMs = end.toMSecsSinceEpoch();
        // The last writes may wait once more for another process; after
        // that the run's record is given up rather than the run held.
        if (Commit() == Problem::Busy)
            Unavailable(QStringLiteral("база занята другой копией программы"));
    }
    if (db_ && run_ != 0 && !skipComparison_) {
        try {
            SqliteStatement earlier = db_->Prepare(
                "SELECT id, started FROM runs WHERE settings=?1 AND complete=1 AND id<>?2 AND "
                "started<?3 ORDER BY started DESC, id DESC LIMIT 1");
            earlier.Bind(1, settingsText_).Bind(2, run_).Bind(3, startMs_);
            if (!earlier.Step()) {
                lines_.push_back(NoEarlierRunLine());
            } else {
                const std::int64_t earlierRun = earlier.Integer(0);
                const QDateTime earlierStart = QDateTime::fromMSecsSinceEpoch(earlier.Integer(1));
                report.comparison = Compare(earlierRun, complete);
                report.compared = true;
                report.comparedWith = earlierStart;
                lines_.push_back(ComparisonLine(report.comparison, earlierStart));
                const std::vector<ChangedCard> rows = ChangedCards(report.comparison);
                try {
                    WriteChangesFile(changesPath, rows);
                    report.changesPath = changesPath;
                    lines_.push_back(QStringLiteral("Изменения записаны в ") + changesPath);
                } catch (const std::exception& error) {
                    lines_.push_back(QStringLiteral("Изменения не записаны: ") +
                                     QString::fromUtf8(error.what()));
                }
            }
        } catch (const std::exception& error) {
            Fail(error);
        }
    }
    report.lines = TakeLines();
    run_ = 0;
    return report;
}

RunComparison CardStore::Compare(std::int64_t earlier, bool complete) {
    const auto load = [this](std::int64_t run) {
        std::vector<RunCard> cards;
        SqliteStatement select =
            db_->Prepare("SELECT card, outcome, changed FROM run_cards WHERE run=?1");
        select.Bind(1, run);
        while (select.Step())
            cards.push_back({select.Integer(0), static_cast<CardOutcome>(select.Integer(1)),
                             static_cast<std::uint16_t>(select.Integer(2))});
        return cards;
    };
    return CompareRuns(load(run_), load(earlier), complete);
}

std::vector<ChangedCard> CardStore::ChangedCards(const RunComparison& comparison) {
    std::vector<ChangedCard> rows;
    rows.reserve(comparison.changes.size());
    SqliteStatement select = db_->Prepare(
        (QStringLiteral("SELECT url, %1 FROM cards WHERE id=?1").arg(QLatin1String(kValueColumns)))
            .toUtf8()
            .constData());
    for (const CardChange& change : comparison.changes) {
        ChangedCard row;
        row.status = change.status;
        row.changed = change.changed;
        select.Bind(1, change.card);
        if (select.Step()) {
            row.card.url = select.Text(0);
            const auto values = Values(row.card);
            for (int i = 0; i < kCardColumns; ++i)
                *values[static_cast<std::size_t>(i)] = select.Text(1 + i);
        }
        select.Reset();
        rows.push_back(std::move(row));
    }
    return rows;
}
