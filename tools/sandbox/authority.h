#pragma once

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace sandbox {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using ContextPtr = std::unique_ptr<SSL_CTX, ContextFree>;

// A key with its certificate.
struct Identity {
    KeyPtr key;
    CertPtr cert;
    std::string certPem() const;
};

// A certificate authority made up at start, valid for 30 days, that issues server
// certificates for localhost, 127.0.0.1 and ::1. Throws std::runtime_error when OpenSSL fails.
class TestAuthority {
  public:
    explicit TestAuthority(const std::string& name);
    const Identity& root() const { return root_; }
    Identity issueServer() const;

  private:
    Identity root_;
};

// Which TLS versions a server endpoint accepts.
enum class TlsVersions { Modern, Tls11Only };

// A server context with the identity; Tls11Only drops OpenSSL 3's security level to 0, which
// TLS 1.1 needs (SHA-1 in its handshake).
ContextPtr makeServerContext(const Identity& identity, TlsVersions versions);

}  // namespace sandbox
