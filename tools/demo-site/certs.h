#pragma once
// The demo site's own certificate authority and server certificate, made once
// in a folder and reused by later starts.

#include <string>

namespace demo {

struct CertFiles {
    std::string dir;
    std::string caCert;     // <dir>/ca.pem: what clients trust
    std::string caKey;      // <dir>/ca-key.pem
    std::string serverCert; // <dir>/server.pem: certificate, then the CA
    std::string serverKey;  // <dir>/server-key.pem
};

// Makes sure `dir` holds a CA and a server certificate for localhost,
// 127.0.0.1 and ::1 signed by it, creating the folder and whatever is missing,
// unreadable or expired. Several processes may do this at once on one folder:
// a lock file serialises them. False with `error` set on failure.
bool EnsureCertificates(const std::string& dir, CertFiles* files, std::string* error);

// Writes <outDir>/01cert.pem (a client certificate signed by the CA of
// `files`, followed by the CA) and <outDir>/01key.pem (its private key as
// encrypted PKCS#8 PEM, opened by `passPhrase`).
bool MakeClientCertificate(const CertFiles& files, const std::string& outDir,
                           const std::string& passPhrase, std::string* error);

} // namespace demo
