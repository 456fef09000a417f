// Card extraction from any page, and the card's result-file row.
#include "fuzz_support.h"

#include "run/card_extractor.h"
#include "run/result_file.h"

namespace {

const QString kUrl = QStringLiteral("https://127.0.0.1:8443/pro/fuzz-card");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString page = BodyText(data, size);
    const CardRecord card = ExtractCard(page, kUrl, QStringLiteral(","));
    FUZZ_CHECK(card.url == kUrl);
    FUZZ_CHECK(!card.rating.contains(QLatin1Char('.')));
    FUZZ_CHECK(!card.name.contains(QLatin1Char('\\')) && !card.address.contains(QLatin1Char('\\')));
    FUZZ_CHECK(!card.categories.contains(QLatin1Char(';')) &&
               !card.categories.contains(QLatin1Char('<')));
    FUZZ_CHECK(card.categories.isEmpty() ||
               (card.categories.front().unicode() > 32 && card.categories.back().unicode() > 32));

    // Eleven quoted fields whose values hold no double quote of their own.
    const QString row = FormatCsvRow(card);
    FUZZ_CHECK(row.count(QLatin1Char('"')) == 22);
    FUZZ_CHECK(row.startsWith(QLatin1Char('"') + kUrl + QStringLiteral("\";")));
    FUZZ_CHECK(row.endsWith(QLatin1Char('"')));

    // A point as the separator keeps the rating as cut.
    const CardRecord pointCard = ExtractCard(page, kUrl, QStringLiteral("."));
    FUZZ_CHECK(QString(pointCard.rating).replace(QLatin1Char('.'), QLatin1Char(',')) ==
               card.rating);
    return 0;
}
