#pragma once
// One HTTP transfer as both clients run it: owning wrappers for libcurl's
// handles, checked option setting, and one transfer driven through a private
// multi handle so that stalls and aborts are noticed within a short tick
// instead of curl's one-second progress rhythm.

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <memory>
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
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// Creates the handles; throws std::runtime_error when libcurl cannot.
EasyHandle NewEasy();
MultiHandle NewMulti();
HeaderList MakeHeaders(const std::vector<std::string>& lines);

// Throws std::runtime_error naming the option with curl's reason ("Cannot set
// CURLOPT_X: ...") unless `code` is OK.
void ThrowIfRefused(CURLcode code, CURLoption option);
void ThrowIfRefused(CURLMcode code, CURLMoption option);

// Sets an option through ThrowIfRefused, so that an option the installed
// libcurl refuses is never dropped without a word. The value goes to curl as
// given: pass the type curl documents for the option (long, curl_off_t, a
// pointer, a callback).
template <typename T> void SetOption(CURL* easy, CURLoption option, T value) {
    ThrowIfRefused(curl_easy_setopt(easy, option, value), option);
}
template <typename T> void SetOption(CURLM* multi, CURLMoption option, T value) {
    ThrowIfRefused(curl_multi_setopt(multi, option, value), option);
}

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
