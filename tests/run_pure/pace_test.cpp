// The gate in front of a run's starts: items of a waiting host held back,
// one line per wait, the pace halved once per 429 wait and raised a tenth
// after each calm half minute, never above the ceiling. Made-up times.
#include "run/start_gate.h"

#include "core/config.h"
#include "print_qstring.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

TEST(StartGate, HoldsAWaitingHostAndFollowsThePaceTheSiteAllows) {
    const AppConfig saved = Config();
    Config().ApiHost = u"Api.Test:2"_s;
    const auto t0 = StartGate::Clock::time_point{} + 1h;
    const QString card = u"https://web.test:1/pro/a"_s;
    StartGate gate;
    gate.SetCeiling(40ms); // 25 starts a second

    gate.Backoff()->Report(u"web.test:1"_s, BackoffCause::Refused, 3s, t0);
    EXPECT_FALSE(gate.MayStart(card, t0 + 2999ms));
    EXPECT_TRUE(gate.MayStart(u"{\"filter\":{}}"_s, t0 + 1s)) << "the API host goes on";
    EXPECT_TRUE(gate.MayStart(card, t0 + 3s));
    EXPECT_EQ(gate.Update(t0 + 1s), QStringList{u"Сайт недоступен, повторяем через 3 секунды"_s});

    // Five workers meet 429 on the API host: one line, one halving at its end.
    for (int worker = 0; worker < 5; ++worker)
        gate.Backoff()->Report(u"api.test:2"_s, BackoffCause::RateLimited, 1s, t0 + 4s);
    EXPECT_EQ(gate.Update(t0 + 4500ms), QStringList{u"Сайт просит подождать: пауза 1 секунду"_s});
    EXPECT_EQ(gate.Update(t0 + 5s), QStringList{u"Темп снижен до 12.5 запроса в секунду"_s});
    gate.Started(t0 + 6s);
    EXPECT_FALSE(gate.MayStart(card, t0 + 6s + 79ms));
    EXPECT_TRUE(gate.MayStart(card, t0 + 6s + 80ms));

    // Back up a tenth of the ceiling per calm half minute, and no further.
    QStringList lines;
    for (int halfMinute = 1; halfMinute <= 6; ++halfMinute)
        lines += gate.Update(t0 + 4s + halfMinute * 30s);
    EXPECT_EQ(lines.size(), 5);
    EXPECT_EQ(lines.first(), u"Темп повышен до 15 запросов в секунду"_s);
    EXPECT_EQ(lines.last(), u"Темп повышен до 25 запросов в секунду"_s);
    gate.Started(t0 + 300s);
    EXPECT_TRUE(gate.MayStart(card, t0 + 300s + 1ms)) << "the loop's own sleeps pace it";
    Config() = saved;
}

// A wait that begins after an earlier one ended is a wait of its own: its
// longer steps are announced again, and the earlier 429 wait, ended before
// any update saw it end, still halves the pace once.
TEST(StartGate, AWaitAfterAnEndedOneAnnouncesItsStepsAndTheEndedOneSlowsThePace) {
    const auto t0 = StartGate::Clock::time_point{} + 1h;
    StartGate gate;
    gate.SetCeiling(40ms);
    // Workers doubling their waits: 1 s, then 2 s and 4 s while the host waits.
    const auto steps = [&](StartGate::Clock::time_point at) {
        gate.Backoff()->Report(u"web.test:1"_s, BackoffCause::RateLimited, 1s, at);
        gate.Backoff()->Report(u"web.test:1"_s, BackoffCause::RateLimited, 2s, at + 500ms);
        gate.Backoff()->Report(u"web.test:1"_s, BackoffCause::RateLimited, 4s, at + 1s);
    };
    const QStringList announced = {u"Сайт просит подождать: пауза 1 секунду"_s,
                                   u"Сайт просит подождать: пауза 2 секунды"_s,
                                   u"Сайт просит подождать: пауза 4 секунды"_s};
    steps(t0);
    EXPECT_EQ(gate.Update(t0 + 2s), announced) << "the first wait runs until t0 + 5 s";
    steps(t0 + 10s);
    EXPECT_EQ(gate.Update(t0 + 12s),
              announced + QStringList{u"Темп снижен до 12.5 запроса в секунду"_s});
    EXPECT_EQ(gate.Update(t0 + 15s), QStringList{u"Темп снижен до 6.3 запроса в секунду"_s});
    EXPECT_EQ(gate.Update(t0 + 16s), QStringList{});
}
