#include "run/listing_handler.h"

#include "run/requests.h"
#include "text/extract.h"
#include "text/json_reader.h"

#include <limits>
#include <stdexcept>

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

void AddCardUrl(const QString& url, WorkQueue& cardQueue, SeenSet& seen) {
    if (seen.Contains(url))
        return;
    cardQueue.push_back(url);
    seen.Insert(url);
}

} // namespace

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
    QStringView s = scope.mid(all + kAllExperts.size());

    // s is a window on `scope`; `base` is where it starts in it. The "</script>"
    // found for one block is reused for the next while it still lies after that
    // block's marker, so the text is scanned once however many blocks it has.
    qsizetype base = all + kAllExperts.size();
    qsizetype scriptEnd = -2; // position in `scope`; -2 not searched, -1 none
    for (qsizetype p = s.indexOf(kLocalBusiness); p >= 0; p = s.indexOf(kLocalBusiness)) {
        const qsizetype markerEnd = base + p + kLocalBusiness.size();
        if (scriptEnd == -2 || (scriptEnd >= 0 && scriptEnd < markerEnd))
            scriptEnd = scope.indexOf(kScriptEnd, markerEnd);
        QStringView block;
        if (scriptEnd >= 0)
            block = scope.mid(base + p, scriptEnd - (base + p));
        // Drop the text up to and including the marker's eleventh character
        // (p + 10 characters counting from 1), so this occurrence no longer
        // matches.
        s = s.mid(p + 11);
        base += p + 11;

        const QString cardList = ExtractBetween(block, kCardList, {}, kCardListEnd);
        urls.push_back(ExtractBetween(cardList, kQuote, {}, kQuote));
    }
    return urls;
}

std::vector<QString> CardUrlsFromSearchResponse(QStringView response, const QString& webHost) {
    std::vector<QString> urls;
    const std::optional<JsonValue> document = JsonParse(response);
    if (!document)
        return urls;
    const JsonValue* resources = JsonAsArray(JsonMember(&*document, "resources"));
    if (resources == nullptr)
        return urls;
    const std::size_t count = JsonCount(*resources);
    urls.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        urls.push_back(CardUrl(webHost, JsonMemberText(JsonElement(*resources, i), "slug")));
    return urls;
}

ResponseOutcome HandleListingResponse(const QString& item, const QString& response,
                                      const QString& webHost, const QStringList& categoryIds,
                                      WorkQueue& listingQueue, QueuedSearches& queued,
                                      WorkQueue& cardQueue, SeenSet& seen) {
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
        const QString city = ExtractBetween(response, kCityKey, {}, kCityKeyEnd);
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
    // the kind of item.
    const std::vector<QString> urls = response.contains(u"<html")
                                          ? CardUrlsFromPage(response)
                                          : CardUrlsFromSearchResponse(response, webHost);
    for (const QString& url : urls)
        AddCardUrl(url, cardQueue, seen);

    outcome.newCards = static_cast<int>(cardQueue.size() - before);
    outcome.firmscounter = static_cast<int>(cardQueue.size());
    outcome.logLines.push_back(
        QStringLiteral("Найдено %1 новых карточек на странице").arg(outcome.newCards));
    return outcome;
}
