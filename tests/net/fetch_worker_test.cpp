#include "net/fetch_worker.h"
#include "site/requests.h"

#include "net_test_util.h"
#include "support/https_server.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <map>
#include <mutex>

namespace {

const std::string kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:2.0) Gecko/20100101 Firefox/4.0";
const std::string kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

std::string Utf8(const QString& text) {
    return text.toStdString();
}

// zlib stream (HTTP "deflate") or gzip member of `data`.
std::string Compress(const std::string& data, bool gzip) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, gzip ? 31 : 15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(SearchRequest, ClassifiesAndEncodesTheBody) {
    EXPECT_TRUE(IsSearchRequest(QStringLiteral("{\"filter\":{}}")));
    EXPECT_FALSE(IsSearchRequest(QStringLiteral("{\"filter")));
    EXPECT_FALSE(IsSearchRequest(QStringLiteral("{\"filterX\":1}")));
    EXPECT_FALSE(IsSearchRequest(QStringLiteral(" {\"filter\":{}}")));
    EXPECT_EQ(SearchPostBody(QStringLiteral(" \t{\"q\":\"Кофе\"}\r\n")),
              QByteArray("{\"q\":\"????\"}"));
    EXPECT_EQ(SearchPostBody(QString::fromUtf8("a\U0001F600b")), QByteArray("a??b"));
    EXPECT_EQ(SearchPostBody(QStringLiteral("a=1\r\nb=2\nc=3")), QByteArray("a=1&b=2&c=3"));
}

TEST(FetchWorker, GetGoesOutAsHttp11WithTheClientHeadersOverTls12) {
    RawServer server(
        AnswerEach([](const RawRequest&) { return Answer(200, "OK", "<p>card</p>"); }));
    const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/pro/a?x=1";
    auto worker = Fetch(url);

    EXPECT_EQ(worker->result, 1);
    EXPECT_EQ(Utf8(worker->statusText), "успешно");
    EXPECT_EQ(worker->html, QByteArray("<p>card</p>"));
    EXPECT_EQ(Utf8(worker->url), url);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET /pro/a?x=1 HTTP/1.1");
    EXPECT_EQ(requests[0].Header("Host"), "localhost:" + std::to_string(server.Port()));
    EXPECT_EQ(requests[0].Header("User-Agent"), kUserAgent);
    EXPECT_EQ(requests[0].Header("Accept"), kAccept);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "gzip, deflate");
    EXPECT_FALSE(requests[0].HasHeader("Cookie"));
    EXPECT_TRUE(requests[0].body.empty());
}

TEST(FetchWorker, NegotiatesAtMostTls12AndSendsTheServerName) {
    std::mutex mutex;
    std::string version, name;
    RawServer server([&](RawConnection& connection) {
        {
            std::lock_guard lock(mutex);
            version = connection.TlsVersion();
            name = connection.ServerName();
        }
        RawRequest request;
        if (connection.ReadRequest(request))
            connection.Send(Answer(200, "OK", "x"));
    });
    auto worker = Fetch("https://localhost:" + std::to_string(server.Port()) + "/");
    EXPECT_EQ(worker->result, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(version, "TLSv1.2");
    EXPECT_EQ(name, "localhost");
}

TEST(FetchWorker, SearchBodyIsPostedAsHttp10ToTheApiHost) {
    RawServer server(AnswerEach([](const RawRequest&) { return Answer(200, "OK", "{}"); }));
    FetchSettings settings = TestFetchSettings();
    settings.apiHost = QString::fromStdString(server.HostPort());
    // Only the end can be trimmed: leading blanks would make it a URL.
    const QString item = QStringLiteral("{\"filter\":{\"q\":\"Кофе\U0001F600\"}}\r\n ");
    WorkerRun run;
    auto worker = run.Start(Utf8(item), settings);
    ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }));

    EXPECT_EQ(worker->result, 1);
    EXPECT_EQ(worker->url, item);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string body = "{\"filter\":{\"q\":\"??????\"}}";
    EXPECT_EQ(requests[0].RequestLine(), "POST /api/v2/professionals:search HTTP/1.0");
    EXPECT_EQ(requests[0].Header("Connection"), "keep-alive");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(requests[0].Header("User-Agent"), kUserAgent);
    EXPECT_EQ(requests[0].Header("Accept"), kAccept);
    EXPECT_EQ(requests[0].body, body);
}

