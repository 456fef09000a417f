// The fetch worker against a site in trouble: which failures wait before the
// next attempt (2, 4, 8, 8, ... ms here) and which go again at once, 404 at
// once, ten attempts at most, what it tells the run's back-off, Retry-After
// in both forms and its cap, and a stop that cuts a wait short.
#include "net_test_util.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace std::chrono_literals;
using Waits = std::vector<std::chrono::milliseconds>;

namespace {

// The test settings with the steps exactly, no jitter.
FetchSettings Steps() {
    FetchSettings settings = TestFetchSettings();
    settings.waits.random = [] { return 0.0; };
    return settings;
}

RawServer::Handler Status(int status, std::string headers = {}, std::string body = "x") {
    return AnswerEach([=](const RawRequest&) { return Answer(status, "Trouble", body, headers); });
}

} // namespace

TEST(WorkerWaits, EachFailureItsAttemptsWaitsAndBackOff) {
    const Waits nine = {2ms, 4ms, 8ms, 8ms, 8ms, 8ms, 8ms, 8ms, 8ms};
    const auto reset = [](RawConnection& c) {
        if (RawRequest request; c.ReadRequest(request))
            c.Close();
    };
    struct Case {
        const char* name;
        RawServer::Handler serve; // none: nothing listens, connections are refused
        bool search;
        size_t requests;
        Waits waits;
        std::optional<BackoffCause> cause;
    };
    const std::vector<Case> cases = {
        {"429", Status(429), false, 10, nine, BackoffCause::RateLimited},
        {"503 of a search", Status(503), true, 10, nine, BackoffCause::Unavailable},
        {"502", Status(502), false, 10, nine, std::nullopt},
        {"504", Status(504), false, 10, nine, std::nullopt},
        {"reset", reset, false, 10, nine, std::nullopt},
        {"refused", nullptr, true, 0, nine, BackoffCause::Refused},
        {"500", Status(500), false, 10, {}, std::nullopt},
        {"blank", Status(200, {}, " \r\n"), false, 10, {}, std::nullopt},
        {"404", Status(404), false, 1, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = std::make_unique<RawServer>(c.serve ? c.serve : Status(200));
        FetchSettings settings = Steps();
        settings.apiHost = QString::fromStdString(server->HostPort());
        const std::string item = c.search ? "{\"filter\":1}" : server->Url("/pro/a");
        if (!c.serve)
            server.reset();
        auto worker = Fetch(item, settings);
        EXPECT_EQ(worker->result, -1);
        EXPECT_EQ(server ? server->Requests().size() : 0u, c.requests);
        EXPECT_EQ(worker->waits, c.waits);
        const std::vector<BackoffWait> begun = worker->Backoff->TakeBegun();
        EXPECT_EQ(begun.empty(), !c.cause);
        for (const BackoffWait& wait : begun) {
            EXPECT_EQ(wait.host, settings.apiHost);
            EXPECT_EQ(wait.cause, c.cause);
        }
    }
}

TEST(WorkerWaits, RetryAfterInSecondsOrAsADateUpToItsCap) {
    std::tm tm{};
    const std::time_t later = std::time(nullptr) + 120;
    gmtime_r(&later, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    FetchSettings settings = Steps();
    settings.maxAttempts = 2;
    settings.waits.retryAfterMost = 40ms;
    const std::pair<RawServer::Handler, Waits> cases[] = {
        {Status(429, "Retry-After: 3\r\n"), {40ms}},
        {Status(503, "Retry-After: " + std::string(date) + "\r\n"), {40ms}},
        {Status(503), {2ms}},
        {Status(500, "Retry-After: 3\r\n"), {}}};
    for (const auto& [serve, waits] : cases) {
        RawServer server(serve);
        EXPECT_EQ(Fetch(server.Url("/"), settings)->waits, waits);
    }
}

// A stop during a wait of a minute ends the worker at once (bounded here far
// below the minute): no further attempt, the last failure kept.
TEST(WorkerWaits, AStopCutsAWaitShort) {
    RawServer server(Status(503));
    FetchSettings settings = Steps();
    settings.waits.first = settings.waits.most = 60s;
    WorkerRun run;
    auto worker = run.Start(server.Url("/"), settings);
    const QString host = QString::fromStdString(server.HostPort());
    ASSERT_TRUE(WaitUntil([&] { return run.backoff->Waiting(host, HostBackoff::Clock::now()); }));
    worker->Terminate(); // the report comes just before the wait
    ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }, 20000));
    EXPECT_EQ(worker->statusText.toStdString(), "ERROR HTTP/1.1 503 Trouble");
    EXPECT_EQ(worker->waits, Waits{60s});
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(run.lists->FinishedCount(), 1u);
}
