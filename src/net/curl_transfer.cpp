#include "net/curl_transfer.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        curl_easy_setopt(easy, CURLOPT_SHARE, handle);
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
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &TlsMaterial::Apply);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, const_cast<TlsMaterial*>(this));
    // curl itself loads no CA bundle: the shared store takes its place.
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
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

void InstallCallbacks(CURL* easy, TransferState& state) {
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &WriteHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &SocketCreated);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &state);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &RequestReady);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &state);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state.errorBuffer);
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
