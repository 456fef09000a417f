// How long a worker waits after a failure that says the site is in trouble;
// computed without waiting. (Which failures wait: worker_waits_test.cpp.)
#include "net/retry_wait.h"

#include <gtest/gtest.h>

#include <climits>

using namespace std::chrono_literals;

// 1 s doubling to 30 s, less a random part of up to a fifth (never more);
// Retry-After instead, as asked, up to 10 minutes, whatever the step.
TEST(RetryWait, DoublesToThirtySecondsJitteredDownRetryAfterUpToTenMinutes) {
    const RetryWaitSettings settings;
    const std::chrono::milliseconds steps[] = {1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s, 30s};
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(TroubleWait(n, 0, settings, 0.0), steps[n - 1]) << n;
        const std::chrono::milliseconds jittered = TroubleWait(n, 0, settings, 0.999);
        EXPECT_LT(jittered * 10, steps[n - 1] * 9) << n;
        EXPECT_GE(jittered * 5, steps[n - 1] * 4) << n;
    }
    for (int i = 0; i < 100; ++i) {
        const std::chrono::milliseconds wait = TroubleWait(3, 0, settings, JitterRandom(settings));
        EXPECT_TRUE(wait >= 3200ms && wait <= 4000ms) << wait.count();
    }
    const std::pair<long, std::chrono::milliseconds> retryAfter[] = {
        {1, 1s}, {600, 600s}, {601, 600s}, {LONG_MAX, 600s}};
    for (const auto& [seconds, want] : retryAfter)
        EXPECT_EQ(TroubleWait(4, seconds, settings, 0.9), want) << seconds;
}
