#include "net/connection_facts_curl.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <ctime>
#include <memory>

#include "support/text.h"

namespace tsl {

namespace {

int watchIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// "CN=localhost, O=Tessaline Sandbox": the most particular part first, as UTF-8.
std::string nameText(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    constexpr unsigned long kFlags = (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) |
                                     XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN;
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, kFlags) < 0) return "";
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0) return "";
    return utf8Prefix(std::string_view(data, static_cast<std::size_t>(size)),
                      ConnectionFacts::kMaxCertificateText);
}

std::optional<std::int64_t> secondsOf(const ASN1_TIME* time) {
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
    using namespace std::chrono;
    const sys_days day = year{parts.tm_year + 1900} / (parts.tm_mon + 1) / parts.tm_mday;
    return day.time_since_epoch().count() * std::int64_t{86400} + parts.tm_hour * 3600 +
           parts.tm_min * 60 + parts.tm_sec;
}

// OpenSSL's verification callback: notes, and leaves the verdict as it was.
int onVerify(int verified, X509_STORE_CTX* store) {
    const auto* ssl = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* watch = ssl ? static_cast<CertificateWatch*>(
                            SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), watchIndex()))
                      : nullptr;
    if (!watch) return verified;
    try {
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        if (!watch->seen && leaf) {
            watch->subject = nameText(X509_get_subject_name(leaf));
            watch->issuer = nameText(X509_get_issuer_name(leaf));
            watch->expires = secondsOf(X509_get0_notAfter(leaf));
            watch->seen = true;
        }
    } catch (...) {
        // Memory ran out: the facts stay unseen, the handshake goes on as OpenSSL decides.
    }
    if (!verified && watch->firstError == X509_V_OK) {
        watch->firstError = X509_STORE_CTX_get_error(store);
    }
    return verified;
}

TlsTrouble troubleOf(int verifyError) {
    switch (verifyError) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TlsTrouble::OutOfDate;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TlsTrouble::WrongName;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return TlsTrouble::UntrustedIssuer;
        default:
            return TlsTrouble::OtherCertificate;
    }
}

std::optional<std::uint32_t> millisecondsBetween(curl_off_t from, curl_off_t to) {
    if (to <= 0 || to < from) return std::nullopt;
    return static_cast<std::uint32_t>((to - from) / 1000);
}

}  // namespace

bool watchCertificates(SSL_CTX* context, CertificateWatch* watch) {
    if (watchIndex() < 0 || SSL_CTX_set_ex_data(context, watchIndex(), watch) != 1) return false;
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), onVerify);
    return true;
}

void noteTlsVersion(CURL* handle, CertificateWatch& watch) {
    const curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info ||
        info->backend != CURLSSLBACKEND_OPENSSL || !info->internals) {
        return;
    }
    switch (SSL_version(static_cast<const SSL*>(info->internals))) {
        case TLS1_3_VERSION:
            watch.tlsVersion = "TLS 1.3";
            break;
        case TLS1_2_VERSION:
            watch.tlsVersion = "TLS 1.2";
            break;
        default:
            break;  // older ones are refused before this point
    }
}

ConnectionFacts connectionFacts(CURL* handle, CURLcode code, bool secure,
                                const CertificateWatch& watch) {
    ConnectionFacts facts;
    facts.secure = secure;
    curl_off_t resolved = 0, connected = 0, handshaken = 0;
    curl_easy_getinfo(handle, CURLINFO_NAMELOOKUP_TIME_T, &resolved);
    curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(handle, CURLINFO_APPCONNECT_TIME_T, &handshaken);
    // A connection implies the name was resolved, however quickly.
    if (resolved > 0 || connected > 0)
        facts.resolveMs = static_cast<std::uint32_t>(resolved / 1000);
    facts.connectMs = millisecondsBetween(resolved, connected);
    if (secure && connected > 0) facts.handshakeMs = millisecondsBetween(connected, handshaken);
    facts.tlsVersion = watch.tlsVersion;
    facts.subject = watch.subject;
    facts.issuer = watch.issuer;
    facts.expires = watch.expires;
    // libcurl gives no connection time when the handshake on it failed.
    if (code == CURLE_OK || !secure || handshaken > 0) return facts;
    if (watch.firstError != X509_V_OK) {
        facts.trouble = troubleOf(watch.firstError);
    } else if (code == CURLE_PEER_FAILED_VERIFICATION) {
        facts.trouble = TlsTrouble::WrongName;  // a chain OpenSSL accepted: libcurl's name check
    } else if (code == CURLE_SSL_CONNECT_ERROR || code == CURLE_SSL_CIPHER) {
        facts.trouble = TlsTrouble::Handshake;
    }
    return facts;
}

}  // namespace tsl
