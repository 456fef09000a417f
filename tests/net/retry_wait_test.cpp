// Which failures wait before the next attempt, how long, and which of them
// ask the run to wait for the host; computed without waiting.
#include "net/fetch_worker.h"
#include "net/retry_wait.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

TEST(RetryWait, OnlyTheSiteInTroubleWaits) {
    struct Case {
        FailureKind kind;
        long status;
        bool trouble;
        std::optional<BackoffCause> hostCause;
    };
    const Case cases[] = {
        {FailureKind::Answered, 429, true, BackoffCause::RateLimited},
        {FailureKind::Answered, 503, true, BackoffCause::Unavailable},
        {FailureKind::Answered, 502, true, std::nullopt},
        {FailureKind::Answered, 504, true, std::nullopt},
        {FailureKind::Answered, 500, false, std::nullopt},
        {FailureKind::Answered, 404, false, std::nullopt},
        {FailureKind::Answered, 403, false, std::nullopt},
        {FailureKind::Answered, 400, false, std::nullopt},
        {FailureKind::Refused, 0, true, BackoffCause::Refused},
        {FailureKind::Dropped, 0, true, std::nullopt},
        {FailureKind::TimedOut, 0, true, std::nullopt},
        {FailureKind::TimedOut, 200, true, std::nullopt}, // a body that stalled
        {FailureKind::Other, 0, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " " << c.status);
        EXPECT_EQ(SiteInTrouble(c.kind, c.status), c.trouble);
        EXPECT_EQ(HostBackoffCause(c.kind, c.status), c.hostCause);
    }
}

TEST(RetryWait, DoublesFromOneSecondUpToThirtyWithoutJitterAtZero) {
    const RetryWaitSettings settings;
    const milliseconds want[] = {1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s, 30s};
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(TroubleWait(n, 0, settings, 0.0), want[n - 1]) << n;
    EXPECT_EQ(TroubleWait(1000, 0, settings, 0.0), 30s); // no overflow on the way
}

// The jitter takes up to a fifth off, never adds: every wait lies within
// [0.8, 1] of its step, and the thread's own random source spreads them.
TEST(RetryWait, JitterStaysWithinAFifthBelowTheStep) {
    RetryWaitSettings settings;
    for (int n = 1; n <= 7; ++n) {
        const milliseconds step = TroubleWait(n, 0, settings, 0.0);
        for (const double random : {0.0, 0.25, 0.5, 0.999999}) {
            const milliseconds wait = TroubleWait(n, 0, settings, random);
            EXPECT_LE(wait, step) << n << " " << random;
            EXPECT_GE(wait * 5, step * 4) << n << " " << random;
        }
        EXPECT_LT(TroubleWait(n, 0, settings, 0.999999) * 10, step * 9) << "a real jitter";
    }
    std::set<milliseconds::rep> seen;
    for (int i = 0; i < 200; ++i) {
        const milliseconds wait = TroubleWait(3, 0, settings, JitterRandom(settings));
        EXPECT_GE(wait, 3200ms);
        EXPECT_LE(wait, 4000ms);
        seen.insert(wait.count());
    }
    EXPECT_GT(seen.size(), 20u);

    settings.random = [] { return 0.5; };
    EXPECT_EQ(JitterRandom(settings), 0.5);
}

TEST(RetryWait, RetryAfterIsObeyedExactlyUpToTenMinutes) {
    const RetryWaitSettings settings;
    struct Case {
        long seconds;
        milliseconds want;
    };
    const Case cases[] = {{1, 1s},     {7, 7s},       {120, 120s},     {600, 600s},
                          {601, 600s}, {86400, 600s}, {LONG_MAX, 600s}};
    for (const Case& c : cases) {
        // Not doubled by the failure count, and no jitter.
        EXPECT_EQ(TroubleWait(1, c.seconds, settings, 0.9), c.want) << c.seconds;
        EXPECT_EQ(TroubleWait(6, c.seconds, settings, 0.9), c.want) << c.seconds;
    }
    RetryWaitSettings shortCap;
    shortCap.retryAfterMost = 50ms;
    EXPECT_EQ(TroubleWait(1, 3, shortCap, 0.0), 50ms);
}

TEST(WorkItemHost, TheHostAndPortAWorkItemGoesTo) {
    const QString api = QStringLiteral("Api.Example:8444");
    const std::pair<const char*, const char*> cases[] = {
        {"https://Web.Example:8443/pro/a-b", "web.example:8443"},
        {"https://web.example/pro/x?y=1", "web.example"},
        {"https://web.example?y=1", "web.example"},
        {"https://web.example#top", "web.example"},
        {"https://user:pw@web.example:1/x", "web.example:1"},
        {"{\"filter\":{\"cityId\":{\"eq\":\"x\"}}}", "api.example:8444"},
        {"not a url", ""},
    };
    for (const auto& [item, host] : cases)
        EXPECT_EQ(WorkItemHost(QString::fromUtf8(item), api).toStdString(), host) << item;
}