TEST(FetchWorker, A303TurnsThePostIntoAGetOtherRedirectsRepeatIt) {
    for (const int status : {303, 301, 302, 307, 308}) {
        SCOPED_TRACE(status);
        RawServer server(AnswerEach([status](const RawRequest& request) {
            if (PathOf(request) == "/api/v2/professionals:search")
                return Answer(status, "Moved", "", "Location: /next\r\n");
            return Answer(200, "OK", "done");
        }));
        FetchSettings settings = TestFetchSettings();
        settings.apiHost = QString::fromStdString(server.HostPort());
        auto worker = Fetch("{\"filter\":1}", settings);
        EXPECT_EQ(worker->result, 1);
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        if (status == 303) {
            EXPECT_EQ(requests[1].RequestLine(), "GET /next HTTP/1.0");
            EXPECT_FALSE(requests[1].HasHeader("Content-Length"));
            EXPECT_EQ(requests[1].body, "");
        } else {
            EXPECT_EQ(requests[1].RequestLine(), "POST /next HTTP/1.0");
            EXPECT_EQ(requests[1].body, "{\"filter\":1}");
        }
    }
}

TEST(FetchWorker, A404EndsTheAttemptsAtOnce) {
    RawServer server(AnswerEach([](const RawRequest&) { return Answer(404, "Not Found", "no"); }));
    auto worker = Fetch(server.Url("/pro/gone"));
    EXPECT_EQ(worker->result, -1);
    EXPECT_EQ(Utf8(worker->statusText), "ERROR HTTP/1.1 404 Not Found");
    EXPECT_TRUE(worker->html.isEmpty());
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(FetchWorker, OtherErrorAnswersAreRetriedTenTimesWithTheirStatusLine) {
    const std::map<int, std::string> answers{{500, "Internal Server Error"},
                                             {401, "Unauthorized"},
                                             {407, "Proxy Authentication Required"},
                                             {304, "Not Modified"},
                                             {302, "Found"}}; // 302 without Location
    for (const auto& [status, reason] : answers) {
        SCOPED_TRACE(status);
        RawServer server(AnswerEach([status = status, reason = reason](const RawRequest&) {
            return status == 304 ? "HTTP/1.1 304 " + reason + "\r\n\r\n"
                                 : Answer(status, reason, "body");
        }));
        auto worker = Fetch(server.Url("/x"));
        EXPECT_EQ(worker->result, -1);
        EXPECT_EQ(Utf8(worker->statusText),
                  "ERROR HTTP/1.1 " + std::to_string(status) + " " + reason);
        EXPECT_TRUE(worker->html.isEmpty());
        EXPECT_EQ(server.Requests().size(), 10u);
    }
}

TEST(FetchWorker, BlankBodiesAreEmptyResponsesRetriedTenTimes) {
    RawServer server(AnswerEach([](const RawRequest&) { return Answer(200, "OK", " \r\n\t \n"); }));
    const std::string url = server.Url("/blank");
    auto worker = Fetch(url);
    EXPECT_EQ(worker->result, -1);
    EXPECT_EQ(Utf8(worker->statusText), "ERROR_Empty response1 for " + url);
    EXPECT_EQ(worker->html, QByteArray(" \r\n\t \n"));
    EXPECT_EQ(server.Requests().size(), 10u);
}

TEST(FetchWorker, FourteenRedirectsAreFollowedTheFifteenthIsAnEmptyAnswer) {
    RawServer server(AnswerEach([](const RawRequest& request) {
        const int hop = std::stoi(PathOf(request).substr(3)); // "/r/N"
        if (hop == 14)
            return Answer(200, "OK", "arrived");
        return Answer(302, "Found", "redirect body",
                      "Location: /r/" + std::to_string(hop + 1) + "\r\n");
    }));
    auto arrived = Fetch(server.Url("/r/0"));
    EXPECT_EQ(arrived->result, 1);
    EXPECT_EQ(arrived->html, QByteArray("arrived"));
    EXPECT_EQ(server.Requests().size(), 15u);

    FetchSettings settings = TestFetchSettings();
    settings.maxAttempts = 2;
    const std::string url = server.Url("/r/15"); // never reaches 14 again
    auto looping = Fetch(url, settings);
    EXPECT_EQ(looping->result, -1);
    EXPECT_EQ(Utf8(looping->statusText), "ERROR_Empty response1 for " + url);
    EXPECT_TRUE(looping->html.isEmpty());
    EXPECT_EQ(server.Requests().size(), 15u + 2 * 15u);
}

TEST(FetchWorker, ConnectionFailuresAreErrorsOfTheAttempt) {
    std::string refusedUrl;
    {
        RawServer closed([](RawConnection&) {});
        refusedUrl = closed.Url("/");
    } // nothing listens on that port any more
    auto refused = Fetch(refusedUrl);
    EXPECT_EQ(refused->result, -1);
    EXPECT_TRUE(refused->statusText.startsWith(u"ERROR ")) << Utf8(refused->statusText);
    EXPECT_GT(refused->statusText.size(), 6);

    // Every answer is cut short; all ten attempts are made.
    RawServer cutAndClose([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
            connection.Close();
        }
    });
    auto partial = Fetch(cutAndClose.Url("/"));
    EXPECT_EQ(partial->result, -1);
    EXPECT_TRUE(partial->statusText.startsWith(u"ERROR ")) << Utf8(partial->statusText);
    EXPECT_TRUE(partial->html.isEmpty());
    EXPECT_EQ(cutAndClose.Requests().size(), 10u);
}

