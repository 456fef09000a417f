#pragma once
// The fetch worker's HTTP client: one libcurl easy handle that keeps its
// cookies for all the attempts of a work item, a GET of a URL or a POST of a
// search request body to the API host, each returning the body of a 2xx
// answer and throwing FetchError for anything else. Its open connections
// (one per host) outlive the work item: the workers hand idle clients on to
// each other (client_pool.h), and Renew makes a client as good as new for
// the next item except for those connections.

#include "net/curl_transfer.h"
#include "net/fetch_settings.h"
#include "net/retry_wait.h"
#include "net/tls_material.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

namespace net {

// A failed request: an answer with an error status (`status`, and the
// seconds its Retry-After asks for, 0 without one), or a transfer that
// failed itself (no connection, reset, TLS, time-out, a body over the limit).
struct FetchError : std::runtime_error {
    FetchError(const std::string& message, long status, FailureKind kind,
               long retryAfterSeconds = 0)
        : std::runtime_error(message), status(status), kind(kind),
          retryAfterSeconds(retryAfterSeconds) {}
    bool Answered() const { return kind == FailureKind::Answered; }
    long status;
    FailureKind kind;
    long retryAfterSeconds;
};

class FetchClient {
public:
    // Throws std::runtime_error when libcurl refuses the handle or an option
    // (the message names the option).
    explicit FetchClient(const FetchSettings& settings);
    FetchClient(const FetchClient&) = delete;
    FetchClient& operator=(const FetchClient&) = delete;

    // GET of `url` (HTTP/1.1). An answer the redirect limit stopped gives an
    // empty body.
    QByteArray Get(const QString& url);
    // POST of `body` as JSON to the search endpoint (HTTP/1.0 with keep-alive).
    QByteArray Post(const QByteArray& body);
    // The open connections are closed before the next request, which opens
    // a new one.
    void CloseConnection() { freshConnection_ = true; }

    // Whether this client was made with settings equal to `settings` in all
    // it takes from them (so that it may serve a worker with those).
    bool Serves(const FetchSettings& settings) const;
    // Whether the connections are still worth keeping: no failure since the
    // last request that went through.
    bool KeepsConnections() const { return !freshConnection_; }
    // Ready for another work item: every option as a new client sets it,
    // no cookies; only the open connections and the TLS sessions remain.
    // Throws std::runtime_error as the constructor does.
    void Renew();

private:
    void Configure();
    QByteArray Run(const QString& url);

    FetchSettings settings_;
    EasyHandle easy_;
    MultiHandle multi_;
    HeaderList getHeaders_;
    HeaderList postHeaders_;
    TlsMaterial tls_;
    bool extraCasLoaded_ = false;
    bool freshConnection_ = false;
    TransferState state_;
};

} // namespace net
