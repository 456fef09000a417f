// The batch status line's text: its parts, the recent rate, and what gives
// way in a narrow terminal.
#include "report/status_line.h"

#include "support/print_qstring.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(StatusLine, StatusLineText) {
    const std::tuple<StatusFigures, std::optional<double>, QString> cases[] = {
        {{1, 40, 52, 960},
         12.0,
         u"Этап 1, поиск карточек: 40 из 52, найдено карточек 960, 12.0/с, осталось 0:01"_s},
        {{2, 1200, 20000, 1187},
         80.0,
         u"Этап 2, скачивание карточек: 1200 из 20000, записано строк 1187, 80.0/с, осталось 3:55"_s},
        {{2, 0, 100000, 0},
         10.0,
         u"Этап 2, скачивание карточек: 0 из 100000, записано строк 0, 10.0/с, осталось 2:46:40"_s},
        {{2, 0, 9, 0},
         std::nullopt,
         u"Этап 2, скачивание карточек: 0 из 9, записано строк 0, —/с, осталось —"_s},
        {{2, 9, 9, 9},
         0.0,
         u"Этап 2, скачивание карточек: 9 из 9, записано строк 9, 0.0/с, осталось —"_s},
    };
    for (const auto& [figures, rate, text] : cases)
        EXPECT_EQ(StatusLineText(figures, rate), text);
}

TEST(StatusLine, StatusLineInTheColumnsThereAre) {
    const StatusFigures phase2{2, 1200, 20000, 1187};
    const QString full =
        u"Этап 2, скачивание карточек: 1200 из 20000, записано строк 1187, 85.3/с, осталось 3:41"_s;
    const QString noRate =
        u"Этап 2, скачивание карточек: 1200 из 20000, записано строк 1187, осталось 3:41"_s;
    const QString noCount = u"Этап 2, скачивание карточек: 1200 из 20000, осталось 3:41"_s;
    const QString shortName = u"Этап 2: 1200 из 20000, осталось 3:41"_s;
    const std::pair<int, QString> cases[] = {
        {86, full},     {85, noRate},    {78, noRate},    {77, noCount},
        {57, noCount},  {56, shortName}, {36, shortName}, {35, shortName.left(35)},
        {0, QString()}, {-1, QString()},
    };
    for (const auto& [columns, text] : cases)
        EXPECT_EQ(StatusLineText(phase2, 85.3, columns), text) << columns;

    const StatusFigures phase1{1, 40, 52, 960};
    EXPECT_EQ(StatusLineText(phase1, std::nullopt, 40), u"Этап 1: 40 из 52, осталось —"_s);
}

TEST(StatusLine, RecentRate) {
    RateMeter meter;
    meter.Add(0, 0);
    meter.Add(500, 50);
    EXPECT_EQ(meter.PerSecond(), std::nullopt) << "less than a second";
    for (std::int64_t ms = 1000; ms <= 20000; ms += 500)
        meter.Add(ms, ms / 10);
    EXPECT_DOUBLE_EQ(*meter.PerSecond(), 100.0);
    for (std::int64_t ms = 20500; ms <= 30000; ms += 500)
        meter.Add(ms, 2000 + (ms - 20000) / 100);
    EXPECT_DOUBLE_EQ(*meter.PerSecond(), 10.0);
}