TEST(FetchWorker, CertificatesAreVerified) {
    // Test CA not trusted: the system store alone refuses it, every attempt.
    RawServer untrusted(AnswerEach([](const RawRequest&) { return Answer(200, "OK", "x"); }));
    FetchSettings systemOnly = TestFetchSettings();
    systemOnly.caFile.clear();
    auto refused = Fetch(untrusted.Url("/"), systemOnly);
    EXPECT_EQ(refused->result, -1);
    EXPECT_TRUE(refused->statusText.startsWith(u"ERROR ")) << Utf8(refused->statusText);
    EXPECT_TRUE(untrusted.Requests().empty());
    EXPECT_EQ(untrusted.Connections(), 10);

    const TestPki& pki = TestCertificates();
    LocalHttpsServer other(pki.otherServerCert, pki.otherServerKey);
    other.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("other", "text/plain");
    });
    other.Start();
    FetchSettings settings = TestFetchSettings();
    settings.maxAttempts = 1;
    EXPECT_EQ(Fetch(other.Url("/"), settings)->result, -1); // other CA not trusted
    settings.caFile = QString::fromStdString(pki.otherCaCert);
    auto accepted = Fetch(other.Url("/"), settings);
    EXPECT_EQ(accepted->result, 1) << Utf8(accepted->statusText);
    EXPECT_EQ(accepted->html, QByteArray("other"));

    LocalHttpsServer wrongName(pki.wrongNameCert, pki.wrongNameKey);
    wrongName.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("x", "text/plain");
    });
    wrongName.Start();
    settings = TestFetchSettings();
    settings.maxAttempts = 1;
    auto mismatch = Fetch(wrongName.Url("/"), settings);
    EXPECT_EQ(mismatch->result, -1);
    EXPECT_TRUE(mismatch->statusText.startsWith(u"ERROR ")) << Utf8(mismatch->statusText);

    settings.caFile = QStringLiteral("/nonexistent/ca.pem");
    auto badCaFile = Fetch(other.Url("/"), settings);
    EXPECT_EQ(badCaFile->result, -1);
    EXPECT_TRUE(badCaFile->statusText.contains(u"/nonexistent/ca.pem"))
        << Utf8(badCaFile->statusText);
}

