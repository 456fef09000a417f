// The card store through its interface: what two runs of the same settings
// give, the changes file, and a run continued after a kill.

#include "store_support.h"

#include "store/changes_file.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

QString StoreFile(const QTemporaryDir& dir) {
    return dir.filePath(CardStore::FileName());
}

QByteArray ChangesBytes(const std::vector<ChangedCard>& rows) {
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += (ChangesHeader() + QStringLiteral("\r\n")).toUtf8();
    for (const ChangedCard& row : rows)
        bytes += (FormatChangesRow(row) + QStringLiteral("\r\n")).toUtf8();
    return bytes;
}

TEST(CardStore, ComparesWithTheLatestEarlierCompleteRunOfTheSameSettings) {
    QTemporaryDir dir;
    const QString folder = dir.path();
    RunScript week0;
    week0.found = {u"a"_s, u"b"_s};
    week0.rows = {Card(u"a"_s), Card(u"b"_s)};

    StoreReport first = TellStore(folder, week0, 1);
    EXPECT_EQ(first.lines, std::vector<QString>{NoEarlierRunLine()});
    EXPECT_FALSE(QFile::exists(folder + u"/changes1.csv"_s));

    // Other settings: nothing to compare with.
    RunScript other = week0;
    other.settings = Settings(u"Казань"_s);
    EXPECT_EQ(TellStore(folder, other, 2).lines, std::vector<QString>{NoEarlierRunLine()});

    // An incomplete run is compared, and is no base for a later one.
    RunScript partial = week0;
    partial.found = {u"a"_s};
    partial.rows = {Card(u"a"_s, u"+7 901"_s)};
    partial.complete = false;
    const StoreReport third = TellStore(folder, partial, 3);
    ASSERT_EQ(third.lines.size(), 2u);
    EXPECT_EQ(third.lines[0].toStdString(),
              "Сравнение со сбором от 01.03.2026 10:00: новых 0, изменилось 1, без изменений 0, "
              "пропало — не считаем: сбор неполный");
    EXPECT_EQ(third.lines[1], u"Изменения записаны в "_s + folder + u"/changes3.csv"_s);

    // The base is still the first run: b was not found by the partial one,
    // and a's values are the partial run's, now told again.
    RunScript fourth = week0;
    fourth.rows = {Card(u"a"_s, u"+7 901"_s), Card(u"b"_s)};
    const StoreReport last = TellStore(folder, fourth, 4);
    ASSERT_FALSE(last.lines.empty());
    EXPECT_EQ(last.lines[0].toStdString(),
              "Сравнение со сбором от 01.03.2026 10:00: новых 0, изменилось 0, без изменений 2, "
              "пропало 0");
    EXPECT_EQ(Query(StoreFile(dir), "SELECT count(*) FROM runs"), 4);
    EXPECT_EQ(Query(StoreFile(dir), "SELECT count(*) FROM cards"), 2);
}

TEST(CardStore, NewChangedGoneAndLetterCaseAcrossThreeRuns) {
    QTemporaryDir dir;
    const QString folder = dir.path();
    CardRecord formula = Card(u"f"_s);
    formula.name = u"=HYPERLINK(\"x\")"_s;
    RunScript week0;
    week0.found = {u"a"_s, u"b"_s, u"c"_s, u"Dd"_s, u"f"_s};
    week0.rows = {Card(u"a"_s), Card(u"b"_s), Card(u"c"_s), Card(u"Dd"_s), formula};
    TellStore(folder, week0, 1);

    // a same; b a new telephone; c not listed any more; d with its URL in
    // other letters; e new; g found, 404, never seen alive; h found, its
    // download failed.
    RunScript week1;
    week1.found = {u"a"_s, u"b"_s, u"dD"_s, u"e"_s, u"f"_s, u"g"_s, u"h"_s};
    CardRecord d = Card(u"Dd"_s);
    d.url = Url(u"dD"_s);
    // The formula card told in its row form, as a continued run reads it
    // back from its result file: the same values.
    week1.rows = {Card(u"a"_s), Card(u"b"_s, u"+7 999"_s), d, Card(u"e"_s), CsvRowForm(formula)};
    week1.gone = {u"g"_s};
    const StoreReport second = TellStore(folder, week1, 8);
    ASSERT_EQ(second.lines.size(), 2u);
    EXPECT_EQ(second.lines[0].toStdString(),
              "Сравнение со сбором от 01.03.2026 10:00: новых 1, изменилось 1, без изменений 3, "
              "пропало 1");
    EXPECT_EQ(second.changesPath, folder + u"/changes8.csv"_s);
    EXPECT_EQ(ReadBytes(folder + u"/changes8.csv"_s),
              ChangesBytes({{Card(u"e"_s), ChangeStatus::New, 0},
                            {Card(u"b"_s, u"+7 999"_s), ChangeStatus::Changed, 1u << 5},
                            {Card(u"c"_s), ChangeStatus::Gone, 0}}));

    // Nothing changed since; b's download fails this time, so its values
    // stay as they were and it is none of the four.
    RunScript week1again = week1;
    week1again.rows = {Card(u"a"_s), d, Card(u"e"_s), formula};
    const StoreReport third = TellStore(folder, week1again, 15);
    ASSERT_EQ(third.lines.size(), 2u);
    EXPECT_EQ(third.lines[0].toStdString(),
              "Сравнение со сбором от 08.03.2026 10:00: новых 0, изменилось 0, без изменений 4, "
              "пропало 0");
    EXPECT_EQ(ReadBytes(folder + u"/changes15.csv"_s), ChangesBytes({}));

    RunScript fourth = week1;
    const StoreReport last = TellStore(folder, fourth, 22);
    EXPECT_EQ(last.comparison.unchanged, 5);
    EXPECT_EQ(last.comparison.changed, 0);
    // One card per URL without regard to case, first seen kept.
    EXPECT_EQ(Query(StoreFile(dir), "SELECT count(*) FROM cards"), 8);
    EXPECT_EQ(Query(StoreFile(dir), "SELECT count(*) FROM cards WHERE first_seen > last_seen"), 0);
}

