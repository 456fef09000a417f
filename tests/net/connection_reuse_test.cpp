// Workers of one phase pass their open connections on, with exactly the
// requests a new client sends; a connection the site closed or that failed
// costs no more than before; a client serves only workers with its settings.
#include "net_test_util.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Waits = std::vector<std::chrono::milliseconds>;

namespace {

// Answers every request of a connection with "conn <index>" and a cookie.
void Numbered(RawConnection& c) {
    RawRequest request;
    while (c.ReadRequest(request) &&
           c.Send(Answer(200, "OK", "conn " + std::to_string(c.Index()), "Set-Cookie: s=1\r\n"))) {
    }
}

std::shared_ptr<TScrapingThread2> FetchIn(WorkerRun& run, const std::string& item,
                                          const FetchSettings& settings = TestFetchSettings()) {
    auto worker = run.Start(item, settings);
    worker->WaitFor();
    return worker;
}

} // namespace

TEST(ConnectionReuse, WorkersGoOnWithTheConnectionOfEarlierOnesAsNewClients) {
    RawServer server(Numbered);
    FetchSettings settings = TestFetchSettings();
    settings.apiHost = QString::fromStdString(server.HostPort());
    WorkerRun run;
    for (const std::string& item : {server.Url("/a"), server.Url("/b"),
                                    std::string("{\"filter\":1}"), std::string("{\"filter\":2}")})
        EXPECT_EQ(FetchIn(run, item, settings)->html, QByteArray("conn 0"));
    const std::vector<RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].HeaderLines(), requests[0].HeaderLines()); // no cookie carried over
    EXPECT_EQ(requests[3].HeaderLines(), requests[2].HeaderLines());
}

// The site closes the first card's connection after its answer, before it
// answers the next card's request, or in the middle of that answer: only the
// last costs the next card an attempt (with the wait of a dropped connection).
TEST(ConnectionReuse, AConnectionTheSiteClosedCostsNoAttemptOfTheNextItem) {
    const auto closing = [](int how) {
        return [how](RawConnection& c) {
            RawRequest request;
            if (!c.ReadRequest(request))
                return;
            c.Send(Answer(200, "OK", c.Index() == 0 ? "first" : "again"));
            if (c.Index() > 0 || how == 0 || !c.ReadRequest(request))
                return;
            if (how == 2)
                c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
            c.Close();
        };
    };
    const std::tuple<int, Waits, size_t> cases[] = {{0, {}, 2}, {1, {}, 3}, {2, {2ms}, 3}};
    for (const bool search : {false, true}) {
        for (const auto& [how, waits, requests] : cases) {
            SCOPED_TRACE(how + (search ? 10 : 0));
            RawServer server(closing(how));
            FetchSettings settings = TestFetchSettings();
            settings.waits.random = [] { return 0.0; };
            settings.apiHost = QString::fromStdString(server.HostPort());
            WorkerRun run;
            EXPECT_EQ(FetchIn(run, search ? "{\"filter\":1}" : server.Url("/a"), settings)->html,
                      QByteArray("first"));
            auto next = FetchIn(run, search ? "{\"filter\":2}" : server.Url("/b"), settings);
            EXPECT_EQ(next->html, QByteArray("again"));
            EXPECT_EQ(next->waits, waits);
            EXPECT_EQ(server.Requests().size(), requests);
            EXPECT_EQ(server.Connections(), 2);
        }
    }
}

// The site goes away after the first card: the new connection is refused,
// which waits and tells the back-off as any refused connection does, and the
// failed client is not passed on.
TEST(ConnectionReuse, ARefusedReconnectWaitsAsAnyRefusedConnection) {
    auto server = std::make_unique<RawServer>(Numbered);
    FetchSettings settings = TestFetchSettings();
    settings.maxAttempts = 3;
    settings.waits.random = [] { return 0.0; };
    WorkerRun run;
    ASSERT_EQ(FetchIn(run, server->Url("/a"), settings)->result, 1);
    const std::string url = server->Url("/b");
    server.reset();
    EXPECT_EQ(FetchIn(run, url, settings)->waits, (Waits{2ms, 4ms}));
    const std::vector<BackoffWait> begun = run.backoff->TakeBegun();
    ASSERT_FALSE(begun.empty());
    EXPECT_EQ(begun[0].cause, BackoffCause::Refused);
    EXPECT_EQ(run.lists->Clients().IdleCount(), 0u);
}

// Another trust (the same CA read from another file), other time-outs or
// another API host: each gets a connection of its own, and keeps it.
TEST(ConnectionReuse, NoConnectionIsReusedUnderOtherSettings) {
    QTemporaryDir folder;
    const FetchSettings base = TestFetchSettings();
    std::vector<FetchSettings> variants(4, base);
    variants[1].caFile = folder.filePath(QStringLiteral("ca.pem"));
    ASSERT_TRUE(QFile::copy(base.caFile, variants[1].caFile));
    variants[2].readTimeoutMs += 1;
    variants[3].apiHost = QStringLiteral("127.0.0.1:1");
    RawServer server(Numbered);
    WorkerRun run;
    for (int round = 0; round < 2; ++round) {
        for (size_t v = 0; v < variants.size(); ++v)
            EXPECT_EQ(FetchIn(run, server.Url("/x"), variants[v])->html.toStdString(),
                      "conn " + std::to_string(v));
    }
}