// Each worker opens its own connection; workers that trust the same CAs
// resume an earlier worker's TLS session instead of a full handshake, and a
// worker that trusts other CAs (here the same CA read from another file)
// starts sessions of its own.
TEST(FetchWorker, TlsSessionsAreResumedOnlyAmongWorkersOfTheSameTrust) {
    LocalHttpsServer server;
    server.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("card", "text/plain");
    });
    server.Start();
    const FetchSettings settings = TestFetchSettings();
    for (int i = 0; i < 3; ++i) {
        auto worker = Fetch(server.Url("/"), settings);
        ASSERT_EQ(worker->result, 1) << Utf8(worker->statusText);
    }
    EXPECT_EQ(server.SessionsResumed(), 2);

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString copy = folder.filePath(QStringLiteral("ca-copy.pem"));
    ASSERT_TRUE(QFile::copy(settings.caFile, copy));
    FetchSettings otherTrust = settings;
    otherTrust.caFile = copy;
    auto first = Fetch(server.Url("/"), otherTrust);
    ASSERT_EQ(first->result, 1) << Utf8(first->statusText);
    EXPECT_EQ(server.SessionsResumed(), 2);
    auto second = Fetch(server.Url("/"), otherTrust);
    ASSERT_EQ(second->result, 1) << Utf8(second->statusText);
    EXPECT_EQ(server.SessionsResumed(), 3);
}

TEST(FetchWorker, ConnectTimeOutCoversTheTlsHandshake) {
    // A plain server that accepts and never answers the TLS client hello.
    RawServer silent([](RawConnection& connection) { connection.Hold(10000); },
                     RawServer::Mode::Plain);
    FetchSettings settings = TestFetchSettings();
    settings.connectTimeoutMs = 300;
    settings.maxAttempts = 2;
    auto worker = Fetch("https://" + silent.HostPort() + "/", settings);
    EXPECT_EQ(worker->result, -1);
    EXPECT_TRUE(worker->statusText.startsWith(u"ERROR ")) << Utf8(worker->statusText);
    EXPECT_TRUE(worker->statusText.contains(u"time", Qt::CaseInsensitive))
        << Utf8(worker->statusText);
    EXPECT_EQ(silent.Connections(), 2);
}

TEST(FetchWorker, ReadTimeOutIsTheLongestWaitForTheNextData) {
    // First connection: the request is read and never answered; then answers.
    RawServer server([](RawConnection& connection) {
        RawRequest request;
        if (!connection.ReadRequest(request))
            return;
        if (connection.Index() == 0) {
            connection.Hold(10000);
            return;
        }
        // Six gaps of 200 ms: together longer than the time-out, each far below it.
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        for (const char* piece : {"sl", "ow", "ly", " b", "ut", "!!"}) {
            connection.Hold(200);
            connection.Send(piece);
        }
    });
    FetchSettings settings = TestFetchSettings();
    settings.readTimeoutMs = 1000;
    auto worker = Fetch(server.Url("/"), settings);
    EXPECT_EQ(worker->result, 1);
    EXPECT_EQ(Utf8(worker->statusText), "успешно");
    EXPECT_EQ(worker->html, QByteArray("slowly but!!"));
    EXPECT_EQ(server.Requests().size(), 2u);

    settings.maxAttempts = 1;
    settings.readTimeoutMs = 300;
    RawServer silent([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nhalf");
            connection.Hold(10000);
        }
    });
    auto stalled = Fetch(silent.Url("/"), settings);
    EXPECT_EQ(stalled->result, -1);
    EXPECT_EQ(Utf8(stalled->statusText), "ERROR Read timed out: no data for 300 ms");
    EXPECT_TRUE(stalled->html.isEmpty());
}

TEST(FetchWorker, GzipAndDeflateBodiesAreInflated) {
    const std::string page = "<html>" + std::string(5000, 'z') + " Привет</html>";
    for (const bool gzip : {true, false}) {
        SCOPED_TRACE(gzip ? "gzip" : "deflate");
        RawServer server(AnswerEach([&](const RawRequest&) {
            return Answer(200, "OK", Compress(page, gzip),
                          gzip ? "Content-Encoding: gzip\r\n" : "Content-Encoding: deflate\r\n");
        }));
        auto worker = Fetch(server.Url("/"));
        EXPECT_EQ(worker->result, 1);
        EXPECT_EQ(worker->html.toStdString(), page);
    }
}

