#pragma once
// Pieces shared by the page client and the fetch worker: owning wrappers for
// libcurl and OpenSSL objects, the TLS material added to every connection
// (extra trusted CAs, an optional client identity), and one transfer driven
// through a private multi handle so that stalls and aborts are noticed within
// a short tick instead of curl's one-second progress rhythm.

#include <QByteArray>
#include <QString>

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace net {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// Creates the handles; throws std::runtime_error when libcurl cannot.
EasyHandle NewEasy();
MultiHandle NewMulti();
HeaderList MakeHeaders(const std::vector<std::string>& lines);

// Lets the connections of `easy` resume the TLS sessions that connections of
// other handles made, one session cache per extra CA file (`caFile`, empty
// for none) for the whole process. Only for handles without a client
// identity: a resumed session is not verified again.
void ShareTlsSessions(CURL* easy, const QString& caFile);

// Certificates and keys added to the TLS context of each connection. The
// system trust store stays in place; extra CAs extend it.
class TlsMaterial {
public:
    // Reads every certificate of a PEM file as an extra trusted CA. Throws
    // std::runtime_error naming the file.
    void LoadExtraCaFile(const QString& path);
    // Reads the pass-phrase protected private key, then the certificate chain
    // (the client's certificate first). Throws std::runtime_error naming the
    // failing file; nothing is kept unless both were read.
    void LoadClientIdentity(const QString& keyFile, const QString& certFile,
                            const QByteArray& passPhrase);
    bool HasClientIdentity() const { return key_ != nullptr; }

    // Installs CURLOPT_SSL_CTX_FUNCTION with this object as its data. The
    // object must outlive the handle's transfers. Connections trust one
    // process-wide store per CA file (the system's CAs plus the file's), so
    // the system bundle is read once, not for every connection.
    void Install(CURL* easy) const;

private:
    static CURLcode Apply(CURL* easy, void* sslCtx, void* self);

    std::string caFile_; // the extra CA file read, if any
    std::vector<X509Ptr> extraCas_;
    PkeyPtr key_;
    std::vector<X509Ptr> chain_; // [0] is the client's own certificate
};

// What one transfer sees and collects. The callbacks run on the thread that
// performs the transfer.
struct TransferState {
    QByteArray* body = nullptr; // receives the body of the current answer
    qsizetype bodyStart = 0;    // size of `body` when this transfer began
    qint64 bodyLimit = 0;       // the most bytes one answer's body may have
    std::string statusLine;     // first line of the latest answer head

    // No data sent or received for this long fails the transfer (0: never).
    int stallMs = 0;
    // Whether the stall clock runs while the connection is being made; when
    // not, the connect time-out alone governs that phase.
    bool stallWhileConnecting = true;
    const std::atomic<bool>* abort = nullptr; // checked every tick when set

    // Outcome flags beside curl's own result.
    bool overLimit = false;
    bool stalled = false;
    bool aborted = false;

    // Internal bookkeeping of the callbacks.
    bool connecting = true;
    std::chrono::steady_clock::time_point lastActivity;
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    void Touch() { lastActivity = std::chrono::steady_clock::now(); }
};

// Points the write, header, progress and connection callbacks and the error
// buffer of `easy` at `state`.
void InstallCallbacks(CURL* easy, TransferState& state);

// Runs one transfer of `easy` inside `multi`, waking at least every `tickMs`
// to check the stall clock and the abort flag; a stall or an abort removes
// the transfer (closing its connection) and returns CURLE_OPERATION_TIMEDOUT
// or CURLE_ABORTED_BY_CALLBACK with `state.stalled` / `state.aborted` set.
CURLcode Perform(CURLM* multi, CURL* easy, TransferState& state, int tickMs = 50);

// curl's description of a failed transfer: the error buffer when it holds
// one, otherwise the generic text of the code.
std::string CurlMessage(CURLcode code, const TransferState& state);

// The reason phrase of a status line ("HTTP/1.1 404 Not Found" gives
// "Not Found"); empty when the line has none.
std::string ReasonPhrase(const std::string& statusLine);

// The error text of a body cut off at `limit` bytes. Encoded bodies are
// inflated before they reach the write callback, so the limit counts
// inflated bytes.
std::string BodyLimitMessage(qint64 limit);

} // namespace net
