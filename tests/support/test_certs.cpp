#include "support/test_certs.h"

#include <QTemporaryDir>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "test certificates: %s failed\n", what);
    ERR_print_errors_fp(stderr);
    std::abort();
}

struct Identity {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> cert{nullptr, X509_free};
};

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1)
        Fail("adding a certificate extension");
    X509_EXTENSION_free(extension);
}

// A certificate for a fresh key: self-signed when `issuer` is null.
Identity Issue(const char* commonName, const Identity* issuer, bool ca, const char* altNames,
               const char* extendedUsage) {
    static long serial = 1;
    Identity made;
    made.key.reset(EVP_EC_gen("P-256"));
    if (!made.key)
        Fail("EC key generation");
    made.cert.reset(X509_new());
    X509* cert = made.cert.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
    X509_set_pubkey(cert, made.key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Test PKI"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* issuerCert = issuer != nullptr ? issuer->cert.get() : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
    AddExtension(cert, issuerCert, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    AddExtension(cert, issuerCert, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    AddExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
    AddExtension(cert, issuerCert, NID_authority_key_identifier, "keyid:always");
    if (altNames != nullptr)
        AddExtension(cert, issuerCert, NID_subject_alt_name, altNames);
    if (extendedUsage != nullptr)
        AddExtension(cert, issuerCert, NID_ext_key_usage, extendedUsage);
    EVP_PKEY* signer = issuer != nullptr ? issuer->key.get() : made.key.get();
    if (X509_sign(cert, signer, EVP_sha256()) == 0)
        Fail("signing a certificate");
    return made;
}

std::string WriteCert(const std::string& folder, const char* name, const Identity& identity) {
    const std::string path = folder + "/" + name;
    BIO* bio = BIO_new_file(path.c_str(), "w");
    if (bio == nullptr || PEM_write_bio_X509(bio, identity.cert.get()) != 1)
        Fail("writing a certificate");
    BIO_free(bio);
    return path;
}

std::string WriteKey(const std::string& folder, const char* name, const Identity& identity,
                     const char* passPhrase = nullptr) {
    const std::string path = folder + "/" + name;
    BIO* bio = BIO_new_file(path.c_str(), "w");
    const EVP_CIPHER* cipher = passPhrase != nullptr ? EVP_aes_256_cbc() : nullptr;
    if (bio == nullptr || PEM_write_bio_PrivateKey(bio, identity.key.get(), cipher, nullptr, 0,
                                                   nullptr, const_cast<char*>(passPhrase)) != 1)
        Fail("writing a key");
    BIO_free(bio);
    return path;
}

TestPki Generate(const std::string& folder) {
    const char* local = "DNS:localhost,IP:127.0.0.1";
    TestPki pki;
    pki.folder = folder;
    const Identity ca = Issue("Test CA", nullptr, true, nullptr, nullptr);
    const Identity server = Issue("localhost", &ca, false, local, "serverAuth");
    const Identity wrongName =
        Issue("wrong-name.invalid", &ca, false, "DNS:wrong-name.invalid", "serverAuth");
    const Identity client = Issue("Test client", &ca, false, nullptr, "clientAuth");
    const Identity otherCa = Issue("Other CA", nullptr, true, nullptr, nullptr);
    const Identity otherServer = Issue("localhost", &otherCa, false, local, "serverAuth");

    pki.caCert = WriteCert(folder, "ca.pem", ca);
    pki.serverCert = WriteCert(folder, "server.pem", server);
    pki.serverKey = WriteKey(folder, "server-key.pem", server);
    pki.wrongNameCert = WriteCert(folder, "wrong-name.pem", wrongName);
    pki.wrongNameKey = WriteKey(folder, "wrong-name-key.pem", wrongName);
    pki.otherCaCert = WriteCert(folder, "other-ca.pem", otherCa);
    pki.otherServerCert = WriteCert(folder, "other-server.pem", otherServer);
    pki.otherServerKey = WriteKey(folder, "other-server-key.pem", otherServer);
    pki.clientCert = WriteCert(folder, "client.pem", client);
    pki.clientKey = WriteKey(folder, "client-key.pem", client, TestPki::kClientPassPhrase);
    pki.clientKeyOtherPass =
        WriteKey(folder, "client-key-other-pass.pem", client, "not-the-pass-phrase");
    return pki;
}

} // namespace

const TestPki& TestCertificates() {
    static std::once_flag once;
    static QTemporaryDir* folder = nullptr;
    static TestPki pki;
    std::call_once(once, [] {
        folder = new QTemporaryDir();
        if (!folder->isValid())
            Fail("creating the temporary folder");
        pki = Generate(folder->path().toStdString());
        // Removed at exit, after the tests have stopped their servers.
        std::atexit([] { delete folder; });
    });
    return pki;
}
