#pragma once
// The page client: whole documents over HTTP(S), fetched synchronously on the
// window thread while the window keeps processing its events.
//
// Each Get runs on a helper thread while the calling thread spins a local
// event loop. Requests are HTTP/1.0 with exactly the Accept, User-Agent and
// Host header lines (curl writes Host first; HTTP gives no meaning to the
// order of differently named fields), no cookies, no content encoding.
// Relocations are followed up to five times; the sixth relocation answer is
// the final one. The server's certificate and host name are verified against
// the system trust store plus the CA file of the settings. For https the
// client identity "01cert.pem" / "01key.pem" is read from the current
// directory at the first https Get and presented when a server asks for it.

#include "core/config.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct PageClientSettings {
    // No data sent or received for this long abandons the request.
    int timeoutMs = 120000;
    int maxRelocations = 5;
    // The most bytes one Get may add to the buffer.
    qint64 maxBodyBytes = 64LL * 1024 * 1024;
    // PEM file of extra trusted CA certificates; empty for the system store only.
    QString caFile = Config().CaFile;
};

class TPageClient {
public:
    TPageClient();
    explicit TPageClient(const PageClientSettings& settings);
    ~TPageClient();
    TPageClient(const TPageClient&) = delete;
    TPageClient& operator=(const TPageClient&) = delete;

    // Performs one GET and appends the final answer's body to the buffer.
    // Throws std::runtime_error (UTF-8 message) when the request fails, when
    // the final status is 400 or more other than 401/407 (the message is the
    // reason phrase), "Request aborted on timeout" after the time-out without
    // data, and "Request aborted" when the application is asked to quit
    // meanwhile (the quit still takes effect). Whatever part of a body
    // arrived before an error stays in the buffer. Not re-entrant.
    void Get(const QString& address);

    void Clear();
    // The buffer decoded as UTF-8 (invalid bytes give U+FFFD).
    QString BodyText() const;
    const QByteArray& Buffer() const { return buffer_; }

    // File names and pass phrase of the client identity, read from the
    // current directory.
    static constexpr const char* kCertFile = "01cert.pem";
    static constexpr const char* kKeyFile = "01key.pem";
    static constexpr const char* kPassPhrase = "quillfen";

private:
    struct Tls;
    PageClientSettings settings_;
    QByteArray buffer_;
    std::unique_ptr<Tls> tls_; // set up at the first https Get
    bool busy_ = false;
};
