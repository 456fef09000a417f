// SeenSet at the sizes a long run reaches: the cost of one insertion and of
// one lookup (present or absent URL) with N URLs in the set, and the memory
// a collected card URL costs, held once (the card queue viewing the set's
// text) and held twice (a queue of copies beside the set).
#include "sample_pages.h"

#include "store/seen_set.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

namespace {

// Per size: the URLs, a set holding all of them, and lookup orders.
struct Fixture {
    std::vector<QString> urls;
    SeenSet set;
    std::vector<QString> hits;   // present URLs in random order
    std::vector<QString> misses; // absent URLs sharing the present ones' prefixes
};

const Fixture& FixtureFor(std::size_t n) {
    static std::map<std::size_t, std::unique_ptr<Fixture>> fixtures;
    std::unique_ptr<Fixture>& f = fixtures[n];
    if (!f) {
        f = std::make_unique<Fixture>();
        f->urls = CardUrls(n, 7);
        for (const QString& url : f->urls)
            f->set.Insert(url);
        // Probes are copies made in lookup order, so that reading a probe
        // costs what reading a URL just cut from a page costs; only the set's
        // own memory is cold.
        std::vector<QString> order = f->urls;
        std::shuffle(order.begin(), order.end(), std::mt19937(11));
        for (const QString& url : order) {
            f->hits.push_back(QString(url.constData(), url.size()));
            f->misses.push_back(url + u'x');
        }
    }
    return *f;
}

void PerOperation(benchmark::State& state, double operationsPerIteration) {
    state.counters["per_op"] =
        benchmark::Counter(operationsPerIteration, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

// N insertions into an empty set (the cost averages sizes 0 to N).
void BM_SeenSetInsert(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<QString> urls = CardUrls(n, 3);
    for (auto _ : state) {
        auto set = std::make_unique<SeenSet>();
        for (const QString& url : urls)
            benchmark::DoNotOptimize(set->Insert(url));
        state.PauseTiming();
        set.reset();
        state.ResumeTiming();
    }
    PerOperation(state, static_cast<double>(n));
}
BENCHMARK(BM_SeenSetInsert)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_SeenSetContainsPresent(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<std::size_t>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.set.Contains(f.hits[i]));
        if (++i == f.hits.size())
            i = 0;
    }
    PerOperation(state, 1);
}
BENCHMARK(BM_SeenSetContainsPresent)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

void BM_SeenSetContainsAbsent(benchmark::State& state) {
    const Fixture& f = FixtureFor(static_cast<std::size_t>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.set.Contains(f.misses[i]));
        if (++i == f.misses.size())
            i = 0;
    }
    PerOperation(state, 1);
}
BENCHMARK(BM_SeenSetContainsAbsent)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// Bytes the heap holds now, mapped blocks included.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// N card URLs collected as a run collects them, each arriving as a text of
// its own (cut from a response that is then dropped); `bytes_per_url` is
// what the collections hold per URL afterwards.
template <typename Collect> void HeldPerUrl(benchmark::State& state, Collect collect) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<QString> urls = CardUrls(n, 5);
    double bytes = 0;
    for (auto _ : state) {
        const double before = HeapBytes();
        bytes = collect(urls) - before;
    }
    state.counters["bytes_per_url"] = bytes / static_cast<double>(n);
}

void BM_CardUrlsHeldOnce(benchmark::State& state) {
    HeldPerUrl(state, [](const std::vector<QString>& urls) {
        SeenSet seen;
        UrlQueue queue;
        for (const QString& url : urls)
            queue.PushNew(QString(url.constData(), url.size()), seen);
        return HeapBytes();
    });
}
BENCHMARK(BM_CardUrlsHeldOnce)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CardUrlsHeldTwice(benchmark::State& state) {
    HeldPerUrl(state, [](const std::vector<QString>& urls) {
        SeenSet seen;
        WorkQueue queue;
        for (const QString& url : urls) {
            QString copy(url.constData(), url.size());
            if (seen.Insert(copy))
                queue.push_back(std::move(copy));
        }
        return HeapBytes();
    });
}
BENCHMARK(BM_CardUrlsHeldTwice)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
