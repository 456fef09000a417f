// The run summary: rounding, the counts by kind of failure, the filled
// columns, and the exact lines the log gets.
#include "run/run_summary.h"

#include "print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

CardRecord FullCard() {
    CardRecord card;
    card.url = u"https://web.test/pro/a"_s;
    card.name = u"Иванов"_s;
    card.categories = u"Сантехники"_s;
    card.services = u"Замена"_s;
    card.rating = u"4.5"_s;
    card.reviews = u"3"_s;
    card.telephone = u"+7 900"_s;
    card.site = u"https://s.example"_s;
    card.email = u"e@x.example"_s;
    card.city = u"Москва"_s;
    card.address = u"ул. Ленина, 1"_s;
    return card;
}

} // namespace

TEST(RunSummary, PercentRoundsAnExactHalfUp) {
    struct Case {
        std::int64_t part, whole;
        int percent;
    };
    const Case cases[] = {
        {0, 0, 0},      {5, 0, 0},       {0, 7, 0},           {7, 7, 100},
        {1, 8, 13}, // 12.5
        {3, 8, 38},     {5, 8, 63},      {1, 3, 33},          {2, 3, 67},
        {1, 200, 1},                     // 0.5
        {1, 201, 0},    {199, 200, 100}, // 99.5
        {397, 400, 99}, {1, 40, 3},      {19999, 20000, 100}, {123456789, 987654321, 12},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PercentHalfUp(c.part, c.whole), c.percent) << c.part << " of " << c.whole;
}

TEST(RunSummary, TotalsOnlyWhenNothingWasWrittenOrMissed) {
    const RunSummary summary;
    EXPECT_EQ(summary.Lines(0),
              std::vector<QString>{u"Итог: найдено карточек 0, записано строк 0, не скачано 0"_s});
}

// Every kind of failure counts under its own name, in a fixed order, and a
// kind that never happened is left out.
TEST(RunSummary, FailuresByKindInOrderWithoutTheEmptyKinds) {
    struct Case {
        std::vector<FetchFailure> failures;
        QString line;
    };
    const Case cases[] = {
        {{FetchFailure::NoAnswer, FetchFailure::NotFound, FetchFailure::EmptyBody,
          FetchFailure::ErrorStatus, FetchFailure::NotFound, FetchFailure::EmptyBody,
          FetchFailure::NotFound},
         u"Не скачано: 404 — 3, другие ответы с ошибкой — 1, пустые ответы — 2, сбои связи — 1"_s},
        {{FetchFailure::EmptyBody}, u"Не скачано: пустые ответы — 1"_s},
        {{FetchFailure::NoAnswer, FetchFailure::ErrorStatus},
         u"Не скачано: другие ответы с ошибкой — 1, сбои связи — 1"_s},
        // A failure of unknown kind had no answer to show.
        {{FetchFailure::None}, u"Не скачано: сбои связи — 1"_s},
    };
    for (const Case& c : cases) {
        RunSummary summary;
        for (const FetchFailure failure : c.failures)
            summary.CardFailed(failure);
        const std::vector<QString> lines = summary.Lines(40);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], u"Итог: найдено карточек 40, записано строк 0, не скачано "_s +
                                QString::number(c.failures.size()));
        EXPECT_EQ(lines[1], c.line);
    }
}

// The filled share of each column over the rows written; the URL is not a
// column of the summary, and an empty telephone counts as empty although its
// field holds a space.
TEST(RunSummary, FilledShareOfEveryColumn) {
    RunSummary summary;
    for (int i = 0; i < 8; ++i) {
        CardRecord card = FullCard();
        if (i < 1)
            card.name.clear(); // 7 of 8: 87.5 → 88
        if (i < 3)
            card.categories.clear(); // 5 of 8: 62.5 → 63
        if (i < 8)
            card.services.clear(); // 0 of 8
        if (i < 7)
            card.telephone.clear(); // 1 of 8: 12.5 → 13
        if (i < 4)
            card.city.clear(); // 4 of 8: 50
        card.url.clear();
        summary.RowWritten(card);
    }
    summary.CardFailed(FetchFailure::NotFound);
    const std::vector<QString> lines = summary.Lines(10);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"Итог: найдено карточек 10, записано строк 8, не скачано 1"_s);
    EXPECT_EQ(lines[1], u"Не скачано: 404 — 1"_s);
    EXPECT_EQ(lines[2], u"Заполнено: Имя/Название 88%, Категории специализации 63%, Услуги 0%, "
                        "Рейтинг 100%, Отзывов 100%, Телефон 13%, Сайт 100%, Email 100%, "
                        "Город 50%, Адрес 100%"_s);
}
