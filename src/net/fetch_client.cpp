#include "net/fetch_client.h"

#include <utility>

namespace net {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:2.0) Gecko/20100101 Firefox/4.0";
constexpr const char* kAccept =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr const char* kSearchPath = "/api/v2/professionals:search";
constexpr long kConnectionsKept = 2;

bool IsHttps(const QString& url) {
    return url.startsWith(u"https://", Qt::CaseInsensitive);
}

// What a failed transfer says about the site, by curl's code.
FailureKind KindOf(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return FailureKind::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return FailureKind::TimedOut;
    case CURLE_GOT_NOTHING:       // closed before the answer
    case CURLE_PARTIAL_FILE:      // closed before the whole body
    case CURLE_RECV_ERROR:        // reset while reading
    case CURLE_SEND_ERROR:        // reset while sending
    case CURLE_SSL_CONNECT_ERROR: // TLS handshake cut
        return FailureKind::Dropped;
    default:
        return FailureKind::Other;
    }
}

} // namespace

FetchClient::FetchClient(const FetchSettings& settings)
    : settings_(settings), easy_(NewEasy()), multi_(NewMulti()),
      getHeaders_(MakeHeaders({kAccept})),
      postHeaders_(
          MakeHeaders({kAccept, "Connection: keep-alive", "Content-Type: application/json"})) {
    // One connection per host at most: a worker talks to one host at a time,
    // to the web host for pages and to the API host for searches.
    SetOption(multi_.get(), CURLMOPT_MAXCONNECTS, kConnectionsKept);
    state_.stallMs = settings_.readTimeoutMs;
    state_.stallWhileConnecting = false; // the connect time-out covers that
    state_.bodyLimit = settings_.maxBodyBytes;
    Configure();
}

bool FetchClient::Serves(const FetchSettings& settings) const {
    return settings.connectTimeoutMs == settings_.connectTimeoutMs &&
           settings.readTimeoutMs == settings_.readTimeoutMs &&
           settings.maxRedirects == settings_.maxRedirects &&
           settings.maxBodyBytes == settings_.maxBodyBytes &&
           settings.apiHost == settings_.apiHost && settings.caFile == settings_.caFile;
}

void FetchClient::Renew() {
    // The options Configure set never change, and every request sets its own
    // (method, version, headers, URL) before it runs, so only the cookies are
    // emptied. No curl_easy_reset: libcurl 7.88 loses the handle's pending
    // cookie file list there (a leak per reuse). The connections live in the
    // multi handle and are not touched.
    SetOption(easy_.get(), CURLOPT_COOKIELIST, "ALL");
}

// Every option of the easy handle that does not change per request.
void FetchClient::Configure() {
    CURL* easy = easy_.get();
    InstallCallbacks(easy, state_);

    // Identity: the browser the site expects; bodies arrive compressed and
    // are inflated by curl; cookies live in this handle only.
    SetOption(easy, CURLOPT_USERAGENT, kUserAgent);
    SetOption(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    SetOption(easy, CURLOPT_COOKIEFILE, ""); // the cookie engine, without a file

    // Redirects: at most maxRedirects followed, the next one is the final
    // answer (read as an empty body); 301 and 302 keep a POST a POST, 303
    // turns it into a GET; never to anything but HTTP(S).
    SetOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(easy, CURLOPT_MAXREDIRS, static_cast<long>(settings_.maxRedirects));
    SetOption(easy, CURLOPT_POSTREDIR,
              static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    // Time-outs: the connection with its handshake here; the read time-out
    // is the stall clock of the transfer (no data for readTimeoutMs). No
    // signals: curl runs on many threads at once.
    SetOption(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeoutMs));
    SetOption(easy, CURLOPT_NOSIGNAL, 1L);

    // TLS: any version up to 1.2, server certificates verified against the
    // system's CAs plus the extra CA file; sessions resumed across workers.
    SetOption(easy, CURLOPT_SSLVERSION,
              static_cast<long>(CURL_SSLVERSION_DEFAULT) |
                  static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    SetOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    SetOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    tls_.Install(easy);
    ShareTlsSessions(easy, settings_.caFile);
}

QByteArray FetchClient::Get(const QString& url) {
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_HTTPGET, 1L);
    // Debian's libcurl would otherwise take HTTP/2 where a server offers it.
    SetOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    SetOption(easy, CURLOPT_HTTPHEADER, getHeaders_.get());
    return Run(url);
}

QByteArray FetchClient::Post(const QByteArray& body) {
    CURL* easy = easy_.get();
    SetOption(easy, CURLOPT_POSTFIELDS, body.constData());
    SetOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    SetOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    SetOption(easy, CURLOPT_HTTPHEADER, postHeaders_.get());
    return Run(QStringLiteral("https://") + settings_.apiHost + QLatin1String(kSearchPath));
}

QByteArray FetchClient::Run(const QString& url) {
    if (IsHttps(url) && !extraCasLoaded_) {
        if (!settings_.caFile.isEmpty())
            tls_.LoadExtraCaFile(settings_.caFile);
        extraCasLoaded_ = true;
    }
    if (freshConnection_) {
        // A new connection cache: the old one closes what it held.
        MultiHandle fresh = NewMulti();
        SetOption(fresh.get(), CURLMOPT_MAXCONNECTS, kConnectionsKept);
        multi_ = std::move(fresh);
        freshConnection_ = false;
    }
    const std::string address = url.toStdString();
    SetOption(easy_.get(), CURLOPT_URL, address.c_str());
    QByteArray body;
    state_.body = &body;
    const CURLcode code = Perform(multi_.get(), easy_.get(), state_);
    state_.body = nullptr;
    long status = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (state_.stalled)
        throw FetchError("Read timed out: no data for " + std::to_string(settings_.readTimeoutMs) +
                             " ms",
                         status, FailureKind::TimedOut);
    if (state_.overLimit)
        throw FetchError(BodyLimitMessage(settings_.maxBodyBytes), status, FailureKind::Other);
    if (code == CURLE_TOO_MANY_REDIRECTS)
        return {}; // the last redirect answer is the final one; its body is not kept
    if (code != CURLE_OK)
        throw FetchError(CurlMessage(code, state_), status, KindOf(code));
    if (status < 200 || status > 299) {
        // Seconds, from either form of the header (curl reads an HTTP date too).
        curl_off_t retryAfter = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RETRY_AFTER, &retryAfter);
        throw FetchError(state_.statusLine.empty() ? "HTTP status " + std::to_string(status)
                                                   : state_.statusLine,
                         status, FailureKind::Answered, static_cast<long>(retryAfter));
    }
    return body;
}

} // namespace net
