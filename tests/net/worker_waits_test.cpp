// The fetch worker against a site in trouble: which failures make it wait
// before the next attempt and for how long (Retry-After in both forms and its
// cap), which it reports to the run's shared back-off, 404 at once, ten
// attempts at most, and a stop that cuts a wait short. The waits are a few
// milliseconds here (one real second where the length itself is the point).
#include "net_test_util.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <mutex>
#include <optional>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// Settings whose waits are their steps exactly: 2, 4, 8, 8, ... ms.
FetchSettings NoJitter() {
    FetchSettings settings = TestFetchSettings();
    settings.waits.random = [] { return 0.0; };
    return settings;
}

std::string HttpDate(std::time_t when) {
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return text;
}

const std::vector<milliseconds> kNineSteps = {2ms, 4ms, 8ms, 8ms, 8ms, 8ms, 8ms, 8ms, 8ms};

} // namespace

// Every attempt fails the same way: ten requests in all (one for 404), with
// the doubling waits between them only when the failure is the site's trouble.
TEST(WorkerWaits, EachFailureItsAttemptsAndWaits) {
    struct Case {
        const char* name;
        std::function<void(RawConnection&)> serve;
        size_t requests;
        std::vector<milliseconds> waits;
    };
    const auto answer = [](int status, const char* reason) {
        return AnswerEach([=](const RawRequest&) { return Answer(status, reason, "x"); });
    };
    const std::vector<Case> cases = {
        {"429", answer(429, "Too Many Requests"), 10, kNineSteps},
        {"502", answer(502, "Bad Gateway"), 10, kNineSteps},
        {"503", answer(503, "Service Unavailable"), 10, kNineSteps},
        {"504", answer(504, "Gateway Timeout"), 10, kNineSteps},
        {"reset before the answer",
         [](RawConnection& c) {
             RawRequest request;
             if (c.ReadRequest(request))
                 c.Close();
         },
         10, kNineSteps},
        {"closed in the body",
         [](RawConnection& c) {
             RawRequest request;
             if (c.ReadRequest(request)) {
                 c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf");
                 c.Close();
             }
         },
         10, kNineSteps},
        {"500", answer(500, "Internal Server Error"), 10, {}},
        {"403", answer(403, "Forbidden"), 10, {}},
        {"blank body",
         AnswerEach([](const RawRequest&) { return Answer(200, "OK", " \r\n"); }),
         10,
         {}},
        {"404", answer(404, "Not Found"), 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server(c.serve);
        auto worker = Fetch(server.Url("/card"), NoJitter());
        ASSERT_TRUE(worker->Finished());
        EXPECT_EQ(worker->result, -1);
        EXPECT_EQ(server.Requests().size(), c.requests);
        EXPECT_EQ(worker->waits, c.waits);
    }
}

TEST(WorkerWaits, RefusedConnectionsWaitAndTheTimeOutsToo) {
    std::string refusedUrl;
    {
        RawServer closed([](RawConnection&) {});
        refusedUrl = closed.Url("/");
    }
    auto refused = Fetch(refusedUrl, NoJitter());
    EXPECT_EQ(refused->result, -1);
    EXPECT_EQ(refused->waits, kNineSteps);

    RawServer silent([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request))
            connection.Hold(10000);
    });
    FetchSettings settings = NoJitter();
    settings.readTimeoutMs = 100;
    settings.maxAttempts = 3;
    auto stalled = Fetch(silent.Url("/"), settings);
    EXPECT_EQ(stalled->result, -1);
    EXPECT_EQ(stalled->waits, (std::vector<milliseconds>{2ms, 4ms}));
}

// A site back on its feet: the next attempt after the waits succeeds; the
// doubling counts trouble failures only, not the ones retried at once.
TEST(WorkerWaits, RecoversAfterTheWaitsAndCountsOnlyTrouble) {
    std::atomic<int> served{0};
    RawServer server(AnswerEach([&](const RawRequest&) {
        switch (served++) {
        case 0:
            return Answer(500, "Internal Server Error", "x");
        case 1:
        case 2:
            return Answer(503, "Service Unavailable", "x");
        case 3:
            return Answer(500, "Internal Server Error", "x");
        case 4:
            return Answer(502, "Bad Gateway", "x");
        default:
            return Answer(200, "OK", "<p>card</p>");
        }
    }));
    auto worker = Fetch(server.Url("/card"), NoJitter());
    EXPECT_EQ(worker->result, 1);
    EXPECT_EQ(worker->html, QByteArray("<p>card</p>"));
    EXPECT_EQ(worker->waits, (std::vector<milliseconds>{2ms, 4ms, 8ms}));
    EXPECT_EQ(server.Requests().size(), 6u);
}

