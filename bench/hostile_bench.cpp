// Hostile pages and search responses: the page readings and the search
// response reading on inputs built to make them slow, with the earlier
// straightforward readings (fuzz/reference_readers.h) for comparison.
#include "reference_readers.h"
#include "sample_pages.h"

#include "site/card_extractor.h"
#include "site/listing_handler.h"
#include "text/html_text.h"

#include <benchmark/benchmark.h>

namespace {

const QString kUrl = QStringLiteral("https://127.0.0.1:8443/pro/hostile");
const QString kWebHost = QStringLiteral("127.0.0.1:8443");
constexpr std::int64_t kMiB = 1024 * 1024;

// The page's text, after checking that the reading and the earlier one agree
// on it when `check` (the earlier one takes minutes on the larger pages).
template <typename Read, typename ReadReference>
QString CheckedPage(benchmark::State& state, const QByteArray& body, Read read,
                    ReadReference readReference, bool check) {
    const QString page = StreamToText(body);
    if (check && read(page) != readReference(page))
        state.SkipWithError("the reading and the earlier one disagree");
    return page;
}

// Blocks sharing one "</script>", none with a card list.
void BM_CardUrlsFromPage_Hostile(benchmark::State& state) {
    const QByteArray body = HostileListingPage(static_cast<std::size_t>(state.range(0)));
    const QString page = CheckedPage(
        state, body, [](const QString& p) { return CardUrlsFromPage(p); },
        [](const QString& p) { return reference::CardUrlsFromPage(p); }, state.range(0) <= kMiB);
    for (auto _ : state) {
        const std::vector<QString> urls = CardUrlsFromPage(page);
        benchmark::DoNotOptimize(urls.data());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_CardUrlsFromPage_Hostile)->Arg(kMiB)->Arg(3 * kMiB)->Unit(benchmark::kMillisecond);

void BM_ReferenceCardUrlsFromPage_Hostile(benchmark::State& state) {
    const QString page = StreamToText(HostileListingPage(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        const std::vector<QString> urls = reference::CardUrlsFromPage(page);
        benchmark::DoNotOptimize(urls.data());
    }
}
BENCHMARK(BM_ReferenceCardUrlsFromPage_Hostile)
    ->Arg(kMiB)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Offers sharing one "}", none with a name.
void BM_ExtractCard_Hostile(benchmark::State& state) {
    const QByteArray body = HostileCardPage(static_cast<std::size_t>(state.range(0)));
    const QString page = CheckedPage(
        state, body,
        [](const QString& p) { return ExtractCard(p, kUrl, QStringLiteral(",")).services; },
        [](const QString& p) {
            return reference::ExtractCard(p, kUrl, QStringLiteral(",")).services;
        },
        state.range(0) <= kMiB);
    for (auto _ : state) {
        const CardRecord card = ExtractCard(page, kUrl, QStringLiteral(","));
        benchmark::DoNotOptimize(card.services.constData());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_ExtractCard_Hostile)->Arg(kMiB)->Arg(3 * kMiB)->Unit(benchmark::kMillisecond);

void BM_ReferenceExtractCard_Hostile(benchmark::State& state) {
    const QString page = StreamToText(HostileCardPage(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        const CardRecord card = reference::ExtractCard(page, kUrl, QStringLiteral(","));
        benchmark::DoNotOptimize(card.services.constData());
    }
}
BENCHMARK(BM_ReferenceExtractCard_Hostile)->Arg(kMiB)->Iterations(1)->Unit(benchmark::kMillisecond);

// A card's categories made of line breaks (and the earlier cleanup, which
// moved the rest of the text once per 1024 of them).
QString LineBreaks(std::size_t bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes));
    while (static_cast<std::size_t>(text.size()) < bytes)
        text += QStringLiteral("\r\n");
    return text;
}

void BM_CleanHtmlText_LineBreaks(benchmark::State& state) {
    const QString text = LineBreaks(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const QString clean = CleanHtmlText(text);
        benchmark::DoNotOptimize(clean.constData());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CleanHtmlText_LineBreaks)
    ->Arg(3 * kMiB)
    ->Arg(12 * kMiB)
    ->Unit(benchmark::kMillisecond);

void BM_ReferenceCleanHtmlText_LineBreaks(benchmark::State& state) {
    const QString text = LineBreaks(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const QString clean = reference::CleanHtmlText(text);
        benchmark::DoNotOptimize(clean.constData());
    }
}
BENCHMARK(BM_ReferenceCleanHtmlText_LineBreaks)
    ->Arg(3 * kMiB)
    ->Arg(12 * kMiB)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A 16 MiB search response of empty objects: decoded, read, card URLs made.
void BM_SearchResponseCardUrls_EmptyObjects(benchmark::State& state) {
    const QByteArray body =
        HostileSearchResponse(SearchShape::EmptyObjects, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const std::vector<QString> urls = CardUrlsFromSearchResponse(StreamToText(body), kWebHost);
        benchmark::DoNotOptimize(urls.data());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_SearchResponseCardUrls_EmptyObjects)->Arg(16 * kMiB)->Unit(benchmark::kMillisecond);

void BM_ReferenceSearchResponseCardUrls_EmptyObjects(benchmark::State& state) {
    const QByteArray body =
        HostileSearchResponse(SearchShape::EmptyObjects, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const std::vector<QString> urls =
            reference::CardUrlsFromSearchResponse(StreamToText(body), kWebHost);
        benchmark::DoNotOptimize(urls.data());
    }
}
BENCHMARK(BM_ReferenceSearchResponseCardUrls_EmptyObjects)
    ->Arg(16 * kMiB)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
