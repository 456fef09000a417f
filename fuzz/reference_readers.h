#pragma once
// The earlier, straightforward readings of listing pages, card pages and
// search responses, kept to check the program's faster ones against: every
// block and offer is cut out and searched on its own, and a search response
// is read through the whole JSON document. Same results, more time and memory
// on hostile input. Used by the fuzz targets, the unit tests and the
// benchmarks; not part of the program.

#include "site/card_extractor.h"
#include "site/requests.h"
#include "store/seen_set.h"
#include "text/extract.h"
#include "text/html_text.h"
#include "text/json_reader.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

namespace reference {

// The text after the first `start` up to the next `end`, as a view on `text`.
inline QStringView Between(QStringView text, QStringView start, QStringView end) {
    const qsizetype at = text.indexOf(start);
    if (at < 0)
        return {};
    const qsizetype from = at + start.size();
    const qsizetype to = text.indexOf(end, from);
    if (to < 0)
        return {};
    return text.mid(from, to - from);
}

// CleanHtmlText with QString::replace for each rewrite.
inline QString CleanHtmlText(QStringView text) {
    static const std::pair<QStringView, QStringView> kCleanups[] = {
        {u"&nbsp;", u" "},  {u"&bull;", u"-"},  {u"&times;", u"x"},  {u"&quot;", u"\""},
        {u"&mdash;", u"-"}, {u"&ndash;", u"-"}, {u"&laquo;", u"\""}, {u"&raquo;", u"\""},
        {u"&lt;", u"<"},    {u"&gt;", u">"},    {u"&#039;", u"'"},   {u";", u","},
        {u"<br>", u" "},    {u"\r", u""},       {u"\n", u""}};
    QString s = HtmlDecode(text);
    for (const auto& [find, with] : kCleanups) {
        if (s.contains(find))
            s.replace(find.toString(), with.toString(), Qt::CaseSensitive);
    }
    // Tags: from each "<" through the next ">", or to the end of the text.
    const qsizetype firstTag = s.indexOf(QLatin1Char('<'));
    if (firstTag < 0)
        return s;
    QString out;
    out.reserve(s.size());
    out.append(QStringView(s).left(firstTag));
    qsizetype i = firstTag;
    while (i < s.size()) {
        const qsizetype lt = s.indexOf(QLatin1Char('<'), i);
        if (lt < 0) {
            out.append(QStringView(s).mid(i));
            break;
        }
        out.append(QStringView(s).mid(i, lt - i));
        const qsizetype gt = s.indexOf(QLatin1Char('>'), lt);
        if (gt < 0)
            break;
        i = gt + 1;
    }
    return out;
}

inline std::vector<QString> CardUrlsFromPage(QStringView page) {
    constexpr QStringView kNotice = u">Убрали часть фильтров, чтобы показать больше экспертов";
    constexpr QStringView kAllExperts = u"Все эксперты</a>";
    constexpr QStringView kMarker = uR"("@type": "LocalBusiness",)";
    std::vector<QString> urls;
    QStringView scope = page;
    const qsizetype notice = scope.indexOf(kNotice);
    if (notice >= 0)
        scope = scope.left(notice + 1);
    const qsizetype all = scope.indexOf(kAllExperts);
    if (all < 0)
        return urls;
    QStringView s = scope.mid(all + kAllExperts.size());
    // The "</script>" found for one block is reused for the next while it
    // still lies after that block's marker.
    qsizetype base = all + kAllExperts.size();
    qsizetype scriptEnd = -2; // in `scope`; -2 not searched, -1 none
    for (qsizetype p = s.indexOf(kMarker); p >= 0; p = s.indexOf(kMarker)) {
        const qsizetype markerEnd = base + p + kMarker.size();
        if (scriptEnd == -2 || (scriptEnd >= 0 && scriptEnd < markerEnd))
            scriptEnd = scope.indexOf(u"</script>", markerEnd);
        QStringView block;
        if (scriptEnd >= 0)
            block = scope.mid(base + p, scriptEnd - (base + p));
        s = s.mid(p + 11);
        base += p + 11;
        const QString cardList = ExtractBetween(block, uR"("sameAs": [)", {}, u"]");
        urls.push_back(ExtractBetween(cardList, u"\"", {}, u"\""));
    }
    return urls;
}

inline QString ExtractServices(QStringView block) {
    constexpr QStringView kOffer = uR"("@type": "Offer",)";
    QString services;
    QStringView rest = block;
    // The "}" found for one offer is reused for the next while it still lies
    // after that offer's marker.
    qsizetype base = 0;
    qsizetype brace = -2; // in `block`; -2 not searched, -1 none
    for (qsizetype p = rest.indexOf(kOffer); p >= 0; p = rest.indexOf(kOffer)) {
        const qsizetype start = base + p + kOffer.size();
        if (brace == -2 || (brace >= 0 && brace < start))
            brace = block.indexOf(u"}", start);
        const QStringView offer = brace >= 0 ? block.mid(start, brace - start) : QStringView();
        rest = rest.mid(p + 4);
        base += p + 4;
        const QStringView name = Between(offer, uR"("name": ")", u"\"");
        if (name.isEmpty())
            continue;
        if (!services.isEmpty())
            services.append(u"; ");
        services.append(name);
    }
    return services;
}

inline CardRecord ExtractCard(QStringView page, const QString& url,
                              const QString& decimalSeparator) {
    const auto withoutBackslashes = [](QStringView value) {
        QString out = value.toString();
        out.remove(QLatin1Char('\\'));
        return out;
    };
    const QStringView block = Between(page, uR"("@type": "LocalBusiness")", u"</script>");
    CardRecord card;
    card.url = url;
    card.name = withoutBackslashes(Between(block, uR"("name": ")", u"\","));
    card.categories =
        TrimControl(reference::CleanHtmlText(Between(page, uR"(data-order="5">)", u"<")))
            .toString();
    card.services = reference::ExtractServices(block);
    card.rating = Between(block, uR"("ratingValue": )", u",").toString();
    if (decimalSeparator != u".")
        card.rating.replace(QLatin1Char('.'), decimalSeparator);
    card.reviews = Between(block, uR"("reviewCount": )", u",").toString();
    card.telephone = Between(block, uR"("telephone": ")", u"\"").toString();
    card.site = Between(Between(block, uR"("sameAs":)", u"]"), u"\"", u"\"").toString();
    card.email = Between(block, uR"("email": ")", u"\"").toString();
    card.city = Between(block, uR"("addressLocality": ")", u"\"").toString();
    card.address = withoutBackslashes(Between(block, uR"("streetAddress": ")", u"\","));
    return card;
}

inline std::vector<QString> CardUrlsFromSearchResponse(QStringView response,
                                                       const QString& webHost) {
    std::vector<QString> urls;
    const std::optional<JsonValue> document = JsonParse(response);
    if (!document)
        return urls;
    const JsonValue* resources = JsonAsArray(JsonMember(&*document, "resources"));
    if (resources == nullptr)
        return urls;
    const std::size_t count = JsonCount(*resources);
    for (std::size_t i = 0; i < count; ++i)
        urls.push_back(CardUrl(webHost, JsonMemberText(JsonElement(*resources, i), "slug")));
    return urls;
}

// The cards a run queues from `urls`, added one by one.
inline WorkQueue QueuedOneByOne(const std::vector<QString>& urls) {
    WorkQueue cards;
    SeenSet seen;
    for (const QString& url : urls) {
        if (!seen.Contains(url)) {
            cards.push_back(url);
            seen.Insert(url);
        }
    }
    return cards;
}

} // namespace reference
