#include "site/card_extractor.h"

#include "reference_readers.h"

#include "support/print_qstring.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>

using namespace Qt::StringLiterals;

namespace {

const QString kUrl = u"https://web.test/pro/ivan"_s;

QString CardPage(const QString& blockBody, const QString& categories = u"Сантехник"_s) {
    return u"<html><body><div class=\"cats\" data-order=\"5\">"_s + categories +
           u"</div>\n<script type=\"application/ld+json\">{\"@context\": \"https://schema.org\", "
           "\"@type\": \"LocalBusiness\", "_s +
           blockBody + u"}</script>\n<script>var x = {\"name\": \"not this\",};</script></html>"_s;
}

} // namespace

TEST(CardExtractor, TypicalCard) {
    const QString body =
        uR"("name": "Иван Петров", "telephone": "+7 900 000-00-00", "email": "ivan@mail.test",
"address": {"@type": "PostalAddress", "streetAddress": "ул. Ленина, 1", "addressLocality": "Москва"},
"aggregateRating": {"@type": "AggregateRating", "ratingValue": 4.8, "reviewCount": 12, "bestRating": 5},
"sameAs": ["https://ivan.test", "https://vk.test/ivan"],
"makesOffer": [{"@type": "Offer", "name": "Замена смесителя", "price": "1500"},
{"@type": "Offer", "price": "100"},
{"@type": "Offer", "name": "Установка ванны"}])"_s;
    const CardRecord card = ExtractCard(CardPage(body), kUrl, u","_s);
    EXPECT_EQ(card.url, kUrl);
    EXPECT_EQ(card.name, u"Иван Петров"_s);
    EXPECT_EQ(card.categories, u"Сантехник"_s);
    EXPECT_EQ(card.services, u"Замена смесителя; Установка ванны"_s);
    EXPECT_EQ(card.rating, u"4,8"_s);
    EXPECT_EQ(card.reviews, u"12"_s);
    EXPECT_EQ(card.telephone, u"+7 900 000-00-00"_s);
    EXPECT_EQ(card.site, u"https://ivan.test"_s);
    EXPECT_EQ(card.email, u"ivan@mail.test"_s);
    EXPECT_EQ(card.city, u"Москва"_s);
    EXPECT_EQ(card.address, u"ул. Ленина, 1"_s);
    // A point separator leaves the rating as it is.
    EXPECT_EQ(ExtractCard(CardPage(body), kUrl, u"."_s).rating, u"4.8"_s);
}

TEST(CardExtractor, PageWithoutBlockKeepsUrlAndCategories) {
    const QString page =
        u"<html><div data-order=\"5\">&nbsp;Ремонт; отделка&nbsp;\r\n</div>\"name\": \"x\",</html>"_s;
    const CardRecord card = ExtractCard(page, kUrl, u","_s);
    EXPECT_EQ(card.url, kUrl);
    EXPECT_EQ(card.categories, u"Ремонт, отделка"_s);
    for (const QString* value :
         {&card.name, &card.services, &card.rating, &card.reviews, &card.telephone, &card.site,
          &card.email, &card.city, &card.address})
        EXPECT_TRUE(value->isEmpty()) << value->toStdString();

    // The block marker without a "</script>" after it is no block either.
    const CardRecord open =
        ExtractCard(u"\"@type\": \"LocalBusiness\", \"name\": \"x\","_s, kUrl, u"."_s);
    EXPECT_TRUE(open.name.isEmpty());
    // Categories need their marker and a "<" after it.
    EXPECT_TRUE(ExtractCard(u"data-order=\"5\">Сантехник"_s, kUrl, u"."_s).categories.isEmpty());
}

TEST(CardExtractor, EscapedQuotesAndBackslashes) {
    const CardRecord card =
        ExtractCard(CardPage(uR"("name": "ООО \"Ромашка\" \\ Ко", "telephone": "+7 \"900\"", )"
                             uR"("email": "a\"b@mail.test", "addressLocality": "Город \"N\"", )"
                             uR"("streetAddress": "ул. \"Новая\", 5", "x": 1)"_s),
                    kUrl, u"."_s);
    EXPECT_EQ(card.name, u"ООО \"Ромашка\"  Ко"_s);
    EXPECT_EQ(card.telephone, u"+7 \\"_s);
    EXPECT_EQ(card.email, u"a\\"_s);
    EXPECT_EQ(card.city, u"Город \\"_s);
    EXPECT_EQ(card.address, u"ул. \"Новая"_s); // cut at the escaped quote before ","

    // A name that is the last member of its object runs on to the next `",`.
    const CardRecord last = ExtractCard(
        CardPage(
            uR"("address": {"streetAddress": "Тверская"}, "name": "Иван"}, "b": "c", "d": 1)"_s),
        kUrl, u"."_s);
    EXPECT_EQ(last.name, u"Иван\"}, \"b\": \"c"_s);
    EXPECT_EQ(last.address, u"Тверская\"}, \"name\": \"Иван\"}, \"b\": \"c"_s);
}