TEST(WorkerWaits, RetryAfterInSecondsOrAsADateCappedAndOnlyOnTrouble) {
    FetchSettings settings = NoJitter();
    settings.waits.retryAfterMost = 40ms;
    settings.maxAttempts = 2;
    struct Case {
        const char* name;
        int status;
        std::string header;
        std::vector<milliseconds> waits;
    };
    const std::vector<Case> cases = {
        {"seconds, over the cap", 429, "Retry-After: 3\r\n", {40ms}},
        {"a date, over the cap",
         503,
         "Retry-After: " + HttpDate(std::time(nullptr) + 120) + "\r\n",
         {40ms}},
        {"none", 503, "", {2ms}},
        {"on an answer that is retried at once", 500, "Retry-After: 3\r\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer server(
            AnswerEach([&](const RawRequest&) { return Answer(c.status, "Busy", "x", c.header); }));
        auto worker = Fetch(server.Url("/"), settings);
        EXPECT_EQ(worker->waits, c.waits);
        EXPECT_EQ(server.Requests().size(), 2u);
    }
}

// The one real wait: a Retry-After under the cap is waited in full, and the
// second request comes after it.
TEST(WorkerWaits, RetryAfterUnderTheCapIsWaitedInFull) {
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    RawServer server(AnswerEach([&](const RawRequest&) {
        std::lock_guard lock(mutex);
        arrivals.push_back(std::chrono::steady_clock::now());
        return arrivals.size() == 1 ? Answer(429, "Too Many Requests", "x", "Retry-After: 1\r\n")
                                    : Answer(200, "OK", "card");
    }));
    FetchSettings settings = NoJitter();
    settings.waits.retryAfterMost = 600s;
    auto worker = Fetch(server.Url("/"), settings);
    EXPECT_EQ(worker->result, 1);
    EXPECT_EQ(worker->waits, std::vector<milliseconds>{1s});
    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_GE(arrivals[1] - arrivals[0], 1s); // a lower bound only: a wait never ends early
}

// 429, 503 and refused connections tell the run's back-off about the host the
// work item goes to (the API host for a search request); 502 and dropped
// connections wait without telling it.
TEST(WorkerWaits, ReportsToTheSharedBackOff) {
    struct Case {
        const char* name;
        int status; // 0: the connection is refused
        std::optional<BackoffCause> cause;
    };
    const Case cases[] = {{"429", 429, BackoffCause::RateLimited},
                          {"503", 503, BackoffCause::Unavailable},
                          {"refused", 0, BackoffCause::Refused},
                          {"502", 502, std::nullopt}};
    for (const Case& c : cases) {
        for (const bool search : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (search ? " search" : " page"));
            auto server = std::make_unique<RawServer>(
                AnswerEach([&](const RawRequest&) { return Answer(c.status, "Trouble", "x"); }));
            const std::string host = server->HostPort();
            const std::string url = server->Url("/pro/a");
            if (c.status == 0)
                server.reset(); // nothing listens there any more
            FetchSettings settings = NoJitter();
            settings.apiHost = QString::fromStdString(host);
            settings.maxAttempts = 2;
            WorkerRun run;
            auto worker = std::make_shared<TScrapingThread2>();
            worker->settings = settings;
            worker->Backoff = std::make_shared<HostBackoff>();
            run.lists->Start(worker, search ? QStringLiteral("{\"filter\":1}")
                                            : QString::fromStdString(url));
            ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }));
            const auto begun = worker->Backoff->TakeBegun();
            if (!c.cause) {
                EXPECT_TRUE(begun.empty());
                continue;
            }
            // Both attempts report, the last too; each wait (8 ms) ended
            // before the next report, so each began a wait of its own.
            ASSERT_EQ(begun.size(), 2u);
            for (const BackoffWait& wait : begun) {
                EXPECT_EQ(wait.host.toStdString(), host);
                EXPECT_EQ(wait.cause, *c.cause);
                EXPECT_EQ(wait.seconds, 1);
            }
        }
    }
}

// A stop during a wait of a minute ends the worker at once (bounded here far
// below the minute): no further attempt, the last failure kept.
TEST(WorkerWaits, AStopCutsAWaitShort) {
    RawServer server(
        AnswerEach([](const RawRequest&) { return Answer(503, "Service Unavailable", "x"); }));
    FetchSettings settings = NoJitter();
    settings.waits.first = settings.waits.most = 60s;
    WorkerRun run;
    auto worker = std::make_shared<TScrapingThread2>();
    worker->settings = settings;
    worker->Backoff = std::make_shared<HostBackoff>();
    const QString host = QString::fromStdString(server.HostPort());
    run.lists->Start(worker, QString::fromStdString(server.Url("/")));
    // The report comes just before the wait.
    ASSERT_TRUE(WaitUntil(
        [&] { return worker->Backoff->Waiting(host, std::chrono::steady_clock::now()); }));
    worker->Terminate();
    ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }, 20000));
    EXPECT_EQ(worker->result, -1);
    EXPECT_EQ(worker->statusText.toStdString(), "ERROR HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(worker->waits, std::vector<milliseconds>{60s});
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(run.lists->FinishedCount(), 1u);
}
