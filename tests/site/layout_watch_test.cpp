// The layout warning: the window of the last 50 rows, once per column, and
// the unreadable listing page.
#include "site/layout_watch.h"

#include "support/print_qstring.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

QString Warning(int count, const QString& column) {
    return u"Внимание: у %1 из последних 50 карточек пусто поле «%2». Возможно, сайт изменил "
           "разметку страниц, проверьте результат."_s.arg(count)
               .arg(column);
}

} // namespace

// Rows where name, categories and city are empty as `empty(row)` says (a
// bit each, rows from 0): after which row (from 1) each line came.
TEST(LayoutWatch, FortyOfTheLastFiftyRowsOncePerColumn) {
    struct Case {
        const char* what;
        std::function<int(int)> empty;
        std::vector<std::pair<int, QString>> want;
    };
    const QString city = u"Город"_s;
    const Case cases[] = {
        {"all from the start: at row 50", [](int) { return 4; }, {{50, Warning(50, city)}}},
        {"from row 111: after row 150",
         [](int i) { return i >= 110 ? 4 : 0; },
         {{150, Warning(40, city)}}},
        {"39 of every 50: never", [](int i) { return i % 50 < 39 ? 4 : 0; }, {}},
        // 30 empty, 20 filled, then empty: the old ones leave the window.
        {"a gap", [](int i) { return i < 30 || i >= 50 ? 4 : 0; }, {{90, Warning(40, city)}}},
        {"each column once, in column order",
         [](int i) { return (i >= 100 ? 1 : 0) | 2 | (i >= 200 ? 4 : 0); },
         {{50, Warning(50, u"Категории специализации"_s)},
          {140, Warning(40, u"Имя/Название"_s)},
          {240, Warning(40, city)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LayoutWatch watch;
        std::vector<std::pair<int, QString>> seen;
        for (int i = 0; i < 400; ++i) {
            const int bits = c.empty(i);
            CardRecord card{u"u"_s, u"Имя"_s, u"К"_s, {}, {}, {}, {}, {}, {}, u"Москва"_s, {}};
            card.name = bits & 1 ? QString() : card.name;
            card.categories = bits & 2 ? QString() : card.categories;
            card.city = bits & 4 ? QString() : card.city;
            for (const QString& line : watch.RowWritten(card))
                seen.emplace_back(i + 1, line);
        }
        EXPECT_EQ(seen, c.want);
    }
}

TEST(LayoutWatch, ListingPageWithNeitherCityKeyNorCardsOncePerRun) {
    const QString listing = u"https://web.test/professionals/a/c/x/probr-0~"_s;
    const QString key = uR"(<html>"defaultValues\":{\"location\":[{\"key\":\"c1\",)"_s;
    const QString cards =
        uR"(<html>Все эксперты</a>{"@type": "LocalBusiness", "sameAs": [ "https://web.test/pro/a" ]}</script>)"_s;
    const QString noList = uR"(<html>Все эксперты</a>{"@type": "LocalBusiness", }</script>)"_s;
    const QString blank = u"<html><body>Новый сайт</body></html>"_s;
    EXPECT_FALSE(ListingPageUnreadable(listing, key));
    EXPECT_FALSE(ListingPageUnreadable(listing, cards));
    EXPECT_TRUE(ListingPageUnreadable(listing, noList));
    EXPECT_FALSE(ListingPageUnreadable(uR"({"filter":{}})"_s, blank)) << "a search answer";

    LayoutWatch watch;
    EXPECT_EQ(watch.ListingAnswered(listing, cards), QString());
    EXPECT_EQ(watch.ListingAnswered(listing, blank),
              u"Внимание: на странице "_s + listing +
                  u" не найдены ни ключ города, ни карточки. Возможно, сайт изменил разметку "
                  "страниц."_s);
    EXPECT_EQ(watch.ListingAnswered(listing, blank), QString());
}