TEST(CardExtractor, RatingAndReviewsRunToTheNextComma) {
    const CardRecord card = ExtractCard(
        CardPage(u"\"aggregateRating\": {\"reviewCount\": 7, \"ratingValue\": 4.5\n  },\n"
                 "\"telephone\": \"1\""_s),
        kUrl, u","_s);
    EXPECT_EQ(card.rating, u"4,5\n  }"_s);
    EXPECT_EQ(card.reviews, u"7"_s);

    const CardRecord last = ExtractCard(
        CardPage(u"\"aggregateRating\": {\"ratingValue\": \"4.5\", \"reviewCount\": 3}, "
                 "\"email\": \"e\""_s),
        kUrl, u","_s);
    EXPECT_EQ(last.rating, u"\"4,5\""_s); // a quoted rating keeps its quotes
    EXPECT_EQ(last.reviews, u"3}"_s);
}

TEST(CardExtractor, SiteIsTheFirstQuotedTextOfTheSameAsList) {
    const auto site = [](const QString& body) {
        return ExtractCard(CardPage(body), kUrl, u"."_s).site;
    };
    EXPECT_EQ(site(u"\"sameAs\": [], \"email\": \"e@x\""_s), QString());
    EXPECT_EQ(site(u"\"sameAs\": [null, \"https://b.test\"]"_s), u"https://b.test"_s);
    EXPECT_EQ(site(u"\"sameAs\":[\"https://a.test\",\"https://b.test\"]"_s), u"https://a.test"_s);
    EXPECT_EQ(site(u"\"sameAs\": \"https://a.test\", \"x\": [1]"_s), u"https://a.test"_s);
    EXPECT_EQ(site(u"\"name\": \"n\", "_s), QString());
}

TEST(CardExtractor, ServicesFollowTheOfferBlocks) {
    EXPECT_EQ(ExtractServices(uR"("makesOffer": [])"), QString());
    EXPECT_EQ(
        ExtractServices(uR"({"@type": "Offer", "name": ""}, {"@type": "Offer", "name": "B"})"),
        u"B"_s);
    // An offer ends at its first "}", so a name after a nested object is lost.
    EXPECT_EQ(
        ExtractServices(
            uR"({"@type": "Offer", "price": {"v": 1}, "name": "A"}, {"@type": "Offer", "name": "B"})"),
        u"B"_s);
    // An offer without its own "}" reaches into the next one; both still count.
    EXPECT_EQ(
        ExtractServices(uR"({"@type": "Offer", "name": "A", {"@type": "Offer", "name": "B; C"})"),
        u"A; B; C"_s);
    // No "}" at all: every offer is empty.
    EXPECT_EQ(ExtractServices(uR"({"@type": "Offer", "name": "A", {"@type": "Offer", "name": "B")"),
              QString());
    // The marker needs its comma.
    EXPECT_EQ(ExtractServices(uR"({"@type": "Offer" , "name": "A"})"), QString());
}

TEST(CardExtractor, CategoriesAreCleanedAndTrimmed) {
    const CardRecord card = ExtractCard(
        CardPage(u"\"name\": \"n\","_s, u" \t&nbsp;Электрик&amp;nbsp;мастер;&#1046; "_s), kUrl,
        u"."_s);
    EXPECT_EQ(card.categories, u"Электрик мастер,Ж"_s);
}

TEST(CardExtractor, LargePagesWithManyOffersStayCorrect) {
    // Many offers and a long page: every offer is found, in order.
    QString offers;
    for (int i = 0; i < 5000; ++i)
        offers += uR"({"@type": "Offer", "name": "S)"_s + QString::number(i) + u"\"}, "_s;
    QString page = QString(300000, QLatin1Char('x')) +
                   CardPage(u"\"name\": \"N\", \"makesOffer\": ["_s + offers + u"{}]"_s);
    const CardRecord card = ExtractCard(page, kUrl, u"."_s);
    const QStringList names = card.services.split(u"; "_s);
    ASSERT_EQ(names.size(), 5000);
    EXPECT_EQ(names.front(), u"S0"_s);
    EXPECT_EQ(names.back(), u"S4999"_s);
    EXPECT_EQ(card.name, u"N"_s);
}

