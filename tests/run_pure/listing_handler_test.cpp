#include "run/listing_handler.h"
#include "run/requests.h"

#include "print_qstring.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

const QString kHost = u"web.test"_s;
const QString kListingUrl = u"https://web.test/professionals/santehniki/c/msk/probr-0~"_s;
const QStringList kCategoryIds = {u"id-a"_s, u"id-b"_s, u"id-c"_s};

// The state a listing page carries as JSON inside a string.
QString ListingState(const QString& cityKey, const QString& categoryIndex, const QString& token) {
    QString state = uR"(<script>window.state = "{\"defaultValues\":{\"location\":[{\"key\":\")"_s +
                    cityKey + uR"(\"}]},\"activeCategory\":\"cat:categories:)"_s + categoryIndex +
                    uR"(\")"_s;
    if (!token.isEmpty())
        state += uR"(,\"nextPageToken\":\")"_s + token + uR"(\")"_s;
    return state + u"}\";</script>"_s;
}

QString JsonLdBlock(const QString& cardUrl) {
    return u"<script type=\"application/ld+json\">{\"@context\": \"https://schema.org\", "
           "\"@type\": \"LocalBusiness\", \"name\": \"X\", \"sameAs\": [\""_s +
           cardUrl + u"\", \"https://other.test\"]}</script>\n"_s;
}

QString ListingPage(const QString& state, const QString& cards) {
    return u"<html><head>"_s + state + u"</head><body>"_s + JsonLdBlock(u"https://before.test"_s) +
           u"<a href=\"/professionals\">Все эксперты</a>"_s + cards + u"</body></html>"_s;
}

struct Phase1 {
    WorkQueue listing;
    QueuedSearches queued;
    WorkQueue cards;
    SeenSet seen;

    ResponseOutcome Handle(const QString& item, const QString& response) {
        return HandleListingResponse(item, response, kHost, kCategoryIds, listing, queued, cards,
                                     seen);
    }
};

std::vector<QString> Lines(std::initializer_list<QString> lines) {
    return lines;
}

} // namespace

TEST(ListingHandler, ListingPageWithTokenQueuesOneSearchRequest) {
    Phase1 run;
    const QString page = ListingPage(ListingState(u"moskva"_s, u"2"_s, u"TOKEN1"_s),
                                     JsonLdBlock(u"https://web.test/pro/a"_s) +
                                         JsonLdBlock(u"https://web.test/pro/b"_s));
    const ResponseOutcome outcome = run.Handle(kListingUrl, page);

    ASSERT_EQ(run.listing.size(), 1u);
    EXPECT_EQ(run.listing.front(), SearchRequestBody(u"id-c"_s, u"moskva"_s, u"TOKEN1"_s));
    EXPECT_EQ(run.cards, WorkQueue({u"https://web.test/pro/a"_s, u"https://web.test/pro/b"_s}));
    EXPECT_EQ(outcome.logLines, Lines({u"Найдено 2 новых карточек на странице"_s}));
    EXPECT_EQ(outcome.firmscounter, 2);
    EXPECT_EQ(outcome.newCards, 2);
}

TEST(ListingHandler, ListingPageWithoutTokenEndsThePairsList) {
    Phase1 run;
    const ResponseOutcome outcome =
        run.Handle(kListingUrl, ListingPage(ListingState(u"k"_s, u"0"_s, QString()), QString()));
    EXPECT_TRUE(run.listing.empty());
    EXPECT_EQ(outcome.logLines, Lines({u"Следующей страницы нет, начинаем выгрузку карточек"_s,
                                       u"Найдено 0 новых карточек на странице"_s}));
    EXPECT_EQ(outcome.firmscounter, 0);
}

TEST(ListingHandler, BadCategoryIndexThrowsBeforeAnythingIsQueued) {
    const QString cards = JsonLdBlock(u"https://web.test/pro/a"_s);
    const QString pages[] = {
        // no activeCategory marker at all
        u"<html>"_s + ListingPage(uR"(\"nextPageToken\":\"T\")"_s, cards),
        ListingPage(ListingState(u"k"_s, u"3"_s, u"T"_s), cards),  // one past the end
        ListingPage(ListingState(u"k"_s, u"-1"_s, u"T"_s), cards), // negative
        ListingPage(ListingState(u"k"_s, u"1a"_s, u"T"_s), cards), // not a number
        ListingPage(ListingState(u"k"_s, u"99999999999999999999999"_s, u"T"_s), cards),
    };
    for (const QString& page : pages) {
        Phase1 run;
        run.listing.push_back(u"https://web.test/other"_s);
        try {
            run.Handle(kListingUrl, page);
            ADD_FAILURE() << "no error for " << page.toStdString();
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("category index"), std::string::npos);
        }
        EXPECT_EQ(run.listing.size(), 1u);
        EXPECT_TRUE(run.cards.empty());
        EXPECT_EQ(run.seen.size(), 0u);
    }
    Phase1 run;
    EXPECT_NO_THROW(
        run.Handle(kListingUrl, ListingPage(ListingState(u"k"_s, u"+1"_s, u"T"_s), cards)));
    EXPECT_EQ(run.listing.front(), SearchRequestBody(u"id-b"_s, u"k"_s, u"T"_s));
}

