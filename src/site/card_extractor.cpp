#include "site/card_extractor.h"

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
    // An offer runs from its marker to the first "}" after it, and many offers
    // may share that "}". Each marker is searched once in the block by a
    // finder whose positions only move forward; a hit counts only when it lies
    // wholly inside the offer, as in the cut text.
    ForwardFinder offers(block, kOffer);
    ForwardFinder offerEnds(block, kOfferEnd);
    ForwardFinder names(block, kName);
    ForwardFinder nameEnds(block, kQuote);
    // The next search starts after the marker's fourth character, so this
    // occurrence no longer matches.
    for (qsizetype p = offers.From(0); p >= 0; p = offers.From(p + 4)) {
        const qsizetype offerStart = p + kOffer.size();
        const qsizetype offerEnd = offerEnds.From(offerStart);
        if (offerEnd < 0)
            break; // no "}" follows: this offer and all later ones are empty
        const qsizetype name = names.From(offerStart);
        if (name < 0 || name + kName.size() > offerEnd)
            continue;
        const qsizetype nameStart = name + kName.size();
        const qsizetype nameEnd = nameEnds.From(nameStart);
        if (nameEnd < 0 || nameEnd >= offerEnd || nameEnd == nameStart)
            continue;
        if (!services.isEmpty())
            services.append(u"; ");
        services.append(block.mid(nameStart, nameEnd - nameStart));
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
        card.rating = ReplaceAll(card.rating, u".", decimalSeparator);
    card.reviews = Between(block, kReviews, kComma).toString();
    card.telephone = Between(block, kTelephone, kQuote).toString();
    card.site = Between(Between(block, kSameAs, kSameAsEnd), kQuote, kQuote).toString();
    card.email = Between(block, kEmail, kQuote).toString();
    card.city = Between(block, kLocality, kQuote).toString();
    card.address = WithoutBackslashes(Between(block, kStreet, kQuoteComma));
    return card;
}
