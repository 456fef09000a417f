#include "net/page_client.h"

#include "net_test_util.h"
#include "support/https_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

namespace {

const std::string kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.22 (KHTML, like Gecko) "
    "Chrome/25.0.1364.152 Safari/537.22";

// Each test runs in a fresh current directory holding the client identity.
class PageClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = QDir::currentPath();
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(QDir::setCurrent(folder_.path()));
        PutIdentity(TestCertificates().clientKey, TestCertificates().clientCert);
    }
    void TearDown() override { QDir::setCurrent(previous_); }

    // Replaces the identity files; an empty source removes the file.
    static void PutIdentity(const std::string& key, const std::string& cert) {
        for (const auto& [source, name] : {std::pair{key, "01key.pem"}, {cert, "01cert.pem"}}) {
            QFile::remove(QString::fromLatin1(name));
            if (!source.empty()) {
                ASSERT_TRUE(QFile::copy(QString::fromStdString(source), QString::fromLatin1(name)));
            }
        }
    }

    static PageClientSettings Settings() {
        PageClientSettings settings;
        settings.caFile = QString::fromStdString(TestCertificates().caCert);
        settings.timeoutMs = 5000;
        return settings;
    }

    // The error message of a Get, or "" when it returned normally.
    static std::string GetError(TPageClient& client, const std::string& url) {
        try {
            client.Get(QString::fromStdString(url));
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return {};
    }

    QTemporaryDir folder_;
    QString previous_;
};

TEST_F(PageClientTest, RequestIsHttp10WithAcceptUserAgentAndHostOnly) {
    const std::string body = "Привет \xff!";
    RawServer server(AnswerEach([&](const RawRequest&) { return Answer(200, "OK", body); }));
    TPageClient client(Settings());
    EXPECT_EQ(GetError(client, server.Url("/professionals?page=2")), "");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    // curl puts Host first; the order of differently named fields carries no meaning.
    EXPECT_EQ(requests[0].head, "GET /professionals?page=2 HTTP/1.0\r\n"
                                "Host: " +
                                    server.HostPort() +
                                    "\r\n"
                                    "Accept: text/html, */*\r\n"
                                    "User-Agent: " +
                                    kUserAgent);
    EXPECT_EQ(client.BodyText(), QString::fromUtf8("Привет \xef\xbf\xbd!"));

    // Bodies accumulate until Clear.
    EXPECT_EQ(GetError(client, server.Url("/again")), "");
    EXPECT_EQ(client.Buffer().size(), 2 * static_cast<qsizetype>(body.size()));
    client.Clear();
    EXPECT_TRUE(client.Buffer().isEmpty());
}

TEST_F(PageClientTest, StatusRules) {
    RawServer server(AnswerEach([](const RawRequest& request) {
        const std::string path = PathOf(request);
        if (path == "/missing")
            return Answer(404, "Not Found", "missing body");
        if (path == "/odd")
            return Answer(410, "Gone Fishing", "odd body");
        if (path == "/auth")
            return Answer(401, "Unauthorized", "login first");
        if (path == "/proxy")
            return Answer(407, "Proxy Authentication Required", "proxy body");
        if (path == "/nolocation")
            return Answer(302, "Found", "stay here");
        if (path == "/big")
            return Answer(200, "OK", std::string(2000, 'b'));
        return std::string("HTTP/1.1 304 Not Modified\r\n\r\n");
    }));
    PageClientSettings settings = Settings();
    settings.maxBodyBytes = 1000;
    TPageClient client(settings);
    const struct {
        const char* path;
        std::string error;
        QByteArray body;
    } cases[] = {
        {"/missing", "Not Found", "missing body"},
        {"/odd", "Gone Fishing", "odd body"},
        {"/auth", "", "login first"},
        {"/proxy", "", "proxy body"},
        {"/nolocation", "", "stay here"},
        {"/notmodified", "", ""},
        {"/big", "Response body larger than 1000 bytes", QByteArray(1000, 'b')},
    };
    for (const auto& c : cases) {
        client.Clear();
        EXPECT_EQ(GetError(client, server.Url(c.path)), c.error) << c.path;
        EXPECT_EQ(client.Buffer().left(1000), c.body) << c.path;
    }
}

TEST_F(PageClientTest, FollowsFiveRelocationsAndReturnsTheSixth) {
    // /r/N relocates to r/N+1 (relative) up to /r/6, which answers.
    RawServer server(AnswerEach([](const RawRequest& request) {
        const int hop = std::stoi(PathOf(request).substr(3));
        if (hop >= 6)
            return Answer(200, "OK", "final");
        return Answer(302, "Found", "hop " + std::to_string(hop),
                      "Location: " + std::to_string(hop + 1) + "\r\n");
    }));
    TPageClient client(Settings());
    EXPECT_EQ(GetError(client, server.Url("/r/1")), "");
    EXPECT_EQ(client.Buffer(), QByteArray("final"));
    EXPECT_EQ(server.Requests().size(), 6u);
    EXPECT_EQ(server.Requests().back().RequestLine(), "GET /r/6 HTTP/1.0");

    client.Clear();
    EXPECT_EQ(GetError(client, server.Url("/r/0")), "");
    EXPECT_EQ(client.Buffer(), QByteArray("hop 5")); // the sixth relocation answer
    EXPECT_EQ(server.Requests().size(), 12u);
}

TEST_F(PageClientTest, SilenceAbortsOnTimeoutKeepingThePartialBody) {
    RawServer server([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial");
            connection.Hold(10000);
        }
    });
    PageClientSettings settings = Settings();
    settings.timeoutMs = 1500; // the clock runs from the start, through the TLS handshake
    TPageClient client(settings);
    EXPECT_EQ(GetError(client, server.Url("/")), "Request aborted on timeout");
    EXPECT_EQ(client.Buffer(), QByteArray("partial"));
}

TEST_F(PageClientTest, TransportFailuresCarryTheLibrarysDescription) {
    std::string refusedUrl;
    {
        RawServer closed([](RawConnection&) {});
        refusedUrl = closed.Url("/");
    }
    TPageClient client(Settings());
    const std::string refused = GetError(client, refusedUrl);
    EXPECT_NE(refused, "");

    RawServer cut([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nbeginning");
            connection.Close();
        }
    });
    const std::string closedEarly = GetError(client, cut.Url("/"));
    EXPECT_NE(closedEarly, "");
    EXPECT_NE(closedEarly, "Request aborted on timeout");
    EXPECT_EQ(client.Buffer(), QByteArray("beginning"));
}

TEST_F(PageClientTest, ServerCertificateAndHostNameAreVerified) {
    const TestPki& pki = TestCertificates();
    auto serve = [](LocalHttpsServer& server) {
        server.Routes().Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok", "text/html");
        });
        server.Start();
    };
    LocalHttpsServer other(pki.otherServerCert, pki.otherServerKey);
    serve(other);
    LocalHttpsServer wrongName(pki.wrongNameCert, pki.wrongNameKey);
    serve(wrongName);

    PageClientSettings systemOnly = Settings();
    systemOnly.caFile.clear();
    TPageClient untrusting(systemOnly);
    EXPECT_NE(GetError(untrusting, other.Url("/")), "");
    TPageClient trusting(Settings()); // trusts the test CA, not the other one
    EXPECT_NE(GetError(trusting, other.Url("/")), "");
    EXPECT_NE(GetError(trusting, wrongName.Url("/")), "");

    PageClientSettings otherCa = Settings();
    otherCa.caFile = QString::fromStdString(pki.otherCaCert);
    TPageClient accepting(otherCa);
    EXPECT_EQ(GetError(accepting, other.Url("/")), "");
    EXPECT_EQ(accepting.Buffer(), QByteArray("ok"));
}

TEST_F(PageClientTest, ClientIdentityIsReadKeyFirstAtTheFirstHttpsGet) {
    const TestPki& pki = TestCertificates();
    std::atomic<int> served{0};
    LocalHttpsServer server({}, {}, pki.caCert); // requires a client certificate
    server.Routes().Get("/", [&](const httplib::Request&, httplib::Response& response) {
        ++served;
        response.set_content("welcome", "text/html");
    });
    server.Start();

    const struct {
        std::string key, cert, named;
    } broken[] = {
        {"", "", "01key.pem"},
        {"", pki.clientCert, "01key.pem"},
        {pki.clientKey, "", "01cert.pem"},
        {pki.clientKeyOtherPass, pki.clientCert, "01key.pem"},
    };
    for (const auto& b : broken) {
        PutIdentity(b.key, b.cert);
        TPageClient client(Settings());
        const std::string error = GetError(client, server.Url("/"));
        EXPECT_NE(error.find(b.named), std::string::npos) << error;
    }
    EXPECT_EQ(served.load(), 0);

    // A plain http Get needs no identity.
    RawServer plain(AnswerEach([](const RawRequest&) { return Answer(200, "OK", "plain"); }),
                    RawServer::Mode::Plain);
    TPageClient client(Settings());
    EXPECT_EQ(GetError(client, plain.Url("/")), "");

    // A failed set-up is tried again; once made it lasts for the client's life.
    EXPECT_NE(GetError(client, server.Url("/")), "");
    PutIdentity(pki.clientKey, pki.clientCert);
    EXPECT_EQ(GetError(client, server.Url("/")), "");
    PutIdentity("", "");
    EXPECT_EQ(GetError(client, server.Url("/")), "");
    EXPECT_EQ(served.load(), 2);
}

// Runs `body` inside the application's event loop, as the window's handlers
// run; returns the loop's exit code, or 99 when nothing ended it in time.
int RunInApplication(const std::function<void()>& body) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(15000);
    QTimer::singleShot(0, body);
    return QCoreApplication::exec();
}

TEST_F(PageClientTest, WindowEventsKeepFlowingDuringAGet) {
    RawServer server([](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            connection.Hold(300);
            connection.Send(Answer(200, "OK", "late"));
        }
    });
    int ticks = 0;
    std::string error = "not run";
    const int code = RunInApplication([&] {
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        TPageClient client(Settings());
        error = GetError(client, server.Url("/"));
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(error, "");
    EXPECT_GT(ticks, 0);
}

TEST_F(PageClientTest, AQuitDuringAGetAbortsItAndStillEndsTheApplication) {
    RawServer silent([](RawConnection& connection) { connection.Hold(20000); });
    const struct {
        const char* name;
        int expectedCode;
        std::function<void()> quit; // arranged before the Get starts
    } ways[] = {
        {"quit", 0, [] { QTimer::singleShot(100, [] { QCoreApplication::quit(); }); }},
        {"exit", 3, [] { QTimer::singleShot(100, [] { QCoreApplication::exit(3); }); }},
        {"posted before", 0, [] { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        std::string error = "not run";
        const int code = RunInApplication([&] {
            TPageClient client(Settings());
            way.quit();
            error = GetError(client, silent.Url("/"));
        });
        EXPECT_EQ(error, "Request aborted");
        EXPECT_EQ(code, way.expectedCode);
    }
}

} // namespace
