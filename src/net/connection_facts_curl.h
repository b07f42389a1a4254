#pragma once

// How the libcurl transport learns its ConnectionFacts. Not for Windows.

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <optional>
#include <string>

#include "net/connection_facts.h"

namespace tsl {

// What OpenSSL's verification saw of the server's certificate during one handshake.
struct CertificateWatch {
    bool seen = false;
    std::string subject;
    std::string issuer;
    std::optional<std::int64_t> expires;
    int firstError = 0;  // X509_V_OK when the chain verified
    std::string tlsVersion;
};

// From now on each handshake on this context notes its server certificate and the first
// verification error into watch, which must outlive the handshakes; the verdict stays
// OpenSSL's. False when the context would not take it.
bool watchCertificates(SSL_CTX* context, CertificateWatch* watch);

// The connection's TLS version into watch; called once the handshake is done.
void noteTlsVersion(CURL* handle, CertificateWatch& watch);

// After the transfer ended with code: the times of its steps, what the watch saw and, for a
// failure in the handshake, why.
ConnectionFacts connectionFacts(CURL* handle, CURLcode code, bool secure,
                                const CertificateWatch& watch);

}  // namespace tsl
