#include "net/fetch_worker.h"

#include "text/extract.h"

#include "net/curl_transfer.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:2.0) Gecko/20100101 Firefox/4.0";
constexpr const char* kAccept =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr const char* kSearchPath = "/api/v2/professionals:search";

bool IsHttps(const QString& url) {
    return url.startsWith(u"https://", Qt::CaseInsensitive);
}

bool BlankBody(const QByteArray& body) {
    for (const char byte : body) {
        if (static_cast<unsigned char>(byte) > 32)
            return false;
    }
    return true;
}

} // namespace

namespace net {

// A failed request; `status` is the answer's status code when one arrived.
struct FetchError : std::runtime_error {
    FetchError(const std::string& message, long status)
        : std::runtime_error(message), status(status) {}
    long status;
};

// One worker's HTTP client: one easy handle (so its cookies last for all
// attempts and redirect hops and die with it) driven through its own multi
// handle.
class FetchClient {
public:
    explicit FetchClient(const FetchSettings& settings)
        : settings_(settings), easy_(NewEasy()), multi_(NewMulti()),
          getHeaders_(MakeHeaders({kAccept})),
          postHeaders_(
              MakeHeaders({kAccept, "Connection: keep-alive", "Content-Type: application/json"})) {
        CURL* easy = easy_.get();
        curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L);
        state_.stallMs = settings_.readTimeoutMs;
        state_.stallWhileConnecting = false;
        state_.bodyLimit = settings_.maxBodyBytes;
        InstallCallbacks(easy, state_);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, ""); // cookie engine, no file
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(settings_.maxRedirects));
        curl_easy_setopt(easy, CURLOPT_POSTREDIR,
                         static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(settings_.connectTimeoutMs));
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_DEFAULT) |
                             static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        tls_.Install(easy);
        ShareTlsSessions(easy, settings_.caFile);
    }
    FetchClient(const FetchClient&) = delete;
    FetchClient& operator=(const FetchClient&) = delete;

    QByteArray Get(const QString& url) {
        CURL* easy = easy_.get();
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, getHeaders_.get());
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, freshConnection_ ? 1L : 0L);
        return Run(url);
    }

    // Always on a new connection.
    QByteArray Post(const QByteArray& body) {
        CURL* easy = easy_.get();
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, postHeaders_.get());
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        return Run(QStringLiteral("https://") + settings_.apiHost + QLatin1String(kSearchPath));
    }

    // The next request opens a new connection; the cache holds one connection,
    // so the old one is closed then.
    void CloseConnection() { freshConnection_ = true; }

private:
    QByteArray Run(const QString& url) {
        if (IsHttps(url) && !extraCasLoaded_) {
            if (!settings_.caFile.isEmpty())
                tls_.LoadExtraCaFile(settings_.caFile);
            extraCasLoaded_ = true;
        }
        freshConnection_ = false;
        const std::string address = url.toStdString();
        curl_easy_setopt(easy_.get(), CURLOPT_URL, address.c_str());
        QByteArray body;
        state_.body = &body;
        const CURLcode code = Perform(multi_.get(), easy_.get(), state_);
        state_.body = nullptr;
        long status = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        if (state_.stalled)
            throw FetchError("Read timed out: no data for " +
                                 std::to_string(settings_.readTimeoutMs) + " ms",
                             status);
        if (state_.overLimit)
            throw FetchError(BodyLimitMessage(settings_.maxBodyBytes), status);
        if (code == CURLE_TOO_MANY_REDIRECTS)
            return {}; // the last redirect answer is the final one; its body is not kept
        if (code != CURLE_OK)
            throw FetchError(CurlMessage(code, state_), status);
        if (status < 200 || status > 299)
            throw FetchError(state_.statusLine.empty() ? "HTTP status " + std::to_string(status)
                                                       : state_.statusLine,
                             status);
        return body;
    }

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

std::mutex& WorkerListsLock() {
    static std::mutex lock;
    return lock;
}

bool IsSearchRequest(QStringView item) {
    return item.startsWith(u"{\"filter\"");
}

QByteArray SearchPostBody(const QString& item) {
    const QStringView body = TrimControl(item);
    QByteArray bytes;
    bytes.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char16_t c = body[i].unicode();
        if (c == u'\r' || c == u'\n') {
            bytes.append('&');
            if (c == u'\r' && i + 1 < body.size() && body[i + 1] == u'\n')
                ++i; // CR LF is one line break
        } else {
            bytes.append(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    return bytes;
}

void TScrapingThread2::Execute() {
    // Every way out passes through the hand-over, then releases the client.
    std::unique_ptr<net::FetchClient> client;
    std::exception_ptr escaped;
    try {
        client = std::make_unique<net::FetchClient>(settings);
        RunAttempts(*client);
    } catch (const std::exception& error) {
        escaped = std::current_exception();
        if (result == 0 && statusText.isEmpty()) {
            // The client could not even be built: report it as a failure.
            result = -1;
            statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
        }
    } catch (...) {
        escaped = std::current_exception();
    }
    HandOver();
    client.reset();
    if (escaped)
        std::rethrow_exception(escaped); // ends the thread quietly
}

void TScrapingThread2::RunAttempts(net::FetchClient& client) {
    result = 0;
    const bool search = IsSearchRequest(url);
    const QByteArray searchBody = search ? SearchPostBody(url) : QByteArray();
    for (int attempt = 1;; ++attempt) {
        html.clear();
        if (Terminated())
            return;
        bool lastAttempt = attempt >= settings.maxAttempts;
        try {
            QByteArray body = search ? client.Post(searchBody) : client.Get(url);
            if (Terminated())
                return; // a stopped worker keeps no body
            html = std::move(body);
            if (BlankBody(html)) {
                statusText = QStringLiteral("ERROR_Empty response1 for ") + url;
                result = -1;
                client.CloseConnection();
            } else {
                result = 1;
                statusText = QStringLiteral("успешно");
                return;
            }
        } catch (const net::FetchError& error) {
            result = -1;
            statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
            client.CloseConnection();
            if (error.status == 404)
                lastAttempt = true;
        } catch (const std::exception& error) {
            result = -1;
            statusText = QStringLiteral("ERROR ") + QString::fromUtf8(error.what());
            client.CloseConnection();
        }
        if (lastAttempt)
            return;
    }
}

void TScrapingThread2::HandOver() {
    // Local references keep the lists alive until the lock is released, even
    // when the run has abandoned them.
    const std::shared_ptr<WorkerList> running = RunningList;
    const std::shared_ptr<WorkerList> finished = FinishedList;
    const auto self = std::static_pointer_cast<TScrapingThread2>(shared_from_this());
    {
        std::lock_guard lock(WorkerListsLock());
        if (running) {
            for (auto it = running->begin(); it != running->end(); ++it) {
                if (*it == self) {
                    running->erase(it);
                    break;
                }
            }
        }
        if (finished)
            finished->push_back(self);
    }
    // Abandoned lists would otherwise hold this worker and be held by it.
    RunningList.reset();
    FinishedList.reset();
}
