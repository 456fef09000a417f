#include "certs.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace demo {

namespace {

struct Deleter {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free_all(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using CertPtr = std::unique_ptr<X509, Deleter>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter>;
using BioPtr = std::unique_ptr<BIO, Deleter>;

std::string SslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return what;
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return what + ": " + buffer;
}

// Holds an exclusive lock on <dir>/.lock for its lifetime.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir) {
        fd_ = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            locked_ = ::flock(fd_, LOCK_EX) == 0;
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    std::unique_ptr<X509_EXTENSION, Deleter> ext(
        X509V3_EXT_conf_nid(nullptr, ctx, nid, const_cast<char*>(value)));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

struct CertProfile {
    const char* commonName;
    long days;
    bool ca;
    const char* keyUsage;
    const char* extendedKeyUsage; // nullptr: none
    const char* altNames;         // nullptr: none
};

// A certificate for `key`, signed by `issuerKey` (self-signed when `issuer`
// is null).
CertPtr NewCert(EVP_PKEY* key, const CertProfile& profile, X509* issuer, EVP_PKEY* issuerKey) {
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        return nullptr;
    unsigned char serialBytes[16];
    if (RAND_bytes(serialBytes, sizeof serialBytes) != 1)
        return nullptr;
    serialBytes[0] &= 0x7F;
    std::unique_ptr<BIGNUM, Deleter> serial(BN_bin2bn(serialBytes, sizeof serialBytes, nullptr));
    if (!serial || !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())))
        return nullptr;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), profile.days * 24L * 3600);
    if (X509_set_pubkey(cert.get(), key) != 1)
        return nullptr;
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Demo directory site"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(profile.commonName), -1, -1,
                               0);
    if (X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) != 1)
        return nullptr;

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    bool ok = AddExtension(cert.get(), &ctx, NID_basic_constraints,
                           profile.ca ? "critical,CA:TRUE" : "critical,CA:FALSE") &&
              AddExtension(cert.get(), &ctx, NID_key_usage, profile.keyUsage) &&
              AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash") &&
              AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (ok && profile.extendedKeyUsage)
        ok = AddExtension(cert.get(), &ctx, NID_ext_key_usage, profile.extendedKeyUsage);
    if (ok && profile.altNames)
        ok = AddExtension(cert.get(), &ctx, NID_subject_alt_name, profile.altNames);
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

CertPtr ReadCert(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio)
        return nullptr;
    return CertPtr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

KeyPtr ReadKey(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio)
        return nullptr;
    return KeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// Writes through a temporary file and a rename, so that a reader never sees
// half a file.
template <typename Write>
bool WriteFileAtomically(const std::string& path, mode_t mode, Write write, std::string* error) {
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = "cannot create " + temp;
        return false;
    }
    ::close(fd);
    bool ok;
    {
        BioPtr bio(BIO_new_file(temp.c_str(), "w"));
        ok = bio && write(bio.get()) && BIO_flush(bio.get()) == 1;
    }
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        *error = SslError("cannot write " + path);
        return false;
    }
    return true;
}

bool StillValid(X509* cert) {
    // Renewed a day before it runs out.
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> soon(
        X509_time_adj_ex(nullptr, 1, 0, nullptr), &ASN1_TIME_free);
    return soon && ASN1_TIME_compare(X509_get0_notAfter(cert), soon.get()) > 0;
}

bool ExistingSetIsUsable(const CertFiles& files) {
    const CertPtr ca = ReadCert(files.caCert);
    const KeyPtr caKey = ReadKey(files.caKey);
    const CertPtr server = ReadCert(files.serverCert);
    const KeyPtr serverKey = ReadKey(files.serverKey);
    if (!ca || !caKey || !server || !serverKey) {
        ERR_clear_error();
        return false;
    }
    const bool ok = X509_check_private_key(ca.get(), caKey.get()) == 1 &&
                    X509_check_private_key(server.get(), serverKey.get()) == 1 &&
                    X509_verify(server.get(), caKey.get()) == 1 && StillValid(ca.get()) &&
                    StillValid(server.get());
    ERR_clear_error();
    return ok;
}

} // namespace