TEST(ListingHandler, SearchRequestsRepeatTheirFiltersOrEndTheList) {
    Phase1 run;
    const QString plain = SearchRequestBody(u"id-a"_s, u"msk"_s, u"T1"_s);
    run.Handle(plain, uR"({"resources":[],"nextPageToken":"T2"})"_s);
    ASSERT_EQ(run.listing.size(), 1u);
    EXPECT_EQ(run.listing.front(), SearchRequestBody(u"id-a"_s, u"msk"_s, u"T2"_s));

    const QString filtered = SearchRequestBody(u"id-a"_s, u"msk"_s, u"svc"_s, u"T1"_s);
    run.Handle(filtered, uR"({"resources":[],"nextPageToken":"T3"})"_s);
    ASSERT_EQ(run.listing.size(), 2u);
    EXPECT_EQ(run.listing.back(), SearchRequestBody(u"id-a"_s, u"msk"_s, u"svc"_s, u"T3"_s));

    const ResponseOutcome last = run.Handle(plain, uR"({"resources":[],"nextPageToken":""})"_s);
    EXPECT_EQ(run.listing.size(), 2u);
    EXPECT_EQ(last.logLines, Lines({u"categoryId/serviceId id-a/ список закончился"_s,
                                    u"Найдено 0 новых карточек на странице"_s}));
    const ResponseOutcome lastFiltered = run.Handle(filtered, u"{}"_s);
    EXPECT_EQ(lastFiltered.logLines.front(), u"categoryId/serviceId id-a/svc список закончился"_s);
}

// A site that hands out a token already requested for the same pair and
// filter (the same token again, or a cycle) ends that pair's list: the page's
// cards still count, and other pairs may still use that token.
TEST(ListingHandler, ARepeatedPageTokenEndsThePairsList) {
    Phase1 run;
    const QString first = SearchRequestBody(u"id-a"_s, u"msk"_s, u"T1"_s);
    run.queued.insert(first);
    run.Handle(first, uR"({"resources":[{"slug":"a"}],"nextPageToken":"T2"})"_s);
    ASSERT_EQ(run.listing.size(), 1u);
    const QString second = run.listing.front();
    const ResponseOutcome cycle =
        run.Handle(second, uR"({"resources":[{"slug":"b"}],"nextPageToken":"T1"})"_s);
    EXPECT_EQ(run.listing.size(), 1u) << "T1 was requested before";
    EXPECT_EQ(cycle.logLines, Lines({u"categoryId/serviceId id-a/ список закончился"_s,
                                     u"Найдено 1 новых карточек на странице"_s}));
    const ResponseOutcome same = run.Handle(second, uR"({"resources":[],"nextPageToken":"T2"})"_s);
    EXPECT_EQ(same.logLines.front(), u"categoryId/serviceId id-a/ список закончился"_s);
    EXPECT_EQ(run.listing.size(), 1u);

    // The same token of another pair, or with a service filter, is another request.
    run.Handle(SearchRequestBody(u"id-b"_s, u"msk"_s, u"T0"_s), uR"({"nextPageToken":"T2"})"_s);
    run.Handle(SearchRequestBody(u"id-a"_s, u"msk"_s, u"s"_s, u"T0"_s),
               uR"({"nextPageToken":"T2"})"_s);
    EXPECT_EQ(run.listing.size(), 3u);

    // A listing page whose token was queued already (the pair selected
    // twice) ends its list as a page without a token does.
    const QString page = ListingPage(ListingState(u"k"_s, u"0"_s, u"TL"_s), QString());
    run.Handle(kListingUrl, page);
    const ResponseOutcome again = run.Handle(kListingUrl, page);
    EXPECT_EQ(run.listing.size(), 4u);
    EXPECT_EQ(again.logLines.front(), u"Следующей страницы нет, начинаем выгрузку карточек"_s);
}

