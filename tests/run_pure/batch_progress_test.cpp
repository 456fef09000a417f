// The batch status line: its text, the recent rate, and when it is written.
#include "run/batch_progress.h"

#include "print_qstring.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(BatchProgress, StatusLineText) {
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

// Narrower than the full text: the rate goes, then the count, then the
// phase's long name, and only then is the line cut. Columns count characters,
// not the UTF-8 bytes of the Cyrillic letters.
TEST(BatchProgress, StatusLineInTheColumnsThereAre) {
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

// A live line is drawn at most one column narrower than the terminal is at
// that draw, a redraw after a log line included; a terminal that does not
// say its width is taken as 80 columns.
TEST(BatchProgress, ALiveLineFitsTheTerminalAtEachDraw) {
    int columns = 80;
    QStringList live;
    BatchProgress terminal(
        BatchProgress::Mode::Live, [&](const QByteArray& b) { live << QString::fromUtf8(b); },
        [&] { return columns; });
    terminal.Update({2, 0, 20000, 0}, 0);
    terminal.Update({2, 1200, 20000, 1187}, 1000); // 1200/с
    columns = 60;
    terminal.BeforeLogLine();
    terminal.AfterLogLine();
    columns = 0;
    terminal.Update({2, 1200, 20000, 1187}, 1500); // 800/с
    // As wide as the full line, which would wrap: the rate goes.
    columns = 87;
    terminal.Update({2, 1200, 20000, 1187}, 2000); // 600/с
    columns = 88;
    terminal.BeforeLogLine();
    terminal.AfterLogLine();
    ASSERT_EQ(live.size(), 8);
    const QString phase = u"\rЭтап 2, скачивание карточек: 1200 из 20000, "_s;
    EXPECT_EQ(live[1], phase + u"записано строк 1187, осталось 0:16\x1b[K"_s);
    EXPECT_EQ(live[2], u"\r\x1b[K"_s);
    EXPECT_EQ(live[3], phase + u"осталось 0:16\x1b[K"_s);
    EXPECT_EQ(live[4], phase + u"записано строк 1187, осталось 0:24\x1b[K"_s);
    EXPECT_EQ(live[5], phase + u"записано строк 1187, осталось 0:32\x1b[K"_s);
    EXPECT_EQ(live[7], phase + u"записано строк 1187, 600.0/с, осталось 0:32\x1b[K"_s);
}

// The rate of the last ten seconds, not of the whole run.
TEST(BatchProgress, RecentRate) {
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

// A terminal gets the line at once, then at most twice a second and on a new
// phase; it steps aside for each log line and goes at the end. Elsewhere a
// plain line a minute.
TEST(BatchProgress, LiveOnATerminalAPlainLineAMinuteElsewhere) {
    std::vector<QByteArray> live, plain;
    BatchProgress terminal(BatchProgress::Mode::Live,
                           [&](const QByteArray& b) { live.push_back(b); });
    BatchProgress file(BatchProgress::Mode::Lines,
                       [&](const QByteArray& b) { plain.push_back(b); });
    const auto draw = [](const char* text) { return "\r" + QByteArray(text) + "\x1b[K"; };
    for (BatchProgress* p : {&terminal, &file}) {
        p->Update({1, 1, 3, 0}, 1000);
        p->Update({1, 2, 3, 25}, 1200);
        p->Update({1, 3, 3, 50}, 2000);
        p->BeforeLogLine();
        p->AfterLogLine();
        p->Update({2, 0, 50, 0}, 2100);
        p->Update({2, 30, 50, 29}, 61099);
        p->Update({2, 31, 50, 30}, 61100);
        p->Finish();
    }
    const char* phase1 =
        "Этап 1, поиск карточек: 3 из 3, найдено карточек 50, 2.0/с, осталось 0:00";
    EXPECT_EQ(
        live,
        (std::vector<QByteArray>{
            draw("Этап 1, поиск карточек: 1 из 3, найдено карточек 0, —/с, осталось —"),
            draw(phase1), "\r\x1b[K", draw(phase1),
            draw("Этап 2, скачивание карточек: 0 из 50, записано строк 0, —/с, осталось —"),
            draw("Этап 2, скачивание карточек: 30 из 50, записано строк 29, 0.5/с, осталось 0:40"),
            "\r\x1b[K"}));
    // The first plain line a minute after the first figures, and no other.
    EXPECT_EQ(plain,
              (std::vector<QByteArray>{QByteArray("Этап 2, скачивание карточек: 30 из 50, "
                                                  "записано строк 29, 0.5/с, осталось 0:40\n")}));
}
