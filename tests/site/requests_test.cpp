#include "site/requests.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Requests, CityRowsArePercentEncodedByteByByte) {
    EXPECT_EQ(PercentEncodeCity(u"Москва"_s), u"%D0%9C%D0%BE%D1%81%D0%BA%D0%B2%D0%B0"_s);
    EXPECT_EQ(PercentEncodeCity(u"a-b c"_s), u"a%2Db%20c"_s);
    EXPECT_EQ(PercentEncodeCity(u"Химки--Московская область"_s).mid(30, 6), u"%2D%2D"_s);
    // Only ASCII letters and digits stay; the usual "unreserved" marks do not.
    EXPECT_EQ(PercentEncodeCity(u"Az09.~_"_s), u"Az09%2E%7E%5F"_s);
    EXPECT_EQ(PercentEncodeCity(QString()), QString());
}

TEST(Requests, SlugIsCutBetweenTheFirstParentheses) {
    EXPECT_EQ(CategorySlug(u"Сантехники (santehniki)"_s), u"santehniki"_s);
    EXPECT_EQ(CategorySlug(u"Ремонт (квартир) (remont)"_s), u"квартир"_s);
    EXPECT_EQ(CategorySlug(u"Без скобок"_s), QString());
    EXPECT_EQ(CategorySlug(u"Открыта (slug"_s), QString());
    EXPECT_EQ(ListingUrl(u"web.test"_s, QString(), u"X"_s),
              u"https://web.test/professionals//c/X/probr-0~"_s);
}

TEST(Requests, SeedingGivesOneUrlPerPairCitiesOutermost) {
    const WorkQueue queue =
        SeedListingQueue(u"web.test"_s, {u"A b"_s, u"Тула"_s}, {u"Один (one)"_s, u"Два (two)"_s});
    ASSERT_EQ(queue.size(), 4u);
    EXPECT_EQ(queue[0], u"https://web.test/professionals/one/c/A%20b/probr-0~"_s);
    EXPECT_EQ(queue[1], u"https://web.test/professionals/two/c/A%20b/probr-0~"_s);
    EXPECT_EQ(queue[2],
              u"https://web.test/professionals/one/c/%D0%A2%D1%83%D0%BB%D0%B0/probr-0~"_s);
    EXPECT_EQ(queue[3],
              u"https://web.test/professionals/two/c/%D0%A2%D1%83%D0%BB%D0%B0/probr-0~"_s);
}

TEST(Requests, SearchBodiesAreExact) {
    EXPECT_EQ(
        SearchRequestBody(u"c1"_s, u"k2"_s, u"t3"_s),
        uR"({"filter":{"categoryId":{"eq":"c1"},"cityId":{"eq":"k2"}},"pageSize":25,"pageToken":"t3"})"_s);
    EXPECT_EQ(
        SearchRequestBody(u"c1"_s, u"k2"_s, u"s9"_s, u"t3"_s),
        uR"({"filter":{"categoryId":{"eq":"c1"},"cityId":{"eq":"k2"},"serviceId":{"all":["s9"]}},"pageSize":25,"pageToken":"t3"})"_s);
    EXPECT_EQ(CardUrl(u"web.test"_s, u"ivan-1"_s), u"https://web.test/pro/ivan-1"_s);
}

TEST(Requests, WorkItemKindsAndLogLines) {
    const QString body = SearchRequestBody(u"cat7"_s, u"msk"_s, u"tok"_s);
    EXPECT_TRUE(IsSearchRequest(body));
    EXPECT_TRUE(ContainsSearchFilter(body));
    EXPECT_FALSE(IsSearchRequest(u" "_s + body));
    EXPECT_TRUE(ContainsSearchFilter(u" "_s + body));
    EXPECT_FALSE(IsSearchRequest(u"{\"filte"_s));

    EXPECT_EQ(FinishedItemLogLine(body, u"200 OK"_s), u"cityId/categoryId msk/cat7: 200 OK"_s);
    EXPECT_EQ(FinishedItemLogLine(u"https://web.test/x"_s, u"ERROR boom"_s),
              u"https://web.test/x: ERROR boom"_s);
    EXPECT_EQ(CardLogLine(u"https://web.test/pro/a"_s, u"200 OK"_s),
              u"Карточка https://web.test/pro/a: 200 OK"_s);

    EXPECT_TRUE(IsBlankWorkItem(u" \t\r\n\x01"_s));
    EXPECT_TRUE(IsBlankWorkItem(QString()));
    EXPECT_FALSE(IsBlankWorkItem(u"  x "_s));
}
