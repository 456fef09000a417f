// The run's pace and the gate in front of its starts: held back while a
// host waits, halved once per 429 wait, raised a tenth after every calm half
// minute, never above the ceiling; with the log lines they give. Times are
// made up; nothing waits.
#include "run/pace.h"
#include "run/start_gate.h"

#include "core/config.h"
#include "print_qstring.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const Pace::Clock::time_point t0 = Pace::Clock::time_point{} + 1h;

} // namespace

TEST(Pace, HalvesDownToATwentiethAndRaisesATenthPerCalmHalfMinute) {
    Pace pace;
    EXPECT_EQ(pace.Share(), 1.0);
    EXPECT_FALSE(pace.RaiseIfDue(t0 + 10min, std::nullopt)) << "never above the ceiling";
    EXPECT_EQ(pace.Gap(40ms), 40ms);

    const double halves[] = {0.5, 0.25, 0.125, 0.0625, 0.05};
    for (const double share : halves) {
        EXPECT_TRUE(pace.SlowDown(t0));
        EXPECT_DOUBLE_EQ(pace.Share(), share);
    }
    EXPECT_FALSE(pace.SlowDown(t0));
    EXPECT_EQ(pace.Gap(40ms), 800ms);

    Pace calm;
    calm.SlowDown(t0); // 0.5
    EXPECT_FALSE(calm.RaiseIfDue(t0 + 29s, t0 - 1s));
    EXPECT_TRUE(calm.RaiseIfDue(t0 + 30s, t0 - 1s));
    EXPECT_DOUBLE_EQ(calm.Share(), 0.6);
    EXPECT_FALSE(calm.RaiseIfDue(t0 + 59s, t0 - 1s)) << "30 s after the last raise";
    // A 429 meanwhile starts the half minute again.
    EXPECT_FALSE(calm.RaiseIfDue(t0 + 60s, t0 + 45s));
    EXPECT_TRUE(calm.RaiseIfDue(t0 + 75s, t0 + 45s));
    EXPECT_DOUBLE_EQ(calm.Share(), 0.7);
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(calm.RaiseIfDue(t0 + 75s + i * 30s, t0 + 45s));
    EXPECT_EQ(calm.Share(), 1.0) << "lands on the ceiling exactly";
    EXPECT_FALSE(calm.RaiseIfDue(t0 + 10min, t0 + 45s));
}

class StartGateTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = Config();
        Config().ApiHost = u"Api.Test:2"_s;
        gate_.SetCeiling(40ms); // 25 starts a second
    }
    void TearDown() override { Config() = saved_; }

    AppConfig saved_;
    StartGate gate_;
    const QString card_ = u"https://web.test:1/pro/a"_s;
    const QString search_ = u"{\"filter\":{}}"_s;
};

TEST_F(StartGateTest, AWaitingHostHoldsItsItemsBackOnlyUntilItsTime) {
    EXPECT_TRUE(gate_.MayStart(card_, t0));
    gate_.Backoff()->Report(u"web.test:1"_s, BackoffCause::Refused, 3s, t0);
    EXPECT_FALSE(gate_.MayStart(card_, t0 + 2999ms));
    EXPECT_TRUE(gate_.MayStart(search_, t0 + 1s)) << "the API host is not waiting";
    EXPECT_TRUE(gate_.MayStart(card_, t0 + 3s));
    EXPECT_EQ(gate_.Update(t0 + 1s), QStringList{u"Сайт недоступен, повторяем через 3 секунд"_s});
    EXPECT_TRUE(gate_.Update(t0 + 5s).isEmpty()) << "no pace change without a 429";

    gate_.Backoff()->Report(u"api.test:2"_s, BackoffCause::Unavailable, 2s, t0 + 5s);
    EXPECT_FALSE(gate_.MayStart(search_, t0 + 6s));
    EXPECT_EQ(gate_.Update(t0 + 6s), QStringList{u"Сайт просит подождать: пауза 2 секунд"_s});
    EXPECT_TRUE(gate_.Update(t0 + 8s).isEmpty()) << "503 leaves the pace as it is";
}

// Five workers meet 429 together: one wait, one line; when it ends the pace
// is halved once, and the gate then keeps starts twice as far apart.
TEST_F(StartGateTest, A429WaitHalvesThePaceOnceAndCalmRaisesIt) {
    for (int i = 0; i < 5; ++i)
        gate_.Backoff()->Report(u"web.test:1"_s, BackoffCause::RateLimited, 1s, t0 + i * 10ms);
    EXPECT_EQ(gate_.Update(t0 + 100ms), QStringList{u"Сайт просит подождать: пауза 1 секунд"_s});
    EXPECT_TRUE(gate_.Update(t0 + 500ms).isEmpty()) << "slowed only when the wait ends";
    EXPECT_EQ(gate_.Update(t0 + 1040ms), QStringList{u"Темп снижен до 12.5 запросов в секунду"_s});
    EXPECT_TRUE(gate_.Update(t0 + 2s).isEmpty());

    gate_.Started(t0 + 2s);
    EXPECT_FALSE(gate_.MayStart(card_, t0 + 2s + 79ms));
    EXPECT_TRUE(gate_.MayStart(card_, t0 + 2s + 80ms));

    EXPECT_TRUE(gate_.Update(t0 + 31s).isEmpty());
    EXPECT_EQ(gate_.Update(t0 + 31040ms),
              QStringList{u"Темп повышен до 15.0 запросов в секунду"_s});

    // Phase 1's ceiling: one start per 60 ms.
    gate_.SetCeiling(60ms);
    gate_.Backoff()->Report(u"api.test:2"_s, BackoffCause::RateLimited, 1s, t0 + 40s);
    gate_.Update(t0 + 40s);
    EXPECT_EQ(gate_.Update(t0 + 41s), QStringList{u"Темп снижен до 5.0 запросов в секунду"_s});
}
