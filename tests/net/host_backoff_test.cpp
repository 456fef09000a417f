// The back-off a run's workers share: per host the latest time asked for, a
// line per wait (the same step of five workers' doubling is one wait), and
// waits a 429 joined counted once when they end. Made-up times.
#include "net/host_backoff.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(HostBackoff, OneWaitPerStepTheLatestTimeWins429WaitsCountedOnceAtTheirEnd) {
    const QString web = QStringLiteral("web:1");
    const auto t0 = HostBackoff::Clock::time_point{} + 1h;
    HostBackoff backoff;
    for (int worker = 0; worker < 5; ++worker)
        backoff.Report(web, BackoffCause::RateLimited, 1s, t0 + worker * 50ms);
    backoff.Report(web, BackoffCause::Refused, 1800ms, t0 + 300ms); // a longer step
    backoff.Report(web, BackoffCause::Refused, 100ms, t0 + 400ms);  // never shortens
    const auto begun = backoff.TakeBegun();
    ASSERT_EQ(begun.size(), 2u);
    EXPECT_EQ(begun[0].cause, BackoffCause::RateLimited);
    EXPECT_EQ(begun[0].seconds, 1);
    EXPECT_EQ(begun[1].cause, BackoffCause::Refused);
    EXPECT_EQ(begun[1].seconds, 2); // rounded up
    EXPECT_TRUE(backoff.TakeBegun().empty());
    EXPECT_TRUE(backoff.Waiting(web, t0 + 2099ms));
    EXPECT_FALSE(backoff.Waiting(web, t0 + 2100ms));
    EXPECT_FALSE(backoff.Waiting(QStringLiteral("api:2"), t0 + 1s));

    EXPECT_EQ(backoff.LastRateLimited(), t0 + 200ms);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 2s), 0) << "not over yet";
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 2100ms), 1);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 3s), 0) << "counted once";
    backoff.Report(web, BackoffCause::Unavailable, 1s, t0 + 5s);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 7s), 0) << "only 429 waits count";
}
