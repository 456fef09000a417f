// The batch status line: its text, the current rate and time left, and when
// and how it reaches standard error.
#include "run/batch_progress.h"

#include "print_qstring.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(BatchProgress, StatusLineText) {
    struct Case {
        StatusFigures figures;
        std::optional<double> rate;
        QString text;
    };
    const Case cases[] = {
        {{1, 40, 52, 960},
         12.0,
         u"Этап 1, поиск карточек: 40 из 52, найдено карточек 960, 12.0/с, осталось 0:01"_s},
        {{2, 1200, 20000, 1187},
         80.0,
         u"Этап 2, скачивание карточек: 1200 из 20000, записано строк 1187, 80.0/с, осталось 3:55"_s},
        {{2, 0, 20000, 0},
         std::nullopt,
         u"Этап 2, скачивание карточек: 0 из 20000, записано строк 0, —/с, осталось —"_s},
        {{2, 10, 20000, 10},
         0.0,
         u"Этап 2, скачивание карточек: 10 из 20000, записано строк 10, 0.0/с, осталось —"_s},
        {{2, 20000, 20000, 19990},
         4.0,
         u"Этап 2, скачивание карточек: 20000 из 20000, записано строк 19990, 4.0/с, осталось 0:00"_s},
        {{2, 0, 100000, 0},
         10.0,
         u"Этап 2, скачивание карточек: 0 из 100000, записано строк 0, 10.0/с, осталось 2:46:40"_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusLineText(c.figures, c.rate), c.text);
}

TEST(BatchProgress, DurationAndTimeLeft) {
    const std::pair<std::int64_t, QString> durations[] = {
        {0, u"0:00"_s},     {9, u"0:09"_s},       {61, u"1:01"_s},
        {3599, u"59:59"_s}, {3600, u"1:00:00"_s}, {90061, u"25:01:01"_s}};
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(DurationText(seconds), text);
    // Rounded up: a last item that takes a fraction of a second still counts.
    EXPECT_EQ(SecondsLeft({2, 0, 10, 0}, 3.0), 4);
    EXPECT_EQ(SecondsLeft({2, 9, 10, 0}, 3.0), 1);
    EXPECT_EQ(SecondsLeft({2, 12, 10, 0}, 3.0), 0);
    EXPECT_EQ(SecondsLeft({2, 0, 10, 0}, std::nullopt), std::nullopt);
    EXPECT_EQ(SecondsLeft({2, 0, 10, 0}, -1.0), std::nullopt);
}

// The rate is that of the last ten seconds, not of the whole run.
TEST(BatchProgress, RateOfTheRecentSamples) {
    RateMeter meter;
    EXPECT_EQ(meter.PerSecond(), std::nullopt);
    meter.Add(0, 0);
    meter.Add(500, 50);
    EXPECT_EQ(meter.PerSecond(), std::nullopt) << "less than a second of samples";
    meter.Add(1000, 100);
    EXPECT_DOUBLE_EQ(*meter.PerSecond(), 100.0);
    // 100 a second for 20 s, then 10 a second for 10 s: only the slow part
    // is in the window by then.
    for (std::int64_t ms = 1500; ms <= 20000; ms += 500)
        meter.Add(ms, ms / 10);
    for (std::int64_t ms = 20500; ms <= 30000; ms += 500)
        meter.Add(ms, 2000 + (ms - 20000) / 100);
    EXPECT_DOUBLE_EQ(*meter.PerSecond(), 10.0);
    meter.Clear();
    EXPECT_EQ(meter.PerSecond(), std::nullopt);
}

namespace {

struct Screen {
    std::vector<QByteArray> writes;
    BatchProgress::Writer writer() {
        return [this](const QByteArray& bytes) { writes.push_back(bytes); };
    }
};

const QByteArray kErase("\r\x1b[K");

QByteArray Live(const QString& text) {
    return QByteArray("\r") + text.toUtf8() + QByteArray("\x1b[K");
}

} // namespace

// On a terminal: drawn at once, then at most twice a second and on a new
// phase; it steps aside for every log line and goes at the end.
TEST(BatchProgress, LiveLineOnATerminal) {
    Screen screen;
    BatchProgress progress(BatchProgress::Mode::Live, screen.writer());
    progress.BeforeLogLine();
    progress.AfterLogLine();
    EXPECT_TRUE(screen.writes.empty()) << "no line is on the screen yet";

    progress.Update({1, 1, 3, 0}, 1000);
    progress.Update({1, 2, 3, 25}, 1200); // too soon
    progress.Update({1, 3, 3, 50}, 2000);
    const QString second =
        u"Этап 1, поиск карточек: 3 из 3, найдено карточек 50, 2.0/с, осталось 0:00"_s;
    ASSERT_EQ(screen.writes.size(), 2u);
    EXPECT_EQ(screen.writes[0],
              Live(u"Этап 1, поиск карточек: 1 из 3, найдено карточек 0, —/с, осталось —"_s));
    EXPECT_EQ(screen.writes[1], Live(second));

    progress.BeforeLogLine();
    progress.AfterLogLine();
    EXPECT_EQ(screen.writes[2], kErase);
    EXPECT_EQ(screen.writes[3], Live(second));

    // A new phase is shown at once, its rate counted afresh.
    progress.Update({2, 0, 50, 0}, 2100);
    EXPECT_EQ(screen.writes[4],
              Live(u"Этап 2, скачивание карточек: 0 из 50, записано строк 0, —/с, осталось —"_s));

    progress.Finish();
    EXPECT_EQ(screen.writes[5], kErase);
    progress.BeforeLogLine();
    progress.AfterLogLine();
    EXPECT_EQ(screen.writes.size(), 6u);
}

// Not a terminal: a plain line a minute, none between, and log lines are
// left alone.
TEST(BatchProgress, PlainLineEveryMinuteElsewhere) {
    Screen screen;
    BatchProgress progress(BatchProgress::Mode::Lines, screen.writer());
    for (std::int64_t ms = 5000; ms < 65000; ms += 1000) {
        progress.Update({2, (ms - 5000) / 1000, 200, (ms - 5000) / 1000}, ms);
        progress.BeforeLogLine();
        progress.AfterLogLine();
    }
    EXPECT_TRUE(screen.writes.empty());
    progress.Update({2, 60, 200, 59}, 65000);
    ASSERT_EQ(screen.writes.size(), 1u);
    EXPECT_EQ(screen.writes[0],
              u"Этап 2, скачивание карточек: 60 из 200, записано строк 59, 1.0/с, осталось 2:20\n"_s
                  .toUtf8());
    progress.Update({2, 100, 200, 99}, 124999);
    EXPECT_EQ(screen.writes.size(), 1u);
    progress.Update({2, 120, 200, 119}, 125000);
    EXPECT_EQ(screen.writes.size(), 2u);
    progress.Finish();
    EXPECT_EQ(screen.writes.size(), 2u);
}

TEST(BatchProgress, QuietWritesNothing) {
    Screen screen;
    BatchProgress progress(BatchProgress::Mode::Off, screen.writer());
    for (std::int64_t ms = 0; ms <= 300000; ms += 1000) {
        progress.Update({2, ms / 1000, 300, ms / 1000}, ms);
        progress.BeforeLogLine();
        progress.AfterLogLine();
    }
    progress.Finish();
    EXPECT_TRUE(screen.writes.empty());
}