TEST(ListingHandler, CardsAreCollectedOnceWithoutRegardToCase) {
    Phase1 run;
    const QString item = SearchRequestBody(u"id-a"_s, u"msk"_s, u"T"_s);
    ResponseOutcome outcome =
        run.Handle(item, uR"({"resources":[{"slug":"ivan"},{"slug":"Пётр"},{"slug":"ivan"}]})"_s);
    EXPECT_EQ(outcome.logLines.back(), u"Найдено 2 новых карточек на странице"_s);

    // Another page and another pair find the same cards in other letter case.
    outcome = run.Handle(SearchRequestBody(u"id-b"_s, u"spb"_s, u"T"_s),
                         uR"({"resources":[{"slug":"IVAN"},{"slug":"пЁТР"},{"slug":"new"}]})"_s);
    EXPECT_EQ(outcome.logLines.back(), u"Найдено 1 новых карточек на странице"_s);
    EXPECT_EQ(outcome.firmscounter, 3);
    EXPECT_EQ(run.cards, WorkQueue({u"https://web.test/pro/ivan"_s, u"https://web.test/pro/Пётр"_s,
                                    u"https://web.test/pro/new"_s}));

    // Listing pages feed the same set.
    outcome = run.Handle(kListingUrl, ListingPage(ListingState(u"k"_s, u"0"_s, QString()),
                                                  JsonLdBlock(u"HTTPS://WEB.TEST/PRO/NEW"_s)));
    EXPECT_EQ(outcome.logLines.back(), u"Найдено 0 новых карточек на странице"_s);
    EXPECT_EQ(run.seen.size(), 3u);
}

TEST(ListingHandler, UnusableSearchResponsesGiveNoOrEmptySlugs) {
    const QString item = SearchRequestBody(u"id-a"_s, u"msk"_s, u"T"_s);
    for (const QString& response : {u"not json"_s, u"{\"resources\":{}}"_s, u"[1,2]"_s,
                                    u"{\"other\":[{\"slug\":\"x\"}]}"_s}) {
        Phase1 run;
        const ResponseOutcome outcome = run.Handle(item, response);
        EXPECT_TRUE(run.cards.empty()) << response.toStdString();
        EXPECT_EQ(outcome.logLines.back(), u"Найдено 0 новых карточек на странице"_s);
    }
    // Elements without a slug, or not objects, give the bare card prefix, once.
    Phase1 run;
    const ResponseOutcome outcome =
        run.Handle(item, uR"({"resources":[{"id":1},null,7,{"slug":"a"}]})"_s);
    EXPECT_EQ(run.cards, WorkQueue({u"https://web.test/pro/"_s, u"https://web.test/pro/a"_s}));
    EXPECT_EQ(outcome.newCards, 2);
}

TEST(ListingHandler, ResponsesHoldingHtmlAreReadAsPages) {
    Phase1 run;
    const QString item = SearchRequestBody(u"id-a"_s, u"msk"_s, u"T"_s);
    // An API error page: no "Все эксперты</a>", so no cards, and the JSON-looking
    // text inside is not read.
    run.Handle(item, u"<html><body>{\"resources\":[{\"slug\":\"x\"}]}</body></html>"_s);
    EXPECT_TRUE(run.cards.empty());

    run.Handle(item, u"<html>Все эксперты</a>"_s + JsonLdBlock(u"https://c.test/1"_s));
    EXPECT_EQ(run.cards, WorkQueue({u"https://c.test/1"_s}));
}

TEST(ListingHandler, BlocksAfterTheFiltersNoticeAreIgnored) {
    const QString notice = u"<p>Убрали часть фильтров, чтобы показать больше экспертов</p>"_s;
    const QString page =
        ListingPage(ListingState(u"k"_s, u"0"_s, QString()),
                    JsonLdBlock(u"https://c.test/in1"_s) + JsonLdBlock(u"https://c.test/in2"_s) +
                        notice + JsonLdBlock(u"https://c.test/out"_s));
    EXPECT_EQ(CardUrlsFromPage(page),
              std::vector<QString>({u"https://c.test/in1"_s, u"https://c.test/in2"_s}));

    // The cut also ends the block search: a block whose "</script>" lies only
    // after the notice has no end, hence an empty URL.
    const QString open =
        u"<html>Все эксперты</a>{\"@type\": \"LocalBusiness\", \"sameAs\": [\"https://c.test/x\"]"_s;
    EXPECT_EQ(CardUrlsFromPage(open + notice + u"</script>"_s), std::vector<QString>({QString()}));
    EXPECT_EQ(CardUrlsFromPage(open + u"</script>"_s),
              std::vector<QString>({u"https://c.test/x"_s}));
}

TEST(ListingHandler, BrokenBlocksGiveTheEmptyUrlOnce) {
    Phase1 run;
    const QString page =
        u"<html>Все эксперты</a>"
        "<script>{\"@type\": \"LocalBusiness\", \"name\": \"no list\"}</script>"
        "<script>{\"@type\": \"LocalBusiness\", \"sameAs\": []}</script>"
        "<script>{\"@type\": \"LocalBusiness\", \"sameAs\": [\"https://c.test/1\""_s;
    const ResponseOutcome outcome = run.Handle(SearchRequestBody(u"a"_s, u"b"_s, u"T"_s), page);
    // Three blocks: no list, an empty list, and one without "</script>".
    EXPECT_EQ(CardUrlsFromPage(page), std::vector<QString>(3, QString()));
    EXPECT_EQ(run.cards, WorkQueue({QString()}));
    EXPECT_EQ(outcome.newCards, 1);
}
