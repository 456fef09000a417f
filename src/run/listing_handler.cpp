#include "run/listing_handler.h"

#include "run/requests.h"
#include "text/extract.h"
#include "text/json_reader.h"

#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace {

// The listing page carries its state as JSON inside a string, hence the
// escaped quotes in its markers.
constexpr QStringView kCityKey = uR"("defaultValues\":{\"location\":[{\"key\":\")";
constexpr QStringView kCityKeyEnd = uR"(\")";
constexpr QStringView kCategoryIndex = uR"(\"activeCategory\":)";
constexpr QStringView kCategoryIndexSecond = u":categories:";
constexpr QStringView kCategoryIndexEnd = uR"(\)";
constexpr QStringView kPageToken = uR"(\"nextPageToken\":\")";
constexpr QStringView kPageTokenEnd = uR"(\")";

constexpr QStringView kSearchCityId = uR"("cityId":{"eq":")";
constexpr QStringView kSearchCategoryId = uR"(categoryId":{"eq":")";
constexpr QStringView kSearchServiceId = uR"(serviceId":{"all":[")";
constexpr QStringView kSearchPageToken = uR"("nextPageToken":")";
constexpr QStringView kQuote = u"\"";

constexpr QStringView kFiltersDroppedNotice =
    u">Убрали часть фильтров, чтобы показать больше экспертов";
constexpr QStringView kAllExperts = u"Все эксперты</a>";
constexpr QStringView kLocalBusiness = uR"("@type": "LocalBusiness",)";
constexpr QStringView kScriptEnd = u"</script>";
constexpr QStringView kCardList = uR"("sameAs": [)";
constexpr QStringView kCardListEnd = u"]";

QString Shortened(const QString& text) {
    constexpr qsizetype kMax = 40;
    return text.size() <= kMax ? text : text.left(kMax) + QStringLiteral("...");
}

// A decimal integer with an optional sign and nothing else around it.
bool ParseInteger(QStringView text, long long& value) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        if (v > (std::numeric_limits<long long>::max() - 9) / 10)
            return false;
        v = v * 10 + (c - u'0');
    }
    value = negative ? -v : v;
    return true;
}

QString CategoryIdAt(const QString& indexText, const QStringList& categoryIds) {
    long long index = 0;
    if (!ParseInteger(indexText, index)) {
        const QString message =
            QStringLiteral("The category index \"%1\" on the listing page is not an integer")
                .arg(Shortened(indexText));
        throw std::runtime_error(message.toStdString());
    }
    if (index < 0 || index >= categoryIds.size()) {
        const QString message =
            QStringLiteral(
                "The category index %1 on the listing page is outside the category list (%2 "
                "categories)")
                .arg(index)
                .arg(categoryIds.size());
        throw std::runtime_error(message.toStdString());
    }
    return categoryIds.at(static_cast<qsizetype>(index));
}

// The slugs of a search response's "resources", read without building the
// document; no value when the response gives no card URL.
std::optional<JsonTextRuns> SearchResponseSlugs(QStringView response) {
    const QByteArray utf8 = response.toUtf8();
    return JsonArrayMemberTexts(
        std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), "resources",
        "slug");
}

QString SlugUrl(const QString& webHost, std::string_view slug) {
    return CardUrl(webHost, QString::fromUtf8(slug.data(), static_cast<qsizetype>(slug.size())));
}

} // namespace

QString ListingCityKey(QStringView page) {
    return ExtractBetween(page, kCityKey, {}, kCityKeyEnd);
}

std::vector<QString> CardUrlsFromPage(QStringView page) {
    std::vector<QString> urls;
    // Nothing after the notice is read: its ">" stays, the rest is dropped.
    QStringView scope = page;
    const qsizetype notice = scope.indexOf(kFiltersDroppedNotice);
    if (notice >= 0)
        scope = scope.left(notice + 1);
    const qsizetype all = scope.indexOf(kAllExperts);
    if (all < 0)
        return urls;

    // Each block runs from its marker to the first "</script>" after the
    // marker, and many blocks may share that end. Instead of cutting every
    // block and searching it to its end, each marker of the cut is searched
    // once in `scope` by a finder whose positions only move forward, and a hit
    // counts only when it lies wholly inside the block, as in the cut text.
    // The closing quote has a finder of its own: its positions follow the
    // opening quote's, not the list's.
    ForwardFinder blocks(scope, kLocalBusiness);
    ForwardFinder blockEnds(scope, kScriptEnd);
    ForwardFinder lists(scope, kCardList);
    ForwardFinder listEnds(scope, kCardListEnd);
    ForwardFinder openQuotes(scope, kQuote);
    ForwardFinder closeQuotes(scope, kQuote);
    // Blocks that share a card list give the same URL: it is made once and
    // shared, so a long one is not copied for every block.
    QString url;
    qsizetype urlFrom = -1;
    for (qsizetype p = blocks.From(all + kAllExperts.size()); p >= 0;
         // The next search starts after the marker's eleventh character, so
         // this occurrence no longer matches.
         p = blocks.From(p + 11)) {
        qsizetype from = -1;
        qsizetype to = -1;
        const qsizetype blockEnd = blockEnds.From(p + kLocalBusiness.size());
        const qsizetype list = blockEnd < 0 ? -1 : lists.From(p);
        if (list >= 0 && list + kCardList.size() <= blockEnd) {
            const qsizetype listStart = list + kCardList.size();
            const qsizetype listEnd = listEnds.From(listStart);
            if (listEnd >= 0 && listEnd < blockEnd) {
                const qsizetype open = openQuotes.From(listStart);
                if (open >= 0 && open < listEnd) {
                    const qsizetype close = closeQuotes.From(open + 1);
                    if (close >= 0 && close < listEnd) {
                        from = open + 1;
                        to = close;
                    }
                }
            }
        }
        if (from < 0) {
            urls.emplace_back();
            continue;
        }
        if (from != urlFrom) {
            url = scope.mid(from, to - from).toString();
            urlFrom = from;
        }
        urls.push_back(url);
    }
    return urls;
}

