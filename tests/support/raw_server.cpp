#include "support/raw_server.h"

#include "support/test_certs.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return std::string(text.substr(begin, end - begin));
}

const std::string* FindHeader(const std::vector<std::string>& lines, std::string_view name,
                              std::string& value) {
    for (const std::string& line : lines) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
            value = Trim(std::string_view(line).substr(colon + 1));
            return &line;
        }
    }
    return nullptr;
}

} // namespace

std::string RawRequest::RequestLine() const {
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> RawRequest::HeaderLines() const {
    std::vector<std::string> lines;
    size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const size_t end = head.find("\r\n", start);
        lines.push_back(head.substr(start, end == std::string::npos ? end : end - start));
        start = end;
    }
    return lines;
}

std::string RawRequest::Header(std::string_view name) const {
    std::string value;
    FindHeader(HeaderLines(), name, value);
    return value;
}

bool RawRequest::HasHeader(std::string_view name) const {
    std::string value;
    return FindHeader(HeaderLines(), name, value) != nullptr;
}

RawConnection::RawConnection(RawServer& server, int fd, void* ssl, int index)
    : server_(server), fd_(fd), ssl_(ssl), index_(index) {
    if (ssl_ != nullptr) {
        SSL* tls = static_cast<SSL*>(ssl_);
        const char* name = SSL_get_servername(tls, TLSEXT_NAMETYPE_host_name);
        sni_ = name != nullptr ? name : "";
        tlsVersion_ = SSL_get_version(tls);
    }
}

RawConnection::~RawConnection() = default;

int RawConnection::ReadSome(char* buffer, int size) {
    if (ssl_ != nullptr)
        return SSL_read(static_cast<SSL*>(ssl_), buffer, size);
    return static_cast<int>(::recv(fd_, buffer, static_cast<size_t>(size), 0));
}

bool RawConnection::ReadRequest(RawRequest& request, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t headEnd = std::string::npos;
    size_t wanted = std::string::npos; // head + blank line + body
    for (;;) {
        if (headEnd == std::string::npos) {
            headEnd = pending_.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                RawRequest head;
                head.head = pending_.substr(0, headEnd);
                const std::string length = head.Header("Content-Length");
                wanted = headEnd + 4 + (length.empty() ? 0 : std::stoul(length));
            }
        }
        if (wanted != std::string::npos && pending_.size() >= wanted) {
            request.head = pending_.substr(0, headEnd);
            request.body = pending_.substr(headEnd + 4, wanted - headEnd - 4);
            pending_.erase(0, wanted);
            server_.Record(request);
            return true;
        }
        if (server_.Stopping() || Clock::now() >= deadline)
            return false;
        const bool buffered = ssl_ != nullptr && SSL_pending(static_cast<SSL*>(ssl_)) > 0;
        if (!buffered) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
        }
        char chunk[16384];
        const int got = ReadSome(chunk, sizeof chunk);
        if (got <= 0)
            return false;
        pending_.append(chunk, static_cast<size_t>(got));
    }
}

bool RawConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20));
        const int sent = ssl_ != nullptr
                             ? SSL_write(static_cast<SSL*>(ssl_), bytes.data(), chunk)
                             : static_cast<int>(::send(fd_, bytes.data(),
                                                       static_cast<size_t>(chunk), MSG_NOSIGNAL));
        if (sent <= 0) {
            ERR_clear_error();
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

void RawConnection::Hold(int ms) {
    std::unique_lock lock(server_.mutex_);
    server_.stopped_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return server_.Stopping(); });
}

void RawConnection::Close() {
    ::shutdown(fd_, SHUT_RDWR);
    if (ssl_ != nullptr)
        SSL_set_quiet_shutdown(static_cast<SSL*>(ssl_), 1);
}

RawServer::RawServer(Handler handler, Mode mode) : handler_(std::move(handler)), mode_(mode) {
    std::signal(SIGPIPE, SIG_IGN);
    if (mode_ == Mode::Tls) {
        const TestPki& pki = TestCertificates();
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (ctx == nullptr ||
            SSL_CTX_use_certificate_chain_file(ctx, pki.serverCert.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, pki.serverKey.c_str(), SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            std::abort();
        }
        ctx_ = ctx;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("raw server");
        std::abort();
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_.store(true);
        for (int fd : openFds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    acceptThread_.join();
    // No thread is added any more once the accept loop has ended.
    for (std::thread& thread : threads_)
        thread.join();
    ::close(listenFd_);
    SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

std::string RawServer::Url(std::string_view path) const {
    return (mode_ == Mode::Tls ? "https://" : "http://") + HostPort() + std::string(path);
}

std::string RawServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<RawRequest> RawServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RawServer::Record(const RawRequest& request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
}

void RawServer::AcceptLoop() {
    while (!Stopping()) {
        pollfd waiting{listenFd_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int index = connections_.fetch_add(1);
        std::lock_guard lock(mutex_);
        if (Stopping()) {
            ::close(fd);
            break;
        }
        openFds_.push_back(fd);
        threads_.emplace_back([this, fd, index] { Serve(fd, index); });
    }
}

void RawServer::Serve(int fd, int index) {
    SSL* ssl = nullptr;
    bool ready = true;
    if (mode_ == Mode::Tls) {
        ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
        SSL_set_fd(ssl, fd);
        timeval limit{5, 0}; // a client that never completes the handshake
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ready = SSL_accept(ssl) == 1;
        ERR_clear_error();
    }
    if (ready) {
        RawConnection connection(*this, fd, ssl, index);
        handler_(connection);
        if (ssl != nullptr && SSL_get_quiet_shutdown(ssl) == 0)
            SSL_shutdown(ssl); // a clean end: the client may read to the close
    }
    {
        std::lock_guard lock(mutex_);
        openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    }
    SSL_free(ssl);
    ERR_clear_error();
    ::close(fd);
}