bool EnsureCertificates(const std::string& dir, CertFiles* files, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        *error = "cannot create certificate folder " + dir + ": " + ec.message();
        return false;
    }
    files->dir = dir;
    files->caCert = dir + "/ca.pem";
    files->caKey = dir + "/ca-key.pem";
    files->serverCert = dir + "/server.pem";
    files->serverKey = dir + "/server-key.pem";

    FolderLock lock(dir);
    if (!lock.locked()) {
        *error = "cannot lock " + dir + "/.lock";
        return false;
    }
    if (ExistingSetIsUsable(*files))
        return true;

    const KeyPtr caKey = NewKey();
    const KeyPtr serverKey = NewKey();
    if (!caKey || !serverKey) {
        *error = SslError("key generation failed");
        return false;
    }
    const CertProfile caProfile{"Demo directory site CA",       3650,    true,
                                "critical,keyCertSign,cRLSign", nullptr, nullptr};
    const CertPtr ca = NewCert(caKey.get(), caProfile, nullptr, nullptr);
    const CertProfile serverProfile{"localhost",  825,
                                    false,        "critical,digitalSignature,keyEncipherment",
                                    "serverAuth", "DNS:localhost,IP:127.0.0.1,IP:::1"};
    const CertPtr server =
        ca ? NewCert(serverKey.get(), serverProfile, ca.get(), caKey.get()) : nullptr;
    if (!ca || !server) {
        *error = SslError("certificate creation failed");
        return false;
    }
    // Keys first, the CA last: a set is complete once ca.pem matches.
    return WriteFileAtomically(
               files->caKey, 0600,
               [&](BIO* bio) {
                   return PEM_write_bio_PrivateKey(bio, caKey.get(), nullptr, nullptr, 0, nullptr,
                                                   nullptr) == 1;
               },
               error) &&
           WriteFileAtomically(
               files->serverKey, 0600,
               [&](BIO* bio) {
                   return PEM_write_bio_PrivateKey(bio, serverKey.get(), nullptr, nullptr, 0,
                                                   nullptr, nullptr) == 1;
               },
               error) &&
           WriteFileAtomically(
               files->serverCert, 0644,
               [&](BIO* bio) {
                   return PEM_write_bio_X509(bio, server.get()) == 1 &&
                          PEM_write_bio_X509(bio, ca.get()) == 1;
               },
               error) &&
           WriteFileAtomically(
               files->caCert, 0644,
               [&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()) == 1; }, error);
}

bool MakeClientCertificate(const CertFiles& files, const std::string& outDir,
                           const std::string& passPhrase, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        *error = "cannot create " + outDir + ": " + ec.message();
        return false;
    }
    const CertPtr ca = ReadCert(files.caCert);
    const KeyPtr caKey = ReadKey(files.caKey);
    const KeyPtr key = NewKey();
    if (!ca || !caKey || !key) {
        *error = SslError("cannot read the CA in " + files.dir);
        return false;
    }
    const CertProfile profile{"demo-site client",          825,          false,
                              "critical,digitalSignature", "clientAuth", nullptr};
    const CertPtr cert = NewCert(key.get(), profile, ca.get(), caKey.get());
    if (!cert) {
        *error = SslError("client certificate creation failed");
        return false;
    }
    return WriteFileAtomically(
               outDir + "/01key.pem", 0600,
               [&](BIO* bio) {
                   return PEM_write_bio_PKCS8PrivateKey(
                              bio, key.get(), EVP_aes_256_cbc(), passPhrase.c_str(),
                              static_cast<int>(passPhrase.size()), nullptr, nullptr) == 1;
               },
               error) &&
           WriteFileAtomically(
               outDir + "/01cert.pem", 0644,
               [&](BIO* bio) {
                   return PEM_write_bio_X509(bio, cert.get()) == 1 &&
                          PEM_write_bio_X509(bio, ca.get()) == 1;
               },
               error);
}

} // namespace demo