std::vector<QString> CardUrlsFromSearchResponse(QStringView response, const QString& webHost) {
    std::vector<QString> urls;
    const std::optional<JsonTextRuns> slugs = SearchResponseSlugs(response);
    if (!slugs)
        return urls;
    urls.reserve(slugs->ElementCount());
    for (std::size_t run = 0; run < slugs->runs.size(); ++run)
        urls.insert(urls.end(), slugs->runs[run].count, SlugUrl(webHost, slugs->Text(run)));
    return urls;
}

ResponseOutcome HandleListingResponse(const QString& item, const QString& response,
                                      const QString& webHost, const QStringList& categoryIds,
                                      WorkQueue& listingQueue, QueuedSearches& queued,
                                      UrlQueue& cardQueue, SeenSet& seen) {
    ResponseOutcome outcome;
    const std::size_t before = cardQueue.size();
    // Queues the next page's request unless it was queued before.
    const auto queueNext = [&](QString request) {
        if (queued.contains(request))
            return false;
        queued.insert(request);
        listingQueue.push_back(std::move(request));
        return true;
    };

    // The next page's request, queued before this page's cards are collected.
    if (!ContainsSearchFilter(item)) {
        const QString city = ListingCityKey(response);
        const QString category = CategoryIdAt(
            ExtractBetween(response, kCategoryIndex, kCategoryIndexSecond, kCategoryIndexEnd),
            categoryIds);
        const QString token = ExtractBetween(response, kPageToken, {}, kPageTokenEnd);
        if (token.isEmpty() || !queueNext(SearchRequestBody(category, city, token)))
            outcome.logLines.push_back(
                QStringLiteral("Следующей страницы нет, начинаем выгрузку карточек"));
    } else {
        const QString city = ExtractBetween(item, kSearchCityId, {}, kQuote);
        const QString category = ExtractBetween(item, kSearchCategoryId, {}, kQuote);
        const QString service = ExtractBetween(item, kSearchServiceId, {}, kQuote);
        const QString token = ExtractBetween(response, kSearchPageToken, {}, kQuote);
        const bool queuedNext =
            !token.isEmpty() &&
            queueNext(service.isEmpty() ? SearchRequestBody(category, city, token)
                                        : SearchRequestBody(category, city, service, token));
        if (!queuedNext) {
            outcome.logLines.push_back(QStringLiteral("categoryId/serviceId ") + category +
                                       QStringLiteral("/") + service +
                                       QStringLiteral(" список закончился"));
        }
    }

    // The card URLs: any response holding "<html" is read as a page, whatever
    // the kind of item. A URL equal to the one just added changes nothing (it
    // is in the seen set by then), so a run of equal URLs is added once: a
    // hostile response may repeat one, however long, for every block or
    // element.
    if (response.contains(u"<html")) {
        const std::vector<QString> urls = CardUrlsFromPage(response);
        const QString* previous = nullptr;
        for (const QString& url : urls) {
            // Blocks that share a card list share the URL's text.
            if (previous == nullptr || url.constData() != previous->constData() ||
                url.size() != previous->size())
                cardQueue.PushNew(url, seen);
            previous = &url;
        }
    } else if (const std::optional<JsonTextRuns> slugs = SearchResponseSlugs(response)) {
        for (std::size_t run = 0; run < slugs->runs.size(); ++run)
            cardQueue.PushNew(SlugUrl(webHost, slugs->Text(run)), seen);
    }

    outcome.newCards = static_cast<int>(cardQueue.size() - before);
    outcome.firmscounter = static_cast<int>(cardQueue.size());
    outcome.logLines.push_back(
        QStringLiteral("Найдено %1 новых карточек на странице").arg(outcome.newCards));
    return outcome;
}
