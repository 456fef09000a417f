#include "net/curl_transfer.h"

#include <cstdio>
#include <stdexcept>

namespace net {

namespace {

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto& state = *static_cast<TransferState*>(user);
    const size_t bytes = size * count;
    state.Touch();
    const qint64 room = state.bodyLimit - (state.body->size() - state.bodyStart);
    if (state.bodyLimit > 0 && static_cast<qint64>(bytes) > room) {
        // Keep what fits, then fail the transfer (curl: CURLE_WRITE_ERROR).
        state.body->append(data, static_cast<qsizetype>(room));
        state.overLimit = true;
        return 0;
    }
    state.body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* user) {
    auto& state = *static_cast<TransferState*>(user);
    const size_t bytes = size * count;
    state.Touch();
    std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer head: whatever an earlier answer of this transfer left
        // in the body (an interim or a followed redirect answer) is not its body.
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        state.statusLine = line;
        state.body->truncate(state.bodyStart);
    }
    return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& state = *static_cast<TransferState*>(user);
    if (down != state.lastDown || up != state.lastUp) {
        state.lastDown = down;
        state.lastUp = up;
        state.Touch();
    }
    return 0;
}

// A socket is about to connect: the connect time-out governs from here.
int SocketCreated(void* user, curl_socket_t, curlsocktype) {
    static_cast<TransferState*>(user)->connecting = true;
    return CURL_SOCKOPT_OK;
}

// The connection is ready and the request is about to go out.
int RequestReady(void* user, char*, char*, int, int) {
    auto& state = *static_cast<TransferState*>(user);
    state.connecting = false;
    state.Touch();
    return CURL_PREREQFUNC_OK;
}

// "CURLOPT_X" for an option of the installed libcurl, else its number.
std::string OptionName(CURLoption option) {
    const curl_easyoption* known = curl_easy_option_by_id(option);
    return known != nullptr ? std::string("CURLOPT_") + known->name
                            : "option " + std::to_string(static_cast<int>(option));
}

} // namespace

void ThrowIfRefused(CURLcode code, CURLoption option) {
    if (code != CURLE_OK)
        throw std::runtime_error("Cannot set " + OptionName(option) + ": " +
                                 curl_easy_strerror(code));
}

void ThrowIfRefused(CURLMcode code, CURLMoption option) {
    if (code != CURLM_OK)
        throw std::runtime_error("Cannot set multi option " +
                                 std::to_string(static_cast<int>(option)) + ": " +
                                 curl_multi_strerror(code));
}

EasyHandle NewEasy() {
    EasyHandle easy(curl_easy_init());
    if (!easy)
        throw std::runtime_error("Cannot create an HTTP client");
    return easy;
}

MultiHandle NewMulti() {
    MultiHandle multi(curl_multi_init());
    if (!multi)
        throw std::runtime_error("Cannot create an HTTP client");
    return multi;
}

HeaderList MakeHeaders(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (longer == nullptr) {
            curl_slist_free_all(list);
            throw std::runtime_error("Out of memory building request headers");
        }
        list = longer;
    }
    return HeaderList(list);
}

void InstallCallbacks(CURL* easy, TransferState& state) {
    SetOption(easy, CURLOPT_WRITEFUNCTION, &WriteBody);
    SetOption(easy, CURLOPT_WRITEDATA, &state);
    SetOption(easy, CURLOPT_HEADERFUNCTION, &WriteHeader);
    SetOption(easy, CURLOPT_HEADERDATA, &state);
    SetOption(easy, CURLOPT_NOPROGRESS, 0L);
    SetOption(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
    SetOption(easy, CURLOPT_XFERINFODATA, &state);
    SetOption(easy, CURLOPT_SOCKOPTFUNCTION, &SocketCreated);
    SetOption(easy, CURLOPT_SOCKOPTDATA, &state);
    SetOption(easy, CURLOPT_PREREQFUNCTION, &RequestReady);
    SetOption(easy, CURLOPT_PREREQDATA, &state);
    SetOption(easy, CURLOPT_ERRORBUFFER, state.errorBuffer);
}

CURLcode Perform(CURLM* multi, CURL* easy, TransferState& state, int tickMs) {
    using Clock = std::chrono::steady_clock;
    state.bodyStart = state.body->size();
    state.statusLine.clear();
    state.overLimit = state.stalled = state.aborted = false;
    state.connecting = true;
    state.lastDown = state.lastUp = 0;
    state.errorBuffer[0] = '\0';
    state.Touch();

    CURLMcode added = curl_multi_add_handle(multi, easy);
    if (added != CURLM_OK)
        throw std::runtime_error(std::string("Cannot start the request: ") +
                                 curl_multi_strerror(added));
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi, &running);
        if (performed != CURLM_OK) {
            std::snprintf(state.errorBuffer, sizeof state.errorBuffer, "%s",
                          curl_multi_strerror(performed));
            result = CURLE_RECV_ERROR;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                result = message->data.result;
                done = true;
            }
        }
        if (done)
            break;
        if (state.abort != nullptr && state.abort->load()) {
            state.aborted = true;
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (state.stallMs > 0 && (state.stallWhileConnecting || !state.connecting) &&
            Clock::now() - state.lastActivity >= std::chrono::milliseconds(state.stallMs)) {
            state.stalled = true;
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, tickMs, nullptr);
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(multi, easy);
    return result;
}

std::string CurlMessage(CURLcode code, const TransferState& state) {
    if (state.errorBuffer[0] != '\0')
        return state.errorBuffer;
    return curl_easy_strerror(code);
}

std::string ReasonPhrase(const std::string& statusLine) {
    // "HTTP/x.y SP code SP reason"
    const size_t firstSpace = statusLine.find(' ');
    if (firstSpace == std::string::npos)
        return {};
    const size_t secondSpace = statusLine.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos)
        return {};
    return statusLine.substr(secondSpace + 1);
}

std::string BodyLimitMessage(qint64 limit) {
    return "Response body larger than " + std::to_string(limit) + " bytes";
}

} // namespace net
