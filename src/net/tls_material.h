#pragma once
// The TLS material added to every connection of both HTTP clients: the trust
// stores (the system's CAs plus extra ones), an optional client identity, and
// the process-wide TLS session caches that let connections resume each
// other's sessions.

#include <QByteArray>
#include <QString>

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

namespace net {

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// Lets the connections of `easy` resume the TLS sessions that connections of
// other handles made, one session cache per extra CA file (`caFile`, empty
// for none) for the whole process. Only for handles without a client
// identity: a resumed session is not verified again. Throws
// std::runtime_error when curl refuses the share.
void ShareTlsSessions(CURL* easy, const QString& caFile);

// Certificates and keys added to the TLS context of each connection. The
// system trust store stays in place; extra CAs extend it.
class TlsMaterial {
public:
    // Reads every certificate of a PEM file as an extra trusted CA. Throws
    // std::runtime_error naming the file.
    void LoadExtraCaFile(const QString& path);
    // Reads the pass-phrase protected private key, then the certificate chain
    // (the client's certificate first). Throws std::runtime_error naming the
    // failing file; nothing is kept unless both were read.
    void LoadClientIdentity(const QString& keyFile, const QString& certFile,
                            const QByteArray& passPhrase);
    bool HasClientIdentity() const { return key_ != nullptr; }

    // Installs CURLOPT_SSL_CTX_FUNCTION with this object as its data. The
    // object must outlive the handle's transfers. Throws std::runtime_error
    // when curl refuses an option. Connections trust one
    // process-wide store per CA file (the system's CAs plus the file's), so
    // the system bundle is read once, not for every connection.
    void Install(CURL* easy) const;

private:
    static CURLcode Apply(CURL* easy, void* sslCtx, void* self);

    std::string caFile_; // the extra CA file read, if any
    std::vector<X509Ptr> extraCas_;
    PkeyPtr key_;
    std::vector<X509Ptr> chain_; // [0] is the client's own certificate
};

} // namespace net
