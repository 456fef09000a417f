#include "net/tls_material.h"

#include "net/curl_transfer.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

namespace net {

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

// The reason of the most recent OpenSSL error, or `fallback` when the queue
// is empty. Clears the queue so that later calls start clean.
std::string OpenSslReason(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    std::string reason;
    if (code != 0) {
        const char* text = ERR_reason_error_string(code);
        reason = text != nullptr ? text : "error " + std::to_string(code);
    } else {
        reason = fallback;
    }
    ERR_clear_error();
    return reason;
}

BioPtr OpenPemFile(const QString& path, const char* what) {
    ERR_clear_error();
    const QByteArray name = QFile::encodeName(path);
    errno = 0;
    BioPtr bio(BIO_new_file(name.constData(), "r"));
    if (!bio) {
        const int error = errno;
        ERR_clear_error();
        throw std::runtime_error(std::string("Cannot open ") + what + " file " +
                                 path.toStdString() + ": " +
                                 (error != 0 ? std::strerror(error) : "cannot be opened"));
    }
    return bio;
}

// Reads every certificate of a PEM stream; a clean end after at least one
// certificate is not an error.
std::vector<X509Ptr> ReadCertificates(BIO* bio, const QString& path, const char* what) {
    std::vector<X509Ptr> certs;
    for (;;) {
        X509Ptr cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
        if (!cert)
            break;
        certs.push_back(std::move(cert));
    }
    const unsigned long last = ERR_peek_last_error();
    const bool cleanEnd = ERR_GET_LIB(last) == ERR_LIB_PEM &&
                          ERR_GET_REASON(last) == PEM_R_NO_START_LINE && !certs.empty();
    if (certs.empty() || (last != 0 && !cleanEnd))
        throw std::runtime_error(std::string("Cannot read ") + what + " from " +
                                 path.toStdString() + ": " + OpenSslReason("no certificate found"));
    ERR_clear_error();
    return certs;
}

// The object `make` builds for `caFile`, one per CA file (and call site) for
// the whole process, built at the first use under a lock. Never destroyed:
// connections of workers that outlive everything else may still use it while
// the process exits.
template <typename T, typename Make> T ForCaFile(const std::string& caFile, Make make) {
    static std::mutex mutex;
    static auto* objects = new std::map<std::string, T>();
    std::lock_guard lock(mutex);
    const auto found = objects->find(caFile);
    if (found != objects->end())
        return found->second;
    return objects->emplace(caFile, make()).first->second;
}

// The trust store of the connections that add the extra CAs of `caFile` (or
// none, for an empty name): the system's default CAs plus those, kept for
// the life of the process. Loading the system bundle for every connection
// cost more CPU than the transfers themselves.
X509_STORE* NewTrustStore(const std::vector<X509Ptr>& extraCas) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr)
        return nullptr;
    // The system bundle is read here, whole, so that the store is only read
    // afterwards. OpenSSL's lookup in the CA folder would add certificates to
    // the store during verification instead, while other connections read it.
    const char* bundleEnv = std::getenv(X509_get_default_cert_file_env());
    const char* bundle =
        bundleEnv != nullptr && *bundleEnv != '\0' ? bundleEnv : X509_get_default_cert_file();
    if (X509_STORE_load_file(store, bundle) != 1) {
        // No bundle file: the default places, the folder included.
        ERR_clear_error();
        if (X509_STORE_set_default_paths(store) != 1)
            ERR_clear_error();
    }
    for (const X509Ptr& cert : extraCas) {
        // A certificate the store holds already is not an error.
        if (X509_STORE_add_cert(store, cert.get()) != 1)
            ERR_clear_error();
    }
    // OpenSSL works out a certificate's extensions the first time it needs
    // them and keeps them in the certificate; doing it now for every one
    // leaves verification nothing to write into the shared store.
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        if (X509* cert = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i)))
            X509_check_purpose(cert, -1, 0);
    }
    ERR_clear_error();
    return store;
}

