#pragma once
// The fetch worker's HTTP client: one libcurl easy handle that keeps its
// cookies and its one connection for all the attempts of a work item, a GET
// of a URL or a POST of a search request body to the API host, each returning
// the body of a 2xx answer and throwing FetchError for anything else.

#include "net/curl_transfer.h"
#include "net/retry_wait.h"
#include "net/tls_material.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

struct FetchSettings;

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
    // POST of `body` as JSON to the search endpoint (HTTP/1.0 with keep-alive),
    // always on a new connection.
    QByteArray Post(const QByteArray& body);
    // The next request opens a new connection; the cache holds one
    // connection, so the old one is closed then.
    void CloseConnection() { freshConnection_ = true; }

private:
    QByteArray Run(const QString& url);

    QString apiHost_;
    QString caFile_;
    int readTimeoutMs_;
    qint64 maxBodyBytes_;
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
