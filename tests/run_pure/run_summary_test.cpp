// The run summary: rounding, the failures by kind and the filled columns.
#include "run/run_summary.h"

#include "print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(RunSummary, PercentRoundsAnExactHalfUp) {
    const std::int64_t cases[][3] = {
        {0, 0, 0},   {1, 8, 13},      {3, 8, 38},  {2, 3, 67},     {1, 3, 33},         {1, 200, 1},
        {1, 201, 0}, {199, 200, 100}, {7, 7, 100}, {397, 400, 99}, {19999, 20000, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(PercentHalfUp(c[0], c[1]), c[2]) << c[0] << " of " << c[1];
}

// Kinds in a fixed order, those that never happened left out; the lines
// that have nothing to say are not written.
TEST(RunSummary, Lines) {
    using F = FetchFailure;
    const std::pair<std::vector<F>, QString> failures[] = {
        {{F::NoAnswer, F::NotFound, F::EmptyBody, F::ErrorStatus, F::NotFound, F::None},
         u"Не скачано: 404 — 2, другие ответы с ошибкой — 1, пустые ответы — 1, сбои связи — 2"_s},
        {{F::EmptyBody}, u"Не скачано: пустые ответы — 1"_s},
    };
    for (const auto& [kinds, line] : failures) {
        RunSummary summary;
        for (const F kind : kinds)
            summary.CardFailed(kind);
        EXPECT_EQ(
            summary.Lines(40),
            (std::vector<QString>{u"Итог: найдено карточек 40, записано строк 0, не скачано "_s +
                                      QString::number(kinds.size()),
                                  line}));
    }
    EXPECT_EQ(RunSummary().Lines(0).size(), 1u);

    // 8 rows: names 7 of 8 (87.5 → 88), categories 5 (63), services none,
    // telephones 1 (13), cities 4 (50); the URL is no column here.
    RunSummary summary;
    for (int i = 0; i < 8; ++i) {
        CardRecord card{{},      u"Имя"_s, u"К"_s, {},     u"4.5"_s, u"3"_s,
                        u"+7"_s, u"s"_s,   u"e"_s, u"М"_s, u"А"_s};
        card.name = i < 1 ? QString() : card.name;
        card.categories = i < 3 ? QString() : card.categories;
        card.telephone = i < 7 ? QString() : card.telephone;
        card.city = i < 4 ? QString() : card.city;
        summary.RowWritten(card);
    }
    EXPECT_EQ(summary.Lines(8),
              (std::vector<QString>{u"Итог: найдено карточек 8, записано строк 8, не скачано 0"_s,
                                    u"Заполнено: Имя/Название 88%, Категории специализации 63%, "
                                    "Услуги 0%, Рейтинг 100%, Отзывов 100%, Телефон 13%, Сайт "
                                    "100%, Email 100%, Город 50%, Адрес 100%"_s}));
}

// A continued run sums up the whole run: the rows and 404s of earlier
// sessions count with this session's, so that rows and failures add up to the
// cards found; lost listing pages get their line before the filled shares.
TEST(RunSummary, AContinuedRunSumsUpTheWholeRun) {
    RunSummary summary;
    //                                 name, ..., telephone (6th), ...
    summary.EarlierRows(3, {3, 2, 0, 1, 1, 0, 0, 0, 0, 0});
    summary.EarlierGone(2);
    CardRecord card;
    card.name = u"Имя"_s;
    card.telephone = u"+7"_s;
    summary.RowWritten(card);
    summary.CardFailed(FetchFailure::ErrorStatus);
    summary.ListingPageLost();
    summary.ListingPageLost();
    EXPECT_EQ(
        summary.Lines(7),
        (std::vector<QString>{
            u"Итог: найдено карточек 7, записано строк 4, не скачано 3"_s,
            u"Не скачано: 404 — 2, другие ответы с ошибкой — 1"_s,
            u"Не загружено страниц списка: 2 — карточки с них не собраны"_s,
            u"Заполнено: Имя/Название 100%, Категории специализации 50%, Услуги 0%, "
            "Рейтинг 25%, Отзывов 25%, Телефон 25%, Сайт 0%, Email 0%, Город 0%, Адрес 0%"_s}));
    EXPECT_EQ(
        summary.LostPagesLines(),
        std::vector<QString>{u"Не загружено страниц списка: 2 — карточки с них не собраны"_s});
    EXPECT_TRUE(RunSummary().LostPagesLines().empty());
}
