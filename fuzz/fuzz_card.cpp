// Card extraction from any page, and the card's result-file row. Every value
// must be that of the earlier straightforward extraction, and the services of
// the whole page read as a block too.
#include "fuzz_support.h"
#include "reference_readers.h"

#include "site/card_extractor.h"
#include "store/result_file.h"

namespace {

const QString kUrl = QStringLiteral("https://127.0.0.1:8443/pro/fuzz-card");

void CheckAgainstReference(const QString& page, const CardRecord& card,
                           const QString& decimalSeparator) {
    const CardRecord expected = reference::ExtractCard(page, kUrl, decimalSeparator);
    FUZZ_CHECK(card.url == expected.url && card.name == expected.name);
    FUZZ_CHECK(card.categories == expected.categories && card.services == expected.services);
    FUZZ_CHECK(card.rating == expected.rating && card.reviews == expected.reviews);
    FUZZ_CHECK(card.telephone == expected.telephone && card.site == expected.site);
    FUZZ_CHECK(card.email == expected.email && card.city == expected.city);
    FUZZ_CHECK(card.address == expected.address);
}

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

    CheckAgainstReference(page, card, QStringLiteral(","));
    CheckAgainstReference(page, pointCard, QStringLiteral("."));
    FUZZ_CHECK(ExtractServices(page) == reference::ExtractServices(page));
    return 0;
}
