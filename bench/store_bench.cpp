// The card store's cost: comparing two runs of 100,000 cards, and what a run
// of 2,000 cards adds to the program's work.

#include "store/card_store.h"
#include "store/run_comparison.h"
#include "text/csv_row.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

// 100,000 cards each time, about 5 % new, 5 % gone, 5 % changed between runs.
std::vector<RunCard> RunCards(std::int64_t count, bool later) {
    std::vector<RunCard> cards;
    cards.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t id = later ? i + count / 20 : i; // the first 5 % gone, 5 % new
        const bool changed = later && id % 20 == 7;
        cards.push_back({id, changed ? CardOutcome::Changed : CardOutcome::Unchanged,
                         static_cast<std::uint16_t>(changed ? 1u << 5 : 0u)});
    }
    return cards;
}

void BM_CompareRuns(benchmark::State& state) {
    const std::vector<RunCard> earlier = RunCards(state.range(0), false);
    std::vector<RunCard> current = RunCards(state.range(0), true);
    // The store reads them in no particular order.
    for (std::size_t i = 0; i < current.size(); i += 3)
        std::swap(current[i], current[current.size() - 1 - i]);
    for (auto _ : state) {
        RunComparison comparison = CompareRuns(current, earlier, true);
        benchmark::DoNotOptimize(comparison.changes.data());
    }
}
BENCHMARK(BM_CompareRuns)->Arg(100000)->Unit(benchmark::kMillisecond);

CardRecord Card(std::int64_t i, int week) {
    CardRecord card;
    card.url = QStringLiteral("https://127.0.0.1:8443/pro/master-%1-qre8xw").arg(i);
    card.name = QStringLiteral("Попова Алёна Сергеевна %1").arg(i);
    card.categories = QStringLiteral("Сантехники, Мастер на час");
    card.services = QStringLiteral("Установка смесителя; Замена труб; Прочистка канализации");
    card.rating = QStringLiteral("4.7");
    card.reviews = QString::number(i % 240);
    card.telephone = QStringLiteral("+7 (916) %1-00-00").arg(i % 1000, 3, 10, QLatin1Char('0'));
    if (week > 0 && i % 20 == 7)
        card.telephone = QStringLiteral("+7 (999) 000-00-%1").arg(week);
    card.site = QStringLiteral("https://popova-alyona.example");
    card.email = QStringLiteral("popova.alyona@mail.example");
    card.city = QStringLiteral("Москва");
    card.address = QStringLiteral("ул. Профсоюзная, д. 12, кв. 40");
    return card;
}

StoreSettings Settings() {
    return {QStringLiteral("127.0.0.1:8443"),
            QStringLiteral("127.0.0.1:8444"),
            {QStringLiteral("Сантехники (santehniki)")},
            {QStringLiteral("Москва--Москва и Московская область")}};
}

// Tells one run to the store as the run thread would: every card found
// (committed in one go at the end of phase 1), then the rows, committed
// every `perFlush` rows (a run writes about 25 cards a second).
void TellRun(CardStore& store, std::int64_t count, int week, std::int64_t perFlush) {
    store.BeginRun(Settings(), QStringLiteral("run-%1.journal").arg(week),
                   QDateTime::fromMSecsSinceEpoch(1767225600000 + week * 604800000LL));
    const std::int64_t first = week * (count / 20); // each week 5 % gone, 5 % new
    for (std::int64_t i = first; i < first + count; ++i)
        store.Found(Card(i, week).url);
    store.Flush();
    for (std::int64_t i = first; i < first + count; ++i) {
        store.RowWritten(Card(i, week));
        if ((i + 1) % perFlush == 0)
            store.Flush();
    }
}

// The end of a run of N cards against an earlier run of N: the last flush,
// the comparison, and the changes file.
void BM_FinishRunWithComparison(benchmark::State& state) {
    QTemporaryDir dir;
    const std::int64_t count = state.range(0);
    {
        CardStore store(dir.path());
        TellRun(store, count, 0, count);
        store.FinishRun(true, QDateTime::currentDateTime(), dir.filePath(QStringLiteral("c0.csv")));
    }
    int week = 1;
    std::int64_t changes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CardStore>(dir.path());
        TellRun(*store, count, week, count);
        state.ResumeTiming();
        const StoreReport report = store->FinishRun(true, QDateTime::currentDateTime(),
                                                    dir.filePath(QStringLiteral("changes.csv")));
        changes = static_cast<std::int64_t>(report.comparison.changes.size());
        state.PauseTiming();
        store.reset();
        ++week;
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(changes);
}
BENCHMARK(BM_FinishRunWithComparison)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond);

// Everything a run of N cards costs the store, from opening it to the
// changes file, against an earlier run of the same cards.
void BM_WholeRunInStore(benchmark::State& state) {
    QTemporaryDir dir;
    const std::int64_t count = state.range(0);
    {
        CardStore store(dir.path());
        TellRun(store, count, 0, 25);
        store.FinishRun(true, QDateTime::currentDateTime(), dir.filePath(QStringLiteral("c0.csv")));
    }
    const QString file = dir.filePath(CardStore::FileName());
    const qint64 before = QFileInfo(file).size();
    int week = 1;
    for (auto _ : state) {
        CardStore store(dir.path());
        TellRun(store, count, week++, 25);
        const StoreReport report = store.FinishRun(true, QDateTime::currentDateTime(),
                                                   dir.filePath(QStringLiteral("changes.csv")));
        benchmark::DoNotOptimize(report.comparison.fresh);
    }
    // What the file grows by per run (the last store closed has moved its
    // write-ahead log into it), against the run's result file.
    qint64 csv = 3 + (CsvHeader() + QStringLiteral("\r\n")).toUtf8().size();
    for (std::int64_t i = 0; i < count; ++i)
        csv += (FormatCsvRow(Card(i, 1)) + QStringLiteral("\r\n")).toUtf8().size();
    state.counters["store_growth_per_run"] =
        static_cast<double>(QFileInfo(file).size() - before) / static_cast<double>(week - 1);
    state.counters["csv_bytes"] = static_cast<double>(csv);
}
BENCHMARK(BM_WholeRunInStore)->Arg(2000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace
