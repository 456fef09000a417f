#pragma once
// Helpers shared by the network tests: canned answers for the raw server and
// running a fetch worker to its hand-over.

#include "net/fetch_worker.h"
#include "support/raw_server.h"
#include "support/test_certs.h"
#include "support/wait.h"

#include <memory>
#include <string>
#include <string_view>

// An HTTP/1.1 answer with a Content-Length body.
inline std::string Answer(int status, std::string_view reason, std::string_view body = {},
                          std::string_view extraHeaders = {}) {
    return "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

// The path of a request line ("GET /a?b HTTP/1.1" gives "/a?b").
inline std::string PathOf(const RawRequest& request) {
    const std::string line = request.RequestLine();
    const size_t first = line.find(' ');
    const size_t second = line.find(' ', first + 1);
    return line.substr(first + 1, second - first - 1);
}

// A raw-server handler answering every request of a connection with `reply`.
template <typename Reply> RawServer::Handler AnswerEach(Reply reply) {
    return [reply](RawConnection& connection) {
        RawRequest request;
        while (connection.ReadRequest(request)) {
            if (!connection.Send(reply(request)))
                return;
        }
    };
}

// Settings trusting the test CA. The time-outs are not meant to fire unless a
// test shortens them; they stay long because many TLS handshakes at once
// under ThreadSanitizer take seconds. The waits between attempts are a few
// milliseconds, so that a site in trouble costs a test no real time.
inline FetchSettings TestFetchSettings() {
    FetchSettings settings;
    settings.caFile = QString::fromStdString(TestCertificates().caCert);
    settings.connectTimeoutMs = 30000;
    settings.readTimeoutMs = 30000;
    settings.waits.first = std::chrono::milliseconds(2);
    settings.waits.most = std::chrono::milliseconds(8);
    settings.waits.retryAfterMost = std::chrono::milliseconds(8);
    return settings;
}

struct WorkerRun {
    std::shared_ptr<WorkerLists> lists = std::make_shared<WorkerLists>();
    std::shared_ptr<HostBackoff> backoff = std::make_shared<HostBackoff>();

    // Starts a worker the way the run does.
    std::shared_ptr<TScrapingThread2> Start(const std::string& url,
                                            const FetchSettings& settings = TestFetchSettings()) {
        auto worker = std::make_shared<TScrapingThread2>();
        worker->settings = settings;
        worker->Backoff = backoff;
        lists->Start(worker, QString::fromStdString(url));
        return worker;
    }

    size_t FinishedCount() { return lists->FinishedCount(); }
};

// Runs one worker for `url` and waits until its thread has ended.
inline std::shared_ptr<TScrapingThread2>
Fetch(const std::string& url, const FetchSettings& settings = TestFetchSettings()) {
    WorkerRun run;
    auto worker = run.Start(url, settings);
    WaitUntil([&] { return worker->Finished(); }, 60000);
    return worker;
}