// A run killed in phase 2 and continued: the continued store run replays
// what the journal and the result file hold (some of it already in the
// store, some lost with the kill) and ends as an uninterrupted run would.
TEST(CardStore, ContinuedRunRecordsEveryCardOnceAndComparesAsAnUninterruptedOne) {
    RunScript week0;
    week0.found = {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s};
    week0.rows = {Card(u"a"_s), Card(u"b"_s), Card(u"c"_s), Card(u"d"_s), Card(u"e"_s)};
    const std::vector<QString> found = {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"n"_s};
    const std::vector<CardRecord> rows = {Card(u"a"_s), Card(u"b"_s, u"+7 2"_s), Card(u"c"_s),
                                          Card(u"n"_s), Card(u"e"_s)};

    QTemporaryDir whole;
    TellStore(whole.path(), week0, 1);
    RunScript week1;
    week1.found = found;
    week1.rows = rows;
    week1.gone = {u"d"_s};
    const StoreReport uninterrupted = TellStore(whole.path(), week1, 8);

    QTemporaryDir killed;
    const QString folder = killed.path();
    TellStore(folder, week0, 1);
    QByteArray csv = QByteArray("\xEF\xBB\xBF") + (CsvHeader() + u"\r\n"_s).toUtf8();
    {
        CardStore store(folder);
        store.BeginRun(Settings(), u"run-8.journal"_s, Day(8));
        for (const QString& slug : found)
            store.Found(Url(slug));
        store.Flush();
        for (int i = 0; i < 3; ++i) {
            store.RowWritten(rows[static_cast<std::size_t>(i)]);
            csv += (FormatCsvRow(rows[static_cast<std::size_t>(i)]) + u"\r\n"_s).toUtf8();
            if (i == 1)
                store.Flush();
        }
        // Killed: the third row reached the result file, not the store.
    }
    csv += "\"https://web.test/pro/n\";\"torn"; // a row cut short by the kill

    CardStore store(folder);
    store.BeginRun(Settings(), u"run-8.journal"_s, Day(9), true);
    EXPECT_TRUE(store.Continued());
    for (const QString& slug : found)
        store.Found(Url(slug));
    QBuffer file(&csv);
    file.open(QIODevice::ReadOnly);
    int replayed = 0;
    ASSERT_TRUE(ReadCsvRows(file, [&](CardRecord&& card) {
        store.RowWritten(card);
        ++replayed;
    }));
    EXPECT_EQ(replayed, 3);
    store.Flush();
    store.RowWritten(rows[3]);
    store.RowWritten(rows[4]);
    store.Gone(Url(u"d"_s));
    const StoreReport continued = store.FinishRun(true, Day(9, 11), folder + u"/changes8.csv"_s);

    ASSERT_EQ(continued.lines.size(), 2u);
    ASSERT_EQ(uninterrupted.lines.size(), 2u);
    EXPECT_EQ(continued.lines[0], uninterrupted.lines[0]);
    EXPECT_EQ(continued.comparison.fresh, 1);
    EXPECT_EQ(continued.comparison.changed, 1);
    EXPECT_EQ(continued.comparison.unchanged, 3);
    EXPECT_EQ(continued.comparison.gone, 1);
    EXPECT_EQ(ReadBytes(folder + u"/changes8.csv"_s), ReadBytes(whole.path() + u"/changes8.csv"_s));
    const QString db = killed.filePath(CardStore::FileName());
    EXPECT_EQ(Query(db, "SELECT count(*) FROM runs"), 2);
    EXPECT_EQ(Query(db, "SELECT count(*) FROM run_cards WHERE run=2"), 6);
    EXPECT_EQ(Query(db, "SELECT count(*) FROM cards"), 6);
    // Started once: the continued run keeps its first start.
    EXPECT_EQ(Query(db, "SELECT started FROM runs WHERE id=2"), Day(8).toMSecsSinceEpoch());

    // A complete run is not continued, and a run not continuing is new,
    // whatever its key.
    CardStore again(folder);
    again.BeginRun(Settings(), u"run-8.journal"_s, Day(20), true);
    EXPECT_FALSE(again.Continued());
    CardStore fresh(folder);
    fresh.BeginRun(Settings(), u"run-1.journal"_s, Day(21));
    EXPECT_FALSE(fresh.Continued());
}

} // namespace
