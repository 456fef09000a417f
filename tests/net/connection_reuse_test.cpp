// Workers of one phase pass their open connections on: the next worker
// sends its request on the connection an earlier one left open, with
// exactly the request a new client would send; a connection the site closed
// or that failed costs no more than it did; a client serves only workers
// with its own settings.
#include "net/client_pool.h"
#include "net/fetch_client.h"

#include "net_test_util.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

// Answers every request of a connection with "conn <index> req <n>", n
// counting the connection's requests from 0, and a new cookie each time.
void AnswerWithConnection(RawConnection& connection) {
    RawRequest request;
    for (int n = 0; connection.ReadRequest(request); ++n) {
        const std::string conn = std::to_string(connection.Index());
        const std::string body = "conn " + conn + " req " + std::to_string(n);
        const std::string cookie = "Set-Cookie: s=" + conn + "-" + std::to_string(n) + "\r\n";
        if (!connection.Send(Answer(200, "OK", body, cookie)))
            return;
    }
}

// Runs `item` on a new worker of `run` and waits for its thread to end.
std::shared_ptr<TScrapingThread2> FetchIn(WorkerRun& run, const std::string& item,
                                          const FetchSettings& settings = TestFetchSettings()) {
    auto worker = run.Start(item, settings);
    EXPECT_TRUE(WaitUntil([&] { return worker->Finished(); }, 60000));
    worker->WaitFor();
    return worker;
}

// The request without its request line: what must not differ between a
// new and a reused client.
std::vector<std::string> HeadersOf(const RawRequest& request) {
    return request.HeaderLines();
}

} // namespace

// Pages and searches, one after another and several at once: one connection
// per worker running at the same time, not one per work item; each request
// as a new client sends it, without the cookies an earlier worker received.
TEST(ConnectionReuse, WorkersGoOnWithTheConnectionsOfEarlierOnes) {
    RawServer server(AnswerWithConnection);
    FetchSettings settings = TestFetchSettings();
    settings.apiHost = QString::fromStdString(server.HostPort());
    WorkerRun run;
    for (const std::string& item :
         {server.Url("/pro/a"), server.Url("/pro/b"), std::string("{\"filter\":1}"),
          std::string("{\"filter\":2}"), server.Url("/pro/c")}) {
        auto worker = FetchIn(run, item, settings);
        EXPECT_EQ(worker->result, 1) << worker->statusText.toStdString();
        EXPECT_TRUE(worker->html.startsWith("conn 0 ")) << worker->html.toStdString();
    }
    EXPECT_EQ(server.Connections(), 1);

    // Three at once: the server answers none until all three have asked.
    std::mutex mutex;
    std::condition_variable arrived;
    int waiting = 0;
    RawServer together([&](RawConnection& connection) {
        RawRequest request;
        for (int n = 0; connection.ReadRequest(request); ++n) {
            if (n == 0) {
                std::unique_lock lock(mutex);
                ++waiting;
                arrived.notify_all();
                arrived.wait_for(lock, 20s, [&] { return waiting >= 3; });
            }
            if (!connection.Send(Answer(200, "OK", "x", "Set-Cookie: s=1; Path=/\r\n")))
                return;
        }
    });
    WorkerRun concurrent;
    std::vector<std::shared_ptr<TScrapingThread2>> workers;
    for (int i = 0; i < 3; ++i)
        workers.push_back(concurrent.Start(together.Url("/pro/" + std::to_string(i))));
    for (const auto& worker : workers)
        worker->WaitFor();
    for (int i = 3; i < 9; ++i)
        EXPECT_EQ(FetchIn(concurrent, together.Url("/pro/" + std::to_string(i)))->result, 1);
    EXPECT_EQ(together.Connections(), 3);

    // The requests on reused connections are those of a new client.
    const std::vector<RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(HeadersOf(requests[1]), HeadersOf(requests[0]));
    EXPECT_EQ(HeadersOf(requests[4]), HeadersOf(requests[0]));
    EXPECT_EQ(requests[2].RequestLine(), "POST /api/v2/professionals:search HTTP/1.0");
    EXPECT_EQ(requests[3].body, "{\"filter\":2}");
    EXPECT_EQ(HeadersOf(requests[3]), HeadersOf(requests[2]));
    for (const RawRequest& request : requests)
        EXPECT_FALSE(request.HasHeader("Cookie")) << request.head;
    for (const RawRequest& request : together.Requests())
        EXPECT_FALSE(request.HasHeader("Cookie")) << request.head;
}

