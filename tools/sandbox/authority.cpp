#include "authority.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace sandbox {

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

[[noreturn]] void fail(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

KeyPtr newKey() {
    // P-256: made in a moment (an RSA key takes a noticeable share of the start under a
    // sanitizer), and understood by every TLS version the sandbox offers.
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) fail("key generation");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) fail("certificate extension");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

CertPtr newCert(EVP_PKEY* key, const std::string& commonName) {
    CertPtr cert(X509_new());
    if (!cert) fail("certificate");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Tessaline Sandbox"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

}  // namespace

std::string Identity::certPem() const {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert.get());
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

TestAuthority::TestAuthority(const std::string& name) {
    root_.key = newKey();
    root_.cert = newCert(root_.key.get(), name);
    X509* cert = root_.cert.get();
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert, cert, NID_subject_key_identifier, "hash");
    if (X509_sign(cert, root_.key.get(), EVP_sha256()) == 0) fail("signing the authority");
}

Identity TestAuthority::issueServer() const {
    Identity server;
    server.key = newKey();
    server.cert = newCert(server.key.get(), "localhost");
    X509* cert = server.cert.get();
    X509* issuer = root_.cert.get();
    X509_set_issuer_name(cert, X509_get_subject_name(issuer));
    addExtension(cert, issuer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert, issuer, NID_key_usage, "critical,digitalSignature");
    addExtension(cert, issuer, NID_ext_key_usage, "serverAuth");
    addExtension(cert, issuer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
    addExtension(cert, issuer, NID_subject_key_identifier, "hash");
    addExtension(cert, issuer, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(cert, root_.key.get(), EVP_sha256()) == 0) fail("signing a server certificate");
    return server;
}

ContextPtr makeServerContext(const Identity& identity, TlsVersions versions) {
    ContextPtr context(SSL_CTX_new(TLS_server_method()));
    if (!context) fail("TLS context");
    SSL_CTX* ctx = context.get();
    if (versions == TlsVersions::Tls11Only) {
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(ctx, TLS1_1_VERSION);
        SSL_CTX_set_max_proto_version(ctx, TLS1_1_VERSION);
    } else {
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    }
    if (SSL_CTX_use_certificate(ctx, identity.cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, identity.key.get()) != 1) {
        fail("TLS identity");
    }
    return context;
}

}  // namespace sandbox
