// The warning that the site's layout may have changed: the window of the last
// 50 rows, its threshold, once per column, and the unreadable listing page.
#include "run/layout_watch.h"

#include "print_qstring.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

CardRecord Row(bool nameEmpty, bool categoriesEmpty, bool cityEmpty) {
    CardRecord card;
    card.url = u"https://web.test/pro/a"_s;
    card.name = nameEmpty ? QString() : u"Иванов"_s;
    card.categories = categoriesEmpty ? QString() : u"Сантехники"_s;
    card.city = cityEmpty ? QString() : u"Москва"_s;
    card.telephone = u"+7 900"_s;
    return card;
}

QString Warning(int count, const QString& column) {
    return u"Внимание: у %1 из последних 50 карточек пусто поле «%2». Возможно, сайт изменил "
           "разметку страниц, проверьте результат."_s.arg(count)
               .arg(column);
}

// Feeds `rows` rows, the i-th (from 0) with an empty city when
// `cityEmpty(i)`; returns the row numbers (from 1) after which a line came,
// with the lines.
std::vector<std::pair<int, QString>> Feed(LayoutWatch& watch, int rows,
                                          const std::function<bool(int)>& cityEmpty) {
    std::vector<std::pair<int, QString>> seen;
    for (int i = 0; i < rows; ++i) {
        for (const QString& line : watch.RowWritten(Row(false, false, cityEmpty(i))))
            seen.emplace_back(i + 1, line);
    }
    return seen;
}

} // namespace

// Where in a run the empty values lie decides whether and when the warning
// comes: only 40 or more of the last 50 rows count.
TEST(LayoutWatch, WarnsWhenFortyOfTheLastFiftyRowsLackTheValue) {
    struct Case {
        const char* what;
        int rows;
        std::function<bool(int)> cityEmpty;
        int warnedAfterRow; // 0: never
        int count;
    };
    const Case cases[] = {
        {"all empty from the start: at the 50th row", 60, [](int) { return true; }, 50, 50},
        {"fewer than 50 rows: never", 49, [](int) { return true; }, 0, 0},
        {"39 of every 50: never", 500, [](int i) { return i % 50 < 39; }, 0, 0},
        {"empty from row 101: after row 140", 300, [](int i) { return i >= 100; }, 140, 40},
        {"empty from row 11: after row 50", 300, [](int i) { return i >= 10; }, 50, 40},
        // 30 empty rows, then 20 filled, then empty again: the old ones leave
        // the window as new ones come.
        {"a gap", 200, [](int i) { return i < 30 || i >= 50; }, 90, 40},
        {"every other row: never", 1000, [](int i) { return i % 2 == 0; }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LayoutWatch watch;
        const auto seen = Feed(watch, c.rows, c.cityEmpty);
        if (c.warnedAfterRow == 0) {
            EXPECT_TRUE(seen.empty());
            continue;
        }
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].first, c.warnedAfterRow);
        EXPECT_EQ(seen[0].second, Warning(c.count, u"Город"_s));
    }
}

// Each watched column warns once per run, on its own; other columns never.
TEST(LayoutWatch, OnceForEachWatchedColumn) {
    LayoutWatch watch;
    std::vector<std::pair<int, QString>> seen;
    for (int i = 0; i < 400; ++i) {
        CardRecord card = Row(i >= 100, true, i >= 200);
        card.telephone.clear();
        card.services.clear();
        for (const QString& line : watch.RowWritten(card))
            seen.emplace_back(i + 1, line);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(50, Warning(50, u"Категории специализации"_s)));
    EXPECT_EQ(seen[1], std::make_pair(140, Warning(40, u"Имя/Название"_s)));
    EXPECT_EQ(seen[2], std::make_pair(240, Warning(40, u"Город"_s)));

    // Two columns that cross the line with the same row warn in column order.
    LayoutWatch both;
    std::vector<QString> lines;
    for (int i = 0; i < 50; ++i)
        lines = both.RowWritten(Row(true, false, true));
    EXPECT_EQ(lines,
              (std::vector<QString>{Warning(50, u"Имя/Название"_s), Warning(50, u"Город"_s)}));
}

namespace {

const QString kListing = u"https://web.test/professionals/santehniki/c/x/probr-0~"_s;
const QString kSearch =
    uR"({"filter":{"categoryId":{"eq":"1"},"cityId":{"eq":"k"}},"pageSize":25,"pageToken":"t"})"_s;
const QString kKey = uR"(<script>"defaultValues\":{\"location\":[{\"key\":\"c123\",</script>)"_s;
const QString kCards =
    uR"(<a>Все эксперты</a><script>{"@type": "LocalBusiness", "sameAs": [ "https://web.test/pro/a" ]}</script>)"_s;
const QString kBlockWithoutList =
    uR"(<a>Все эксперты</a><script>{"@type": "LocalBusiness", "name": "x"}</script>)"_s;

} // namespace

TEST(LayoutWatch, ListingPageWithNeitherCityKeyNorCards) {
    struct Case {
        const char* what;
        QString item;
        QString page;
        bool unreadable;
    };
    const Case cases[] = {
        {"key and cards", kListing, u"<html>"_s + kKey + kCards, false},
        {"key only", kListing, u"<html>"_s + kKey, false},
        {"cards only", kListing, u"<html>"_s + kCards, false},
        {"neither", kListing, u"<html><body>Новый дизайн</body></html>"_s, true},
        {"a block without a card list", kListing, u"<html>"_s + kBlockWithoutList, true},
        {"an empty key", kListing, uR"(<html>"defaultValues\":{\"location\":[{\"key\":\"\")"_s,
         true},
        {"a search answer is no listing page", kSearch, u"{\"resources\":[]}"_s, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ListingPageUnreadable(c.item, c.page), c.unreadable);
    }
}

TEST(LayoutWatch, UnreadableListingPageWarnsOncePerRun) {
    LayoutWatch watch;
    const QString page = u"<html><body>Новый дизайн</body></html>"_s;
    EXPECT_EQ(watch.ListingAnswered(kListing, u"<html>"_s + kKey + kCards), QString());
    EXPECT_EQ(watch.ListingAnswered(kListing, page),
              u"Внимание: на странице "_s + kListing +
                  u" не найдены ни ключ города, ни карточки. Возможно, сайт изменил разметку "
                  "страниц."_s);
    EXPECT_EQ(watch.ListingAnswered(kListing + u"2"_s, page), QString());
}