TEST(FetchWorker, BodiesOverTheLimitFailTheAttemptEvenWhenCompressed) {
    FetchSettings settings = TestFetchSettings();
    settings.maxBodyBytes = 64 * 1024;
    settings.maxAttempts = 1;
    const std::string atLimit(64 * 1024, 'a');
    const std::string bomb = Compress(std::string(4 << 20, '\0'), true); // 4 MiB of zeros
    RawServer server(AnswerEach([&](const RawRequest& request) {
        if (PathOf(request) == "/fits")
            return Answer(200, "OK", atLimit);
        if (PathOf(request) == "/over")
            return Answer(200, "OK", atLimit + "b");
        return Answer(200, "OK", bomb, "Content-Encoding: gzip\r\n");
    }));
    EXPECT_EQ(Fetch(server.Url("/fits"), settings)->html.size(), 64 * 1024);
    for (const char* path : {"/over", "/bomb"}) {
        auto worker = Fetch(server.Url(path), settings);
        EXPECT_EQ(worker->result, -1) << path;
        EXPECT_EQ(Utf8(worker->statusText), "ERROR Response body larger than 65536 bytes");
        EXPECT_TRUE(worker->html.isEmpty());
    }
}

TEST(FetchWorker, CookiesLastForOneWorkerAndAreNotShared) {
    std::mutex mutex;
    int sessions = 0;
    std::map<std::string, int> seen; // cookie -> requests that carried it
    RawServer server(AnswerEach([&](const RawRequest& request) {
        std::lock_guard lock(mutex);
        const std::string cookie = request.Header("Cookie");
        if (cookie.empty()) // first contact: a session, and a redirect back here
            return Answer(302, "Found", "",
                          "Set-Cookie: session=" + std::to_string(++sessions) +
                              "; Path=/\r\nLocation: /start\r\n");
        // The first request of a session fails, so the next attempt must bring it too.
        return ++seen[cookie] == 1 ? Answer(500, "Internal Server Error") : Answer(200, "OK", "in");
    }));
    for (int worker = 1; worker <= 2; ++worker) {
        EXPECT_EQ(Fetch(server.Url("/start"))->result, 1);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    const std::vector<std::string> expected{"", "session=1", "session=1",
                                            "", "session=2", "session=2"};
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].Header("Cookie"), expected[i]) << i;
}

// A server that reads a request and then waits for the test to say how the
// answer ends.
struct HeldAnswer {
    std::atomic<bool> arrived{false};
    std::atomic<int> release{0}; // 1: answer, 2: cut the connection
    RawServer server{[this](RawConnection& connection) {
        RawRequest request;
        if (!connection.ReadRequest(request))
            return;
        arrived.store(true);
        while (release.load() == 0)
            connection.Hold(10);
        if (release.load() == 1)
            connection.Send(Answer(200, "OK", "late body"));
        else
            connection.Close();
    }};
};

TEST(FetchWorker, AStopLetsTheRunningRequestEndAndStartsNoOtherAttempt) {
    for (const int ending : {1, 2}) {
        SCOPED_TRACE(ending == 1 ? "answer" : "error");
        HeldAnswer held;
        WorkerRun run;
        auto worker = run.Start(held.server.Url("/"));
        ASSERT_TRUE(WaitUntil([&] { return held.arrived.load(); }));
        worker->Terminate();
        held.release.store(ending);
        ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }));
        EXPECT_TRUE(worker->html.isEmpty());
        if (ending == 1) {
            EXPECT_EQ(worker->result, 0);
            EXPECT_TRUE(worker->statusText.isEmpty());
        } else {
            EXPECT_EQ(worker->result, -1);
            EXPECT_TRUE(worker->statusText.startsWith(u"ERROR ")) << Utf8(worker->statusText);
        }
        EXPECT_EQ(held.server.Requests().size(), 1u);
        EXPECT_EQ(run.lists->RunningCount(), 0u);
        ASSERT_EQ(run.lists->FinishedCount(), 1u);
        EXPECT_EQ(run.lists->TakeFinished(), worker);
    }
}

TEST(FetchWorker, HandsOverOnceEvenWhenNotInTheRunningListAndDropsTheLists) {
    RawServer server(AnswerEach([](const RawRequest&) { return Answer(200, "OK", "x"); }));
    auto lists = std::make_shared<WorkerLists>();
    auto worker = std::make_shared<TScrapingThread2>();
    worker->url = QString::fromStdString(server.Url("/"));
    worker->settings = TestFetchSettings();
    worker->Lists = lists; // never added to its running list
    worker->Start();
    ASSERT_TRUE(WaitUntil([&] { return worker->Finished(); }));
    EXPECT_EQ(lists->FinishedCount(), 1u);
    EXPECT_EQ(worker->Lists, nullptr);
}

