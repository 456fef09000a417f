#pragma once
// A byte-level test server on 127.0.0.1 (a free port), for cases an HTTP
// library cannot produce: exact request bytes on the wire, partial bodies,
// silence, early closes, the TLS version and server name a client asked for.
//
// Every accepted connection runs `handler` on its own thread; in TLS mode the
// handshake (test PKI server certificate, any TLS version) is done first and a
// failed handshake never reaches the handler. The destructor stops accepting,
// wakes connections waiting in Hold or ReadRequest and joins every thread.
//
//   RawServer server([](RawConnection& c) {
//       RawRequest request;
//       if (c.ReadRequest(request))
//           c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
//   });
//   ... fetch server.Url("/page") ...
//   server.Requests()[0].RequestLine();   // "GET /page HTTP/1.1"
//
// SIGPIPE is ignored in the process once a server exists (writes to a closed
// peer fail instead of killing the test).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One request as it arrived.
struct RawRequest {
    std::string head; // request line and header lines, CRLF-separated, without the blank line
    std::string body; // Content-Length bytes after the head

    std::string RequestLine() const;
    std::vector<std::string> HeaderLines() const; // in wire order, without CRLF
    // Value of the first header of that name (case-insensitive), trimmed; ""
    // when absent. HasHeader tells an empty value from an absent header.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

class RawServer;

class RawConnection {
public:
    // Reads the next request (head, then a Content-Length body). False when the
    // peer closed, the server stops, or nothing complete came in `timeoutMs`.
    // Read requests are also recorded on the server (RawServer::Requests).
    bool ReadRequest(RawRequest& request, int timeoutMs = 5000);
    // Sends bytes; false when the peer is gone.
    bool Send(std::string_view bytes);
    // Stays silent for `ms`, returning early when the server stops.
    void Hold(int ms);
    // Closes the connection now (without a TLS close notice: an abrupt end).
    void Close();

    int Index() const { return index_; }                   // 0 for the first connection
    std::string ServerName() const { return sni_; }        // SNI the client sent, "" if none
    std::string TlsVersion() const { return tlsVersion_; } // "TLSv1.2", "" when plain

private:
    friend class RawServer;
    RawConnection(RawServer& server, int fd, void* ssl, int index);
    ~RawConnection();
    int ReadSome(char* buffer, int size);

    RawServer& server_;
    int fd_;
    void* ssl_; // SSL*, null in plain mode
    int index_;
    std::string sni_;
    std::string tlsVersion_;
    std::string pending_; // bytes read past the last request
};

class RawServer {
public:
    enum class Mode { Tls, Plain };
    using Handler = std::function<void(RawConnection&)>;

    explicit RawServer(Handler handler, Mode mode = Mode::Tls);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int Port() const { return port_; }
    // "https://127.0.0.1:PORT" + path (http:// in plain mode).
    std::string Url(std::string_view path) const;
    // "127.0.0.1:PORT"
    std::string HostPort() const;
    int Connections() const { return connections_.load(); }
    std::vector<RawRequest> Requests() const;

private:
    friend class RawConnection;
    void AcceptLoop();
    void Serve(int fd, int index);
    void Record(const RawRequest& request);
    bool Stopping() const { return stopping_.load(); }

    Handler handler_;
    Mode mode_;
    void* ctx_ = nullptr; // SSL_CTX*
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    std::vector<RawRequest> requests_;
    std::vector<int> openFds_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};