// The TLS sessions of the process's connections, shared so that a new
// connection to a host resumes the session of an earlier one instead of
// making a full handshake: the fetch workers each open their own connection,
// and the handshake was most of their CPU time.
struct SessionShare {
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
    CURLSH* handle = nullptr;
};

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SessionShare*>(user)->locks[static_cast<size_t>(data)].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* user) {
    static_cast<SessionShare*>(user)->locks[static_cast<size_t>(data)].unlock();
}

// A curl share of TLS sessions, or null when curl cannot make one (the
// connections then keep sessions of their own).
CURLSH* NewSessionShare() {
    auto* share = new SessionShare;
    CURLSH* handle = curl_share_init();
    if (handle != nullptr &&
        curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &LockShare) == CURLSHE_OK &&
        curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &UnlockShare) == CURLSHE_OK &&
        curl_share_setopt(handle, CURLSHOPT_USERDATA, share) == CURLSHE_OK &&
        curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK) {
        share->handle = handle;
    } else if (handle != nullptr) {
        curl_share_cleanup(handle);
    }
    return share->handle;
}

} // namespace

// One session cache per CA file, like the trust stores: a session is resumed
// only by connections that would have trusted its server just the same.
void ShareTlsSessions(CURL* easy, const QString& caFile) {
    if (CURLSH* handle = ForCaFile<CURLSH*>(caFile.toStdString(), &NewSessionShare))
        SetOption(easy, CURLOPT_SHARE, handle);
}

void TlsMaterial::LoadExtraCaFile(const QString& path) {
    BioPtr bio = OpenPemFile(path, "CA");
    std::vector<X509Ptr> certs = ReadCertificates(bio.get(), path, "CA certificates");
    for (X509Ptr& cert : certs)
        extraCas_.push_back(std::move(cert));
    caFile_ = path.toStdString();
}

void TlsMaterial::LoadClientIdentity(const QString& keyFile, const QString& certFile,
                                     const QByteArray& passPhrase) {
    BioPtr keyBio = OpenPemFile(keyFile, "private key");
    // With no callback OpenSSL takes the user argument as the pass phrase.
    PkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr,
                                        const_cast<char*>(passPhrase.constData())));
    if (!key)
        throw std::runtime_error("Cannot read private key from " + keyFile.toStdString() + ": " +
                                 OpenSslReason("no key found"));
    BioPtr certBio = OpenPemFile(certFile, "certificate");
    std::vector<X509Ptr> chain = ReadCertificates(certBio.get(), certFile, "certificate");
    key_ = std::move(key);
    chain_ = std::move(chain);
}

void TlsMaterial::Install(CURL* easy) const {
    SetOption(easy, CURLOPT_SSL_CTX_FUNCTION, &TlsMaterial::Apply);
    SetOption(easy, CURLOPT_SSL_CTX_DATA, const_cast<TlsMaterial*>(this));
    // curl itself loads no CA bundle: the shared store takes its place.
    SetOption(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    SetOption(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
}

CURLcode TlsMaterial::Apply(CURL*, void* sslCtx, void* self) {
    auto* ctx = static_cast<SSL_CTX*>(sslCtx);
    const auto& material = *static_cast<const TlsMaterial*>(self);
    X509_STORE* store = ForCaFile<X509_STORE*>(
        material.caFile_, [&material] { return NewTrustStore(material.extraCas_); });
    if (store == nullptr)
        return CURLE_OUT_OF_MEMORY;
    SSL_CTX_set1_cert_store(ctx, store);
    // curl turns TLS 1.2 session tickets off; without them a shared session
    // can be resumed only while the server still holds it in its cache, and
    // servers drop a session from it when the client closes the connection.
    SSL_CTX_clear_options(ctx, SSL_OP_NO_TICKET);
    if (material.key_) {
        if (SSL_CTX_use_certificate(ctx, material.chain_.front().get()) != 1)
            return CURLE_SSL_CERTPROBLEM;
        for (size_t i = 1; i < material.chain_.size(); ++i) {
            if (SSL_CTX_add1_chain_cert(ctx, material.chain_[i].get()) != 1)
                return CURLE_SSL_CERTPROBLEM;
        }
        if (SSL_CTX_use_PrivateKey(ctx, material.key_.get()) != 1)
            return CURLE_SSL_CERTPROBLEM;
    }
    return CURLE_OK;
}

} // namespace net