// The program's extraction against the earlier offer-by-offer one
// (fuzz/reference_readers.h), on tricky and hostile pages: every value the
// same, the services of the whole page as a block too.
namespace {

const QString kOffer = uR"("@type": "Offer",)"_s;

QString Repeated(const QString& text, int times) {
    QString out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// Offers made of the markers the extraction looks for, mixed at random (the
// same on every run), so offers share ends and lose parts in every way.
QString ShuffledOffers(unsigned seed) {
    const QString pieces[] = {kOffer, u"}"_s,  uR"("name": ")"_s,  u"\""_s,
                              u"N"_s, u", "_s, uR"("name": "")"_s, u"</script>"_s};
    QString block;
    for (int i = 0; i < 60; ++i) {
        seed = seed * 1103515245u + 12345u;
        block += pieces[(seed >> 16) % std::size(pieces)];
    }
    return block;
}

struct Page {
    const char* name;
    QString text;
};

void PrintTo(const Page& page, std::ostream* os) {
    *os << page.name;
}

class CardPages : public testing::TestWithParam<Page> {};

} // namespace

TEST_P(CardPages, AgreeWithTheOfferByOfferReading) {
    const QString& page = GetParam().text;
    for (const QString& separator : {u","_s, u"."_s, u"<dot>"_s}) {
        const CardRecord card = ExtractCard(page, kUrl, separator);
        const CardRecord expected = reference::ExtractCard(page, kUrl, separator);
        const QString CardRecord::*fields[] = {
            &CardRecord::url,       &CardRecord::name,   &CardRecord::categories,
            &CardRecord::services,  &CardRecord::rating, &CardRecord::reviews,
            &CardRecord::telephone, &CardRecord::site,   &CardRecord::email,
            &CardRecord::city,      &CardRecord::address};
        for (std::size_t i = 0; i < std::size(fields); ++i)
            EXPECT_EQ(card.*fields[i], expected.*fields[i]) << "value " << i + 1;
    }
    EXPECT_EQ(ExtractServices(page), reference::ExtractServices(page));
}

INSTANTIATE_TEST_SUITE_P(
    ExtractCard, CardPages,
    testing::Values(
        Page{"offers share a }",
             CardPage(kOffer + kOffer + uR"("name": "A"}, )"_s + kOffer + uR"("name": "B"})"_s)},
        Page{"name after the }", CardPage(kOffer + uR"("x": 1}, "name": "late")"_s)},
        Page{"closing quote after the }",
             CardPage(kOffer + uR"("name": "A}" )"_s + kOffer + uR"("name": "B"})"_s)},
        Page{"empty names",
             CardPage(kOffer + uR"("name": ""}, )"_s + kOffer + uR"("name": "C"})"_s)},
        Page{"no } at all", CardPage(kOffer + uR"("name": "A", )"_s + kOffer)},
        Page{"markers back to back", CardPage(kOffer + kOffer + kOffer + uR"("name": "Z"})"_s)},
        Page{"offers outside the block",
             CardPage(uR"("name": "N", )"_s) + kOffer + uR"("name": "out"})"_s},
        Page{"rating and names with points", CardPage(uR"("name": "N.", "ratingValue": 4.5.1, )"_s +
                                                          kOffer + uR"("name": "a.b"})"_s,
                                                      u"Кат.&nbsp;1;\n2\r"_s)},
        // Hostile: thousands of offers up to one "}", with no name or one long one.
        Page{"many offers, no name", CardPage(Repeated(kOffer, 3000) + u"}"_s)},
        Page{"many offers, no closing quote",
             CardPage(Repeated(kOffer, 3000) + uR"("name": "unclosed})"_s)},
        Page{"many offers, one long name",
             CardPage(Repeated(kOffer, 300) + uR"("name": ")"_s + QString(5000, u'n') + u"\"}"_s)},
        Page{"categories made of line breaks and entities",
             CardPage(u"\"name\": \"n\","_s, Repeated(u"\r\n&bull;&nbsp;;&times;"_s, 2000))},
        Page{"shuffled 1", CardPage(ShuffledOffers(1))},
        Page{"shuffled 2", CardPage(ShuffledOffers(2))},
        Page{"shuffled 3", CardPage(ShuffledOffers(3))},
        Page{"shuffled 4", CardPage(ShuffledOffers(4))},
        Page{"shuffled 5", CardPage(ShuffledOffers(5))},
        Page{"shuffled 6", CardPage(ShuffledOffers(6))},
        Page{"shuffled 7", CardPage(ShuffledOffers(7))}, Page{"shuffled 8", ShuffledOffers(8)}));
