// Card extraction, text cleanup and search-response reading: throughput of
// the per-response work of a run.
#include "sample_pages.h"

#include "site/card_extractor.h"
#include "site/listing_handler.h"
#include "text/html_text.h"

#include <benchmark/benchmark.h>

namespace {

const QString kUrl = QStringLiteral("https://127.0.0.1:8443/pro/romanov-aleksey-p5ffz6");
const QString kWebHost = QStringLiteral("127.0.0.1:8443");
constexpr std::size_t kCardPageBytes = 300 * 1024;

// The sample page, after checking that it gives the card it was built with,
// so that the figures measure a real extraction.
QByteArray CheckedCardPage(benchmark::State& state) {
    const QByteArray body = CardPageBody(static_cast<std::size_t>(state.range(0)));
    const CardRecord card = ExtractCard(StreamToText(body), kUrl, QStringLiteral(","));
    if (card.name != QStringLiteral("Алексей \"Мастер\" Романов") ||
        card.categories != QStringLiteral("Сантехники, Гарантия 1 год") ||
        card.services.count(u"; ") != 5 || card.rating != QStringLiteral("4,7") ||
        card.address != QStringLiteral("пр-т Мира, д. 27, офис 8") ||
        card.site != QStringLiteral("https://vk.example/romanov-aleksey"))
        state.SkipWithError("the sample page does not give its card");
    return body;
}

// A whole card: the response body decoded as UTF-8, then cut into a record.
void BM_CardPageToRecord(benchmark::State& state) {
    const QByteArray body = CheckedCardPage(state);
    for (auto _ : state) {
        const CardRecord card = ExtractCard(StreamToText(body), kUrl, QStringLiteral(","));
        benchmark::DoNotOptimize(card.address.constData());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_CardPageToRecord)->Arg(kCardPageBytes)->Unit(benchmark::kMicrosecond);

// The two halves of the above.
void BM_StreamToText(benchmark::State& state) {
    const QByteArray body = CheckedCardPage(state);
    for (auto _ : state) {
        const QString text = StreamToText(body);
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_StreamToText)->Arg(kCardPageBytes)->Unit(benchmark::kMicrosecond);

void BM_ExtractCard(benchmark::State& state) {
    const QByteArray body = CheckedCardPage(state);
    const QString page = StreamToText(body);
    for (auto _ : state) {
        const CardRecord card = ExtractCard(page, kUrl, QStringLiteral(","));
        benchmark::DoNotOptimize(card.address.constData());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_ExtractCard)->Arg(kCardPageBytes)->Unit(benchmark::kMicrosecond);

// CleanHtmlText on the categories fragment of a card (what a run cleans) and
// on a whole page's text (bulk throughput); bytes are counted as UTF-8.
void BM_CleanHtmlText_Categories(benchmark::State& state) {
    const QString fragment =
        QStringLiteral("\n            Сантехники; Гарантия&nbsp;1&nbsp;год &laquo;Плюс&raquo;\n"
                       "          ");
    const qsizetype bytes = fragment.toUtf8().size();
    for (auto _ : state) {
        const QString clean = CleanHtmlText(fragment);
        benchmark::DoNotOptimize(clean.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_CleanHtmlText_Categories);

void BM_CleanHtmlText_Page(benchmark::State& state) {
    const QByteArray body = CardPageBody(static_cast<std::size_t>(state.range(0)));
    const QString page = StreamToText(body);
    for (auto _ : state) {
        const QString clean = CleanHtmlText(page);
        benchmark::DoNotOptimize(clean.constData());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_CleanHtmlText_Page)->Arg(kCardPageBytes)->Unit(benchmark::kMicrosecond);

// A search response of 25 resources: decoded, parsed, card URLs collected.
void BM_SearchResponseCardUrls(benchmark::State& state) {
    const QByteArray body = SearchResponseBody(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const std::vector<QString> urls = CardUrlsFromSearchResponse(StreamToText(body), kWebHost);
        if (urls.size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("wrong number of card URLs");
        benchmark::DoNotOptimize(urls.data());
    }
    state.SetBytesProcessed(state.iterations() * body.size());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SearchResponseCardUrls)->Arg(25)->Unit(benchmark::kMicrosecond);

} // namespace
