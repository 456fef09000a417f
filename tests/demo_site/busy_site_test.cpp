// The demo site's switches for a busy or unreachable site: --rate-limit
// answers 429 with "Retry-After: 1" beyond N requests a second, per host,
// never to its own /__demo/ routes, and counts them in /__demo/stats;
// --outage closes both listeners for a while, then opens them on the same
// ports.

#include "demo_site/site_client.h"
#include "support/demo_site_process.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

namespace {

long Count(const nlohmann::json& stats, const char* member) {
    return stats["rateLimit"][member].get<long>();
}

} // namespace

TEST(DemoSiteBusy, RateLimitAnswers429BeyondItsRequestsASecondPerHost) {
    DemoSiteProcess site({"--rate-limit", "2"});
    ASSERT_TRUE(site.started()) << site.error();
    const std::string ca = site.caFile();

    // A burst at the web host: two a second are answered, the rest refused
    // with the header; right after the first 429 the API host still answers.
    int answered = 0;
    int limited = 0;
    Reply api;
    for (int i = 0; i < 12; ++i) {
        const Reply reply = Fetch(ca, site.webUrl("/professionals"));
        ASSERT_EQ(reply.code, CURLE_OK);
        if (reply.status == 429) {
            EXPECT_EQ(reply.retryAfter, "1");
            EXPECT_EQ(reply.statusLines.back(), "HTTP/1.1 429 Too Many Requests");
            if (limited++ == 0)
                api = Fetch(ca, site.apiUrl("/api/v2/reference/cities"));
        } else {
            EXPECT_EQ(reply.status, 200);
            EXPECT_TRUE(reply.retryAfter.empty());
            ++answered;
        }
    }
    EXPECT_GE(limited, 1);
    EXPECT_EQ(api.status, 200) << "the API host counts its own requests";

    // The site's own routes are never limited and count nothing.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Fetch(ca, site.webUrl("/__demo/expected?category=none")).status, 200);
    nlohmann::json stats = ParseJson(Fetch(ca, site.webUrl("/__demo/stats")).body);
    EXPECT_EQ(Count(stats, "limit"), 2);
    EXPECT_EQ(Count(stats, "requests"), 13);
    EXPECT_EQ(Count(stats, "rateLimited"), limited);
    EXPECT_EQ(stats["requests"]["professionals"].get<int>(), answered);

    FetchOptions reset;
    reset.post = "{}";
    EXPECT_EQ(Fetch(ca, site.webUrl("/__demo/reset"), reset).status, 200);
    stats = ParseJson(Fetch(ca, site.webUrl("/__demo/stats")).body);
    EXPECT_EQ(Count(stats, "requests"), 0);
    EXPECT_EQ(Count(stats, "rateLimited"), 0);
    EXPECT_EQ(stats["rateLimit"]["afterFirstWait"]["requests"].get<long>(), 0);
}

// Connections to both hosts are refused during the outage and accepted
// again after it, on the same ports.
TEST(DemoSiteBusy, OutageRefusesConnectionsToBothHostsForItsSeconds) {
    DemoSiteProcess site({"--outage", "2:2"});
    ASSERT_TRUE(site.started()) << site.error();
    const std::string ca = site.caFile();
    std::vector<CURLcode> seen; // the web host's outcomes, each change once
    bool apiRefused = false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        const Reply reply = Fetch(ca, site.webUrl("/"));
        if (seen.empty() || seen.back() != reply.code) {
            seen.push_back(reply.code);
            if (reply.code == CURLE_COULDNT_CONNECT)
                apiRefused = Fetch(ca, site.apiUrl("/api/v2/reference/cities")).code ==
                             CURLE_COULDNT_CONNECT;
        }
        if (seen.size() >= 2 && seen.back() == CURLE_OK)
            break;
        QThread::msleep(50);
    }
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 2], CURLE_COULDNT_CONNECT);
    EXPECT_EQ(seen.back(), CURLE_OK);
    EXPECT_TRUE(apiRefused);
    EXPECT_EQ(Fetch(ca, site.apiUrl("/api/v2/reference/cities")).status, 200);
    EXPECT_EQ(site.stop(), 0);
}

TEST(DemoSiteBusy, MalformedSwitchesAreUsageErrors) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--rate-limit", "0"},
                                               {"--rate-limit", "x"},
                                               {"--outage", "5"},
                                               {"--outage", "5:0"},
                                               {"--outage", "a:3"},
                                               {"--outage", "5:3s"}}) {
        EXPECT_EQ(RunDemoSiteTool(args, 10000), 64) << args[0] << " " << args[1];
    }
}