// The lists' own rules: workers come out of FinishedList in the order they
// handed themselves over, also one that was never in RunningList; a stop
// reaches every running worker, and lists the run has let go of live on
// until the last of their workers has handed itself over.
TEST(WorkerLists, FinishedWorkersComeOutInHandOverOrder) {
    WorkerLists lists;
    auto a = std::make_shared<TScrapingThread2>();
    auto b = std::make_shared<TScrapingThread2>();
    lists.HandOver(b);
    lists.HandOver(a);
    EXPECT_EQ(lists.RunningCount(), 0u);
    EXPECT_EQ(lists.FinishedCount(), 2u);
    EXPECT_FALSE(lists.Idle());
    EXPECT_EQ(lists.TakeFinished(), b);
    EXPECT_EQ(lists.TakeFinished(), a);
    EXPECT_EQ(lists.TakeFinished(), nullptr);
    EXPECT_TRUE(lists.Idle());
}

TEST(WorkerLists, AStopReachesEveryRunningWorkerAndAbandonedListsLiveOnForThem) {
    HeldAnswer held;
    std::weak_ptr<WorkerLists> abandoned;
    std::vector<std::shared_ptr<TScrapingThread2>> workers;
    {
        WorkerRun run;
        abandoned = run.lists;
        for (int i = 0; i < 3; ++i)
            workers.push_back(run.Start(held.server.Url("/")));
        ASSERT_TRUE(WaitUntil([&] { return held.arrived.load(); }));
        EXPECT_EQ(run.lists->RunningCount(), 3u);
        EXPECT_FALSE(run.lists->Idle());
        run.lists->TerminateRunning();
        for (const auto& worker : workers)
            EXPECT_TRUE(worker->Terminated());
    } // the run lets go of its lists while the workers still wait
    EXPECT_FALSE(abandoned.expired());
    held.release.store(1);
    for (const auto& worker : workers)
        worker->WaitFor();
    EXPECT_TRUE(abandoned.expired());
    for (const auto& worker : workers)
        EXPECT_EQ(worker->Lists, nullptr);
}

TEST(FetchWorker, ManyWorkersFinishingAtOnceHandOverExactlyOnceEach) {
    LocalHttpsServer server;
    server.Routes().Get(R"(/card/(\d+))",
                        [](const httplib::Request& request, httplib::Response& response) {
                            response.set_content("card " + request.matches[1].str(), "text/html");
                        });
    server.Start();
    constexpr int kWorkers = 40;
    WorkerRun run;
    std::vector<std::shared_ptr<TScrapingThread2>> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.push_back(run.Start(server.Url("/card/" + std::to_string(i))));
    ASSERT_TRUE(WaitUntil([&] { return run.FinishedCount() == kWorkers; }, 60000));
    for (auto& worker : workers)
        worker->WaitFor();
    EXPECT_EQ(run.lists->RunningCount(), 0u);
    ASSERT_EQ(run.lists->FinishedCount(), static_cast<size_t>(kWorkers));
    std::vector<std::shared_ptr<TScrapingThread2>> finished;
    while (auto worker = run.lists->TakeFinished())
        finished.push_back(worker);
    for (int i = 0; i < kWorkers; ++i) {
        EXPECT_EQ(std::count(finished.begin(), finished.end(), workers[i]), 1);
        EXPECT_EQ(workers[i]->result, 1);
        EXPECT_EQ(workers[i]->html.toStdString(), "card " + std::to_string(i));
    }
}

TEST(FetchWorker, WorkersOfAnAbandonedRunAreFreed) {
    HeldAnswer held;
    std::vector<std::weak_ptr<TScrapingThread2>> workers;
    {
        WorkerRun run;
        for (int i = 0; i < 5; ++i)
            workers.push_back(run.Start(held.server.Url("/")));
        ASSERT_TRUE(WaitUntil([&] { return held.arrived.load(); }));
    } // the run lets go of its lists and workers while they still wait
    held.release.store(1);
    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(workers.begin(), workers.end(),
                           [](const auto& worker) { return worker.expired(); });
    }));
}

} // namespace
