#pragma once
// The card store: one SQLite database, "cards.sqlite" in the program folder,
// that remembers every run (start, end, settings, whether it was complete),
// every card's last values with when it was first seen, last seen and last
// changed, and which cards each run found. At its end a run is compared with
// the latest earlier complete run of the same settings.
//
// The store never fails a run: a store that cannot be opened, is damaged, or
// cannot be written says so in one line for the log and does nothing more.
// Only the run thread uses an object; several processes may share one file.

#include "store/run_comparison.h"
#include "text/card_record.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// What makes two runs comparable: the hosts and the selected rows (the
// settings a continued run is matched on).
struct StoreSettings {
    QString webHost;
    QString apiHost;
    QStringList categoryRows; // the selected rows, in list order
    QStringList cityRows;
};

// What the end of a run gives the log.
struct StoreReport {
    // Lines not yet taken (TakeLines), then the comparison line, then
    // "Изменения записаны в <path>" or why the changes file was not written.
    std::vector<QString> lines;
    bool compared = false; // there was an earlier run to compare with
    RunComparison comparison;
    QDateTime comparedWith; // that run's start
    QString changesPath;    // the changes file written, else empty
};

class SqliteDb;
struct ChangedCard;

class CardStore {
public:
    static constexpr int kDefaultBusyTimeoutMs = 3000;

    // Opens `folder`/cards.sqlite, making it when missing. Never throws; a
    // store that cannot be used is unavailable (TakeLines says why) and
    // every later call does nothing. `busyTimeoutMs` bounds each wait for
    // another process that is writing the same store.
    explicit CardStore(const QString& folder, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~CardStore();
    CardStore(const CardStore&) = delete;
    CardStore& operator=(const CardStore&) = delete;

    static QString FileName(); // "cards.sqlite"
    const QString& Path() const { return path_; }
    bool Available() const { return db_ != nullptr; }

    // The lines for the log since the last call: at most one saying that the
    // store is unavailable and why ("База карточек <path> недоступна
    // (<reason>), сравнение с прошлыми сборами пропущено").
    std::vector<QString> TakeLines();

    // Starts a run; a `continuing` one goes on with the latest incomplete run
    // begun with the same `key` and settings, if there is one (it keeps its
    // first start time, and an end it was given by a stop is taken back).
    void BeginRun(const StoreSettings& settings, const QString& key, const QDateTime& start,
                  bool continuing = false);
    // Whether BeginRun continued an earlier store run.
    bool Continued() const { return continued_; }

    // What the run did with a card. Each is idempotent within a run: telling
    // it again (a continued run replaying its journal and result file) keeps
    // one card and one outcome. A download that failed for another reason
    // than 404 needs no call: nothing changes for that card.
    void Found(const QString& url);          // collected in phase 1
    void RowWritten(const CardRecord& card); // its row, as given to the result file
    void Gone(const QString& url);           // its page answered 404

    // Commits what was told since the last flush in one transaction; the run
    // calls it at most once a second. While another process holds the store
    // for longer than the busy time-out, the writes wait for the next flush.
    void Flush();

    // Ends the run: the last writes, its end time and completeness, the
    // comparison with the latest earlier complete run of the same settings,
    // and, when there was one, the changes file at `changesPath`.
    StoreReport FinishRun(bool complete, const QDateTime& end, const QString& changesPath);

private:
    struct Pending;
    enum class Problem { None, Busy };

    void Open(int busyTimeoutMs);
    void OpenDatabase(int busyTimeoutMs);
    void CreateSchema();
    void Unavailable(const QString& reason);
    void Fail(const std::exception& error);
    void Damaged(const QString& detail, bool startAnew, int busyTimeoutMs);
    Problem Commit();
    void Apply(Pending& pending);
    RunComparison Compare(std::int64_t earlier, bool complete);
    std::vector<ChangedCard> ChangedCards(const RunComparison& comparison);

    QString folder_;
    QString path_;
    int busyTimeoutMs_;
    std::unique_ptr<SqliteDb> db_;
    std::unique_ptr<Pending> pending_;
    std::vector<QString> lines_;
    bool reported_ = false;       // the unavailable line has been made
    bool skipComparison_ = false; // a new store replaced a damaged one
    std::int64_t run_ = 0;        // 0 until the run's row exists
    bool continued_ = false;
    QString settingsText_;
    std::int64_t startMs_ = 0;
};
