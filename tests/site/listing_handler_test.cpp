#include "site/listing_handler.h"
#include "site/requests.h"
#include "store/seen_set.h"

#include "reference_readers.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
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
    UrlQueue cards;
    SeenSet seen;

    WorkQueue Cards() const { return {cards.begin(), cards.end()}; }

    ResponseOutcome Handle(const QString& item, const QString& response) {
        CardQueueCollector collector(cards, seen);
        return HandleListingResponse(item, response, kHost, kCategoryIds, listing, queued,
                                     collector);
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
    EXPECT_EQ(run.Cards(), WorkQueue({u"https://web.test/pro/a"_s, u"https://web.test/pro/b"_s}));
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
    EXPECT_EQ(run.Cards(),
              WorkQueue({u"https://web.test/pro/ivan"_s, u"https://web.test/pro/Пётр"_s,
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
    EXPECT_EQ(run.Cards(), WorkQueue({u"https://web.test/pro/"_s, u"https://web.test/pro/a"_s}));
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
    EXPECT_EQ(run.Cards(), WorkQueue({u"https://c.test/1"_s}));
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
    EXPECT_EQ(run.Cards(), WorkQueue({QString()}));
    EXPECT_EQ(outcome.newCards, 1);
}

// The program's readings of pages and search responses against the earlier
// block-by-block and whole-document ones (fuzz/reference_readers.h), on
// tricky and hostile responses: the same URLs, and the same cards queued.
namespace {

const QString kMarker = uR"("@type": "LocalBusiness",)"_s;
const QString kAll = u"<html>Все эксперты</a>"_s;
const QString kNotice = u">Убрали часть фильтров, чтобы показать больше экспертов"_s;

QString Repeated(const QString& text, int times) {
    QString out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// Pages made of the markers the reading looks for, mixed at random (the same
// on every run), so blocks overlap, share ends and lose parts in every way.
QString ShuffledPage(unsigned seed) {
    const QString pieces[] = {kMarker,
                              u"</script>"_s,
                              uR"("sameAs": [)"_s,
                              u"]"_s,
                              u"\""_s,
                              u"https://c.test/"_s,
                              u"x"_s,
                              u", "_s,
                              kNotice,
                              u"Все эксперты</a>"_s};
    QString page = kAll;
    for (int i = 0; i < 60; ++i) {
        seed = seed * 1103515245u + 12345u;
        page += pieces[(seed >> 16) % std::size(pieces)];
    }
    return page;
}

struct Page {
    const char* name;
    QString text;
};

void PrintTo(const Page& page, std::ostream* os) {
    *os << page.name;
}

class PageCardUrls : public testing::TestWithParam<Page> {};

} // namespace

TEST_P(PageCardUrls, AgreeWithTheBlockByBlockReading) {
    const QString& page = GetParam().text;
    const std::vector<QString> expected = reference::CardUrlsFromPage(page);
    const std::vector<QString> urls = CardUrlsFromPage(page);
    ASSERT_EQ(urls.size(), expected.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        EXPECT_EQ(urls[i], expected[i]) << "block " << i;
        EXPECT_EQ(urls[i].isNull(), expected[i].isNull()) << "block " << i;
    }
    Phase1 run;
    run.Handle(SearchRequestBody(u"a"_s, u"b"_s, u"T"_s), page);
    EXPECT_EQ(run.Cards(), reference::QueuedOneByOne(expected));
}

INSTANTIATE_TEST_SUITE_P(
    CardUrlsFromPage, PageCardUrls,
    testing::Values(
        Page{"blocks without lists share an end",
             kAll + Repeated(kMarker + u"x"_s, 5) + u"</script>"_s + kMarker + u"</script>"_s},
        Page{"list after the end",
             kAll + kMarker + u"</script>\"sameAs\": [\"https://x\"]"_s + kMarker + u"</script>"_s},
        Page{"no ] in the block", kAll + kMarker + u"\"sameAs\": [\"https://a\"</script>]"_s},
        Page{"] before the quotes", kAll + kMarker + u"\"sameAs\": [] \"https://q\" </script>"_s +
                                        kMarker + u"\"sameAs\": [\"https://r\"]</script>"_s},
        Page{"closing quote after ]", kAll + kMarker + u"\"sameAs\": [\"abc] \"def\"</script>"_s},
        Page{"nested blocks share a list",
             kAll + Repeated(kMarker, 3) + u"\"sameAs\": [\"https://shared\"]"_s + kMarker +
                 u"</script>"_s + kMarker + u"\"sameAs\": [\"https://own\"]</script>"_s},
        Page{"no </script>", kAll + kMarker + u"\"sameAs\": [\"https://a\"]"_s + kMarker},
        Page{"</script> right after the marker",
             kAll + kMarker + u"</script>\"sameAs\": [\"x\"]</script>"_s},
        Page{"blocks before the link", kMarker + u"\"sameAs\": [\"https://early\"]</script>"_s +
                                           kAll + kMarker + u"\"sameAs\": [\"https://late\"]"_s},
        Page{"notice inside a block",
             kAll + kMarker + u"\"sameAs\": [\"https://a\"]"_s + kNotice + u"</script>"_s},
        Page{"notice cuts a marker", kAll + u"\"@type\": \"LocalBu"_s + kNotice + u"siness\","_s},
        Page{"notice before the link",
             kNotice + kAll + kMarker + u"\"sameAs\": [\"a\"]</script>"_s},
        Page{"empty and unquoted entries", kAll + kMarker +
                                               u"\"sameAs\": [\"\", \"x\"]</script>"_s + kMarker +
                                               u"\"sameAs\": [null, \"https://b\"]</script>"_s},
        Page{"one list end for several lists", kAll + kMarker + u"\"sameAs\": [\"a\", "_s +
                                                   kMarker + u"\"sameAs\": [\"b\"]</script>"_s},
        Page{"quotes shared across blocks", kAll + kMarker + u"\"sameAs\": [x, \"u1"_s + kMarker +
                                                u"\"sameAs\": [\"u2\"]</script>"_s},
        Page{"markers back to back", kAll + kMarker + kMarker + u"\"sameAs\": [\"z\"]</script>"_s},
        Page{"nothing", QString()}, Page{"no link", u"<html>"_s + kMarker + u"</script>"_s},
        // Hostile: thousands of blocks up to one end, with no list or one long one.
        Page{"many blocks, no list", kAll + Repeated(kMarker, 3000) + u"</script>"_s},
        Page{"many blocks, one long URL", kAll + Repeated(kMarker, 3000) + u"\"sameAs\": [\""_s +
                                              QString(20000, u'u') + u"\"]</script>"_s},
        Page{"shuffled 1", ShuffledPage(1)}, Page{"shuffled 2", ShuffledPage(2)},
        Page{"shuffled 3", ShuffledPage(3)}, Page{"shuffled 4", ShuffledPage(4)},
        Page{"shuffled 5", ShuffledPage(5)}, Page{"shuffled 6", ShuffledPage(6)},
        Page{"shuffled 7", ShuffledPage(7)}, Page{"shuffled 8", ShuffledPage(8)}));

namespace {

class SearchCardUrls : public testing::TestWithParam<Page> {};

} // namespace

TEST_P(SearchCardUrls, AgreeWithTheWholeDocumentReading) {
    const QString& response = GetParam().text;
    const std::vector<QString> expected = reference::CardUrlsFromSearchResponse(response, kHost);
    EXPECT_EQ(CardUrlsFromSearchResponse(response, kHost), expected);
    Phase1 run;
    run.Handle(SearchRequestBody(u"a"_s, u"b"_s, u"T"_s), response);
    EXPECT_EQ(run.Cards(), reference::QueuedOneByOne(expected));
}

INSTANTIATE_TEST_SUITE_P(
    CardUrlsFromSearchResponse, SearchCardUrls,
    testing::Values(
        Page{
            "slugs of every kind",
            uR"({"resources":[{"slug":"Ivan"},{"slug":"ivan"},null,{},{"slug":7},{"slug":1.5e3},)"
            uR"({"slug":{"b":"Ж","a":[1,{"d":0,"c":1}]}},{"slug":"Пётр","slug":false},"x",[]]})"_s},
        Page{"repeated slugs",
             uR"({"resources":[{},{},{"slug":"a"},{"slug":"A"},{"slug":"a"},{},{"slug":""}]})"_s},
        Page{"last array counts",
             uR"({"resources":[{"slug":"a"}],"x":1,"resources":[{"slug":"b"},{"id":2}]})"_s},
        Page{"last is no array", uR"({"resources":[{"slug":"a"}],"resources":{}})"_s},
        Page{"comments and trailing text",
             u"/* r */ {\"resources\": [{\"slug\": \"a\" /* s */}]} // t\n]"_s},
        Page{"broken", uR"({"resources":[{"slug":"a"}],)"_s},
        Page{"root array", uR"([{"resources":[{"slug":"a"}]}])"_s},
        Page{"many empty objects",
             u"{\"resources\":["_s + Repeated(u"{},"_s, 5000) + u"{\"slug\":\"z\"}]}"_s}));
