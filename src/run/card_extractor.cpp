#include "run/card_extractor.h"

#include "text/extract.h"
#include "text/html_text.h"

namespace {

constexpr QStringView kBlockStart = uR"("@type": "LocalBusiness")";
constexpr QStringView kBlockEnd = u"</script>";
constexpr QStringView kQuote = u"\"";
constexpr QStringView kQuoteComma = u"\",";
constexpr QStringView kComma = u",";

constexpr QStringView kName = uR"("name": ")";
constexpr QStringView kCategories = uR"(data-order="5">)";
constexpr QStringView kCategoriesEnd = u"<";
constexpr QStringView kRating = uR"("ratingValue": )";
constexpr QStringView kReviews = uR"("reviewCount": )";
constexpr QStringView kTelephone = uR"("telephone": ")";
constexpr QStringView kSameAs = uR"("sameAs":)";
constexpr QStringView kSameAsEnd = u"]";
constexpr QStringView kEmail = uR"("email": ")";
constexpr QStringView kLocality = uR"("addressLocality": ")";
constexpr QStringView kStreet = uR"("streetAddress": ")";
constexpr QStringView kOffer = uR"("@type": "Offer",)";
constexpr QStringView kOfferEnd = u"}";

// The text after the first `start` up to the next `end`, as a view on `text`;
// empty when either is missing (the two-marker form of ExtractBetween).
QStringView Between(QStringView text, QStringView start, QStringView end) {
    const qsizetype at = text.indexOf(start);
    if (at < 0)
        return {};
    const qsizetype from = at + start.size();
    const qsizetype to = text.indexOf(end, from);
    if (to < 0)
        return {};
    return text.mid(from, to - from);
}

QString WithoutBackslashes(QStringView value) {
    QString out = value.toString();
    out.remove(QLatin1Char('\\'));
    return out;
}

} // namespace

QString ExtractServices(QStringView block) {
    QString services;
    QStringView rest = block;
    // `base` is where rest starts in block. The "}" found for one offer is
    // reused for the next while it still lies after that offer's marker, so
    // the block is scanned once however many offers it has.
    qsizetype base = 0;
    qsizetype braceAt = -2; // position in `block`; -2 not searched, -1 none
    for (qsizetype p = rest.indexOf(kOffer); p >= 0; p = rest.indexOf(kOffer)) {
        const qsizetype offerStart = base + p + kOffer.size();
        if (braceAt == -2 || (braceAt >= 0 && braceAt < offerStart))
            braceAt = block.indexOf(kOfferEnd, offerStart);
        QStringView offer;
        if (braceAt >= 0)
            offer = block.mid(offerStart, braceAt - offerStart);
        // Drop the text up to and including the marker's fourth character
        // (p + 3 characters counting from 1), so this occurrence no longer
        // matches and the next pass finds the next offer.
        rest = rest.mid(p + 4);
        base += p + 4;

        const QStringView name = Between(offer, kName, kQuote);
        if (name.isEmpty())
            continue;
        if (!services.isEmpty())
            services.append(u"; ");
        services.append(name);
    }
    return services;
}

CardRecord ExtractCard(QStringView page, const QString& url, const QString& decimalSeparator) {
    const QStringView block = Between(page, kBlockStart, kBlockEnd);

    CardRecord card;
    card.url = url;
    card.name = WithoutBackslashes(Between(block, kName, kQuoteComma));
    card.categories =
        TrimControl(CleanHtmlText(Between(page, kCategories, kCategoriesEnd))).toString();
    card.services = ExtractServices(block);
    card.rating = Between(block, kRating, kComma).toString();
    if (decimalSeparator != u".")
        card.rating.replace(QLatin1Char('.'), decimalSeparator);
    card.reviews = Between(block, kReviews, kComma).toString();
    card.telephone = Between(block, kTelephone, kQuote).toString();
    card.site = Between(Between(block, kSameAs, kSameAsEnd), kQuote, kQuote).toString();
    card.email = Between(block, kEmail, kQuote).toString();
    card.city = Between(block, kLocality, kQuote).toString();
    card.address = WithoutBackslashes(Between(block, kStreet, kQuoteComma));
    return card;
}
