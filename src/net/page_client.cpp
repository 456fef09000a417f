#include "net/page_client.h"

#include "net/curl_transfer.h"
#include "net/tls_material.h"
#include "text/html_text.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <exception>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kAccept = "Accept: text/html, */*";
constexpr const char* kUserAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.22 (KHTML, like Gecko) "
    "Chrome/25.0.1364.152 Safari/537.22";

bool IsHttps(const std::string& url) {
    return url.size() >= 8 && QByteArray::fromStdString(url.substr(0, 8)).toLower() == "https://";
}

// Runs the transfer on a helper thread while this thread keeps dispatching its
// events. A quit request (QCoreApplication::exit/quit, which end every running
// event loop of the thread and stay in force for the outer ones) ends the wait
// early: the transfer is aborted and `state.aborted` is set.
CURLcode PerformWhileDispatching(CURLM* multi, CURL* easy, net::TransferState& state,
                                 std::atomic<bool>& abort) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread())
        return net::Perform(multi, easy, state);

    // QEventLoop::exec drops Quit events posted before it starts; deliver any
    // now so that such a quit takes effect (and so ends this wait at once).
    QCoreApplication::sendPostedEvents(app, QEvent::Quit);

    QEventLoop loop;
    bool finished = false;
    CURLcode result = CURLE_OK;
    std::exception_ptr error;
    std::thread helper([&] {
        try {
            result = net::Perform(multi, easy, state);
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                finished = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    loop.exec();
    const bool quitRequested = !finished;
    if (quitRequested) {
        abort.store(true);
        curl_multi_wakeup(multi);
    }
    helper.join();
    if (error)
        std::rethrow_exception(error);
    if (quitRequested)
        state.aborted = true;
    return result;
}

} // namespace

struct TPageClient::Tls {
    net::TlsMaterial material;
};

TPageClient::TPageClient() : TPageClient(PageClientSettings{}) {}

TPageClient::TPageClient(const PageClientSettings& settings) : settings_(settings) {}

TPageClient::~TPageClient() = default;

void TPageClient::Clear() {
    buffer_.clear();
}

QString TPageClient::BodyText() const {
    return StreamToText(buffer_);
}

void TPageClient::Get(const QString& address) {
    if (busy_)
        throw std::runtime_error("A request of this page client is still running");
    busy_ = true;
    const auto notBusy = qScopeGuard([this] { busy_ = false; });

    net::EasyHandle easyHandle = net::NewEasy();
    net::MultiHandle multiHandle = net::NewMulti();
    CURL* easy = easyHandle.get();

    QByteArray received;
    std::atomic<bool> abort{false};
    net::TransferState state;
    state.body = &received;
    state.bodyLimit = settings_.maxBodyBytes;
    state.stallMs = settings_.timeoutMs;
    state.stallWhileConnecting = true;
    state.abort = &abort;
    net::InstallCallbacks(easy, state);

    const net::HeaderList headers = net::MakeHeaders({kAccept, kUserAgent});
    net::SetOption(easy, CURLOPT_HTTPHEADER, headers.get());
    net::SetOption(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    net::SetOption(easy, CURLOPT_FOLLOWLOCATION, 0L);
    net::SetOption(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    net::SetOption(easy, CURLOPT_NOSIGNAL, 1L);
    net::SetOption(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    net::SetOption(easy, CURLOPT_SSL_VERIFYHOST, 2L);

    // Whatever arrived stays in the buffer, whichever way this Get ends.
    const auto keep = qScopeGuard([&] { buffer_.append(received); });

    std::string current = address.toStdString();
    int relocations = 0;
    for (;;) {
        if (IsHttps(current)) {
            if (!tls_) {
                auto tls = std::make_unique<Tls>();
                tls->material.LoadClientIdentity(QString::fromLatin1(kKeyFile),
                                                 QString::fromLatin1(kCertFile), kPassPhrase);
                if (!settings_.caFile.isEmpty())
                    tls->material.LoadExtraCaFile(settings_.caFile);
                tls_ = std::move(tls);
            }
            tls_->material.Install(easy);
        }
        net::SetOption(easy, CURLOPT_URL, current.c_str());
        const qsizetype answerStart = received.size();
        const CURLcode code = PerformWhileDispatching(multiHandle.get(), easy, state, abort);
        if (state.aborted)
            throw std::runtime_error("Request aborted");
        if (state.stalled)
            throw std::runtime_error("Request aborted on timeout");
        if (state.overLimit)
            throw std::runtime_error(net::BodyLimitMessage(settings_.maxBodyBytes));
        if (code != CURLE_OK)
            throw std::runtime_error(net::CurlMessage(code, state));

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        const char* location = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
        if (location != nullptr && relocations < settings_.maxRelocations) {
            received.truncate(answerStart); // a followed relocation leaves no body
            current = location;
            ++relocations;
            continue;
        }
        if (status >= 400 && status != 401 && status != 407)
            throw std::runtime_error(net::ReasonPhrase(state.statusLine));
        return;
    }
}
