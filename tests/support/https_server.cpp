#include "support/https_server.h"

#include "support/test_certs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

LocalHttpsServer::LocalHttpsServer(const std::string& certFile, const std::string& keyFile,
                                   const std::string& clientCaFile) {
    const TestPki& pki = TestCertificates();
    const std::string cert = certFile.empty() ? pki.serverCert : certFile;
    const std::string key = keyFile.empty() ? pki.serverKey : keyFile;
    server_ = std::make_unique<httplib::SSLServer>(
        cert.c_str(), key.c_str(), clientCaFile.empty() ? nullptr : clientCaFile.c_str());
    if (!server_->is_valid()) {
        std::fprintf(stderr, "https test server: invalid TLS setup\n");
        std::abort();
    }
    server_->set_keep_alive_timeout(1);
}

LocalHttpsServer::~LocalHttpsServer() {
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

void LocalHttpsServer::Start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        std::fprintf(stderr, "https test server: cannot bind\n");
        std::abort();
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
