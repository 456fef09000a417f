#pragma once
// Test certificates, made once per test process with OpenSSL into a temporary
// folder that is removed at exit. All keys are EC P-256; all files are PEM.
//
//   const TestPki& pki = TestCertificates();
//   httplib::SSLServer server(pki.serverCert.c_str(), pki.serverKey.c_str());
//   settings.caFile = QString::fromStdString(pki.caCert);   // trust the test CA
//
// Nothing here is trusted by the system store, so a client that only trusts
// the system refuses every server certificate below.

#include <string>

struct TestPki {
    std::string folder;

    // The test CA that issued serverCert, wrongNameCert and clientCert.
    std::string caCert;
    // Server identity for "localhost" and 127.0.0.1, issued by the test CA.
    std::string serverCert;
    std::string serverKey;
    // Issued by the test CA for "wrong-name.invalid" only (host name mismatch).
    std::string wrongNameCert;
    std::string wrongNameKey;

    // A second CA, and a "localhost"/127.0.0.1 server identity it issued.
    std::string otherCaCert;
    std::string otherServerCert;
    std::string otherServerKey;

    // Client identity issued by the test CA: certificate, and its key
    // encrypted with kClientPassPhrase; the same key encrypted with another
    // pass phrase in clientKeyOtherPass.
    std::string clientCert;
    std::string clientKey;
    std::string clientKeyOtherPass;
    static constexpr const char* kClientPassPhrase = "quillfen";
};

// Generates the files at the first call (thread-safe); aborts the test
// process with a message when OpenSSL fails.
const TestPki& TestCertificates();
