// The back-off a run's workers share: one "not before" time per host, the
// latest asked for, one announcement per wait, and 429 waits counted once
// when they end. Times are made up; nothing waits.
#include "net/host_backoff.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

const QString kWeb = QStringLiteral("web:1");
const QString kApi = QStringLiteral("api:2");
const HostBackoff::Clock::time_point t0 = HostBackoff::Clock::time_point{} + 1h;

} // namespace

TEST(HostBackoff, OneWaitPerHostTheLatestAskedForWins) {
    HostBackoff backoff;
    EXPECT_FALSE(backoff.Waiting(kWeb, t0));
    // Five workers meet the same 429 within a few hundred milliseconds.
    for (int i = 0; i < 5; ++i)
        backoff.Report(kWeb, BackoffCause::RateLimited, 1s, t0 + i * 50ms);
    backoff.Report(kWeb, BackoffCause::RateLimited, 100ms, t0 + 300ms); // shorter: no change
    const auto begun = backoff.TakeBegun();
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(begun[0].host, kWeb);
    EXPECT_EQ(begun[0].cause, BackoffCause::RateLimited);
    EXPECT_EQ(begun[0].seconds, 1);
    EXPECT_TRUE(backoff.TakeBegun().empty()) << "announced once";

    EXPECT_TRUE(backoff.Waiting(kWeb, t0 + 1199ms));
    EXPECT_FALSE(backoff.Waiting(kWeb, t0 + 1200ms));
    EXPECT_FALSE(backoff.Waiting(kApi, t0 + 100ms)) << "other hosts go on";
}

// Workers doubling their waits through an outage: each longer step is a
// new line; the next worker reaching the same step joins it silently.
TEST(HostBackoff, ALongerWaitAskedForIsAnnouncedTheSameStepIsNot) {
    HostBackoff backoff;
    backoff.Report(kApi, BackoffCause::Refused, 1500ms, t0);
    backoff.Report(kApi, BackoffCause::Refused, 1500ms, t0 + 900ms);  // the same step
    backoff.Report(kApi, BackoffCause::Refused, 3s, t0 + 1500ms);     // the next step
    backoff.Report(kApi, BackoffCause::Refused, 2800ms, t0 + 2400ms); // the same, jittered
    backoff.Report(kApi, BackoffCause::Unavailable, 4s, t0 + 3s);     // longer: announced
    backoff.Report(kApi, BackoffCause::Refused, 800ms, t0 + 10s);     // after the end: new wait
    const auto begun = backoff.TakeBegun();
    ASSERT_EQ(begun.size(), 4u);
    EXPECT_EQ(begun[0].cause, BackoffCause::Refused);
    EXPECT_EQ(begun[0].seconds, 2); // rounded up
    EXPECT_EQ(begun[1].seconds, 3);
    EXPECT_EQ(begun[2].cause, BackoffCause::Unavailable);
    EXPECT_EQ(begun[2].seconds, 4);
    EXPECT_EQ(begun[3].seconds, 1); // never "0 seconds"
    EXPECT_TRUE(backoff.Waiting(kApi, t0 + 6999ms)) << "the latest asked for";
    EXPECT_TRUE(backoff.Waiting(kApi, t0 + 10s + 799ms));
    EXPECT_FALSE(backoff.Waiting(kApi, t0 + 10s + 800ms));
}

TEST(HostBackoff, WaitsJoinedByA429CountOnceWhenTheyEnd) {
    HostBackoff backoff;
    EXPECT_EQ(backoff.LastRateLimited(), std::nullopt);
    backoff.Report(kWeb, BackoffCause::Refused, 2s, t0);
    backoff.Report(kWeb, BackoffCause::RateLimited, 1s, t0 + 100ms); // joins the refused wait
    backoff.Report(kWeb, BackoffCause::RateLimited, 1s, t0 + 200ms);
    backoff.Report(kApi, BackoffCause::Unavailable, 1s, t0);
    EXPECT_EQ(backoff.LastRateLimited(), t0 + 200ms);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 1500ms), 0) << "not ended yet";
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 2s), 1);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 3s), 0) << "counted once";

    // A 429 wait that ended unseen still counts when the next wait begins first.
    backoff.Report(kApi, BackoffCause::RateLimited, 1s, t0 + 4s);
    backoff.Report(kApi, BackoffCause::RateLimited, 1s, t0 + 6s);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 6500ms), 1);
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 7s), 1);
}

TEST(HostBackoff, ManyWorkersReportingAtOnce) {
    HostBackoff backoff;
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([&backoff, w] {
            for (int i = 0; i < 200; ++i)
                backoff.Report(w % 2 ? kWeb : kApi, BackoffCause::RateLimited, 1s,
                               t0 + i * 1ms + w * 100us);
        });
    }
    for (auto& worker : workers)
        worker.join();
    const auto begun = backoff.TakeBegun();
    EXPECT_EQ(begun.size(), 2u) << "one wait per host";
    // The latest: worker 7's last report.
    EXPECT_TRUE(backoff.Waiting(kWeb, t0 + 1199ms + 699us));
    EXPECT_FALSE(backoff.Waiting(kWeb, t0 + 1199ms + 700us));
    EXPECT_EQ(backoff.TakeEndedRateLimited(t0 + 2s), 2);
}