// The site closes a connection after the answer of the first card (cleanly
// or by a reset), before it answers the second card's request, or in the
// middle of that answer. Only the last costs the second card an attempt.
// The same for two search requests.
TEST(ConnectionReuse, AConnectionTheSiteClosedCostsNoAttemptOfTheNextCard) {
    const auto cut = [](RawConnection& connection, bool partial) {
        RawRequest request;
        if (!connection.ReadRequest(request))
            return;
        if (connection.Index() == 0) {
            connection.Send(Answer(200, "OK", "first"));
            if (!connection.ReadRequest(request))
                return;
            if (partial)
                connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
            connection.Close();
            return;
        }
        connection.Send(Answer(200, "OK", "again"));
    };
    struct Case {
        const char* name;
        RawServer::Handler serve;
        std::vector<std::chrono::milliseconds> waits; // of the second card
        size_t requests;
    };
    const std::vector<Case> cases = {
        {"closed after the answer",
         [](RawConnection& c) {
             if (RawRequest request; c.ReadRequest(request))
                 c.Send(Answer(200, "OK", c.Index() == 0 ? "first" : "again"));
         },
         {},
         2},
        {"reset after the answer",
         [](RawConnection& c) {
             if (RawRequest request; c.ReadRequest(request)) {
                 c.Send(Answer(200, "OK", c.Index() == 0 ? "first" : "again"));
                 c.Close();
             }
         },
         {},
         2},
        {"closed before the next answer", [&](RawConnection& c) { cut(c, false); }, {}, 3},
        {"closed during the next answer", [&](RawConnection& c) { cut(c, true); }, {2ms}, 3},
    };
    for (const bool search : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (search ? ", searches" : ", pages"));
            RawServer server(c.serve);
            FetchSettings settings = TestFetchSettings();
            settings.waits.random = [] { return 0.0; };
            settings.apiHost = QString::fromStdString(server.HostPort());
            WorkerRun run;
            auto first = FetchIn(run, search ? "{\"filter\":1}" : server.Url("/pro/a"), settings);
            EXPECT_EQ(first->html, QByteArray("first"));
            auto second = FetchIn(run, search ? "{\"filter\":2}" : server.Url("/pro/b"), settings);
            EXPECT_EQ(second->result, 1) << second->statusText.toStdString();
            EXPECT_EQ(second->html, QByteArray("again"));
            EXPECT_EQ(second->waits, c.waits);
            EXPECT_EQ(server.Requests().size(), c.requests);
            EXPECT_EQ(server.Connections(), 2);
        }
    }
}

// The site goes away after the first card: the second card's client finds
// its connection closed, and the new connection is refused. That is a
// refused connection like any other: the waits between attempts, the report
// to the run's back-off, all attempts, and the client is not passed on.
TEST(ConnectionReuse, ARefusedReconnectWaitsAsAnyRefusedConnection) {
    auto server = std::make_unique<RawServer>(AnswerWithConnection);
    FetchSettings settings = TestFetchSettings();
    settings.maxAttempts = 3;
    settings.waits.random = [] { return 0.0; };
    const std::string host = server->HostPort();
    WorkerRun run;
    ASSERT_EQ(FetchIn(run, server->Url("/pro/a"), settings)->result, 1);
    EXPECT_EQ(run.lists->Clients().IdleCount(), 1u);
    const std::string url = server->Url("/pro/b");
    server.reset();

    auto worker = FetchIn(run, url, settings);
    EXPECT_EQ(worker->result, -1);
    EXPECT_TRUE(worker->statusText.startsWith(u"ERROR ")) << worker->statusText.toStdString();
    EXPECT_EQ(worker->failure, FetchFailure::NoAnswer);
    EXPECT_EQ(worker->waits, (std::vector<std::chrono::milliseconds>{2ms, 4ms}));
    const std::vector<BackoffWait> begun = run.backoff->TakeBegun();
    ASSERT_FALSE(begun.empty());
    EXPECT_EQ(begun.front().host, QString::fromStdString(host));
    EXPECT_EQ(begun.front().cause, BackoffCause::Refused);
    EXPECT_EQ(run.lists->Clients().IdleCount(), 0u);
}

// A client serves only workers made with the same settings: another trust
// (the same CA read from another file), other time-outs or another API host
// each get connections of their own, and each set of settings keeps its own.
TEST(ConnectionReuse, NoConnectionIsReusedUnderOtherSettings) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const FetchSettings base = TestFetchSettings();
    const QString copy = folder.filePath(QStringLiteral("ca-copy.pem"));
    ASSERT_TRUE(QFile::copy(base.caFile, copy));
    std::vector<FetchSettings> variants(4, base);
    variants[1].caFile = copy;
    variants[2].readTimeoutMs = base.readTimeoutMs + 1;
    variants[3].apiHost = QStringLiteral("127.0.0.1:1");

    RawServer server(AnswerWithConnection);
    WorkerRun run;
    for (int round = 0; round < 2; ++round) {
        for (size_t v = 0; v < variants.size(); ++v) {
            auto worker = FetchIn(run, server.Url("/pro/x"), variants[v]);
            EXPECT_EQ(worker->html.left(7).toStdString(), "conn " + std::to_string(v) + " ")
                << "round " << round << ": " << worker->html.toStdString();
        }
    }
    EXPECT_EQ(server.Connections(), 4);

    // The pool itself: the client given back last is taken first, and
    // beyond its size the one idle longest is closed.
    ClientPool pool(2);
    auto a = pool.Take(base);
    auto b = pool.Take(base);
    auto c = pool.Take(base);
    const net::FetchClient* bp = b.get();
    const net::FetchClient* cp = c.get();
    pool.Give(std::move(a));
    pool.Give(std::move(b));
    pool.Give(std::move(c));
    EXPECT_EQ(pool.IdleCount(), 2u);
    const auto other = pool.Take(variants[1]); // none of its settings idle: a new one
    EXPECT_NE(other.get(), bp);
    EXPECT_NE(other.get(), cp);
    EXPECT_EQ(pool.IdleCount(), 2u);
    EXPECT_EQ(pool.Take(base).get(), cp);
    EXPECT_EQ(pool.Take(base).get(), bp);
    EXPECT_EQ(pool.IdleCount(), 0u);
}
