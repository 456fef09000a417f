#pragma once
// A cpp-httplib HTTPS server on 127.0.0.1 (a free port) serving the test
// PKI's server identity, listening on its own thread.
//
//   LocalHttpsServer server;
//   server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& res) {
//       res.set_content("hello", "text/html");
//   });
//   server.Start();
//   ... fetch server.Url("/page") ...
//
// Register routes before Start(); the destructor stops the server and waits
// for its thread. Note that cpp-httplib gzips text bodies itself when the
// client accepts gzip.

#include <httplib.h>

#include <memory>
#include <string>
#include <string_view>
#include <thread>

class LocalHttpsServer {
public:
    // Empty file names take the test PKI's server certificate and key. With a
    // client CA file the server requires a client certificate issued by it.
    explicit LocalHttpsServer(const std::string& certFile = {}, const std::string& keyFile = {},
                              const std::string& clientCaFile = {});
    ~LocalHttpsServer();
    LocalHttpsServer(const LocalHttpsServer&) = delete;
    LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;

    httplib::Server& Routes() { return *server_; }
    void Start(); // binds, listens, returns once the server accepts connections

    int Port() const { return port_; }
    // Handshakes that resumed an earlier TLS session of a client.
    long SessionsResumed() const { return SSL_CTX_sess_hits(server_->ssl_context()); }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Url(std::string_view path) const {
        return "https://" + HostPort() + std::string(path);
    }

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
};
