#include "net/connection_facts_winhttp.h"

#include <wincrypt.h>
#include <winhttp.h>

#include <memory>
#include <vector>

#include "support/text.h"

namespace tsl {

namespace {

// WINHTTP_OPTION_SECURITY_INFO (Windows 10 1809 on; not in every SDK): a WINHTTP_SECURITY_INFO,
// whose first member is the connection's SecPkgContext_ConnectionInfo, dwProtocol first.
constexpr DWORD kSecurityInfoOption = 151;
constexpr DWORD kTls12Client = 0x800;   // SP_PROT_TLS1_2_CLIENT
constexpr DWORD kTls13Client = 0x2000;  // SP_PROT_TLS1_3_CLIENT

struct CertificateFree {
    void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

std::optional<std::uint32_t> between(const ConnectionSteps::Time& from,
                                     const ConnectionSteps::Time& to) {
    if (!from || !to || *to < *from) return std::nullopt;
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(*to - *from).count());
}

// "CN=localhost, O=Tessaline Sandbox": the most particular part first.
std::string nameText(const CERT_NAME_BLOB& name) {
    constexpr DWORD kType = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    auto blob = const_cast<CERT_NAME_BLOB*>(&name);
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, blob, kType, nullptr, 0);
    if (size <= 1) return "";
    std::vector<wchar_t> text(size);
    CertNameToStrW(X509_ASN_ENCODING, blob, kType, text.data(), size);
    return utf8Prefix(toUtf8(std::wstring(text.data())), ConnectionFacts::kMaxCertificateText);
}

std::int64_t secondsOf(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return (static_cast<std::int64_t>(ticks) - 116444736000000000LL) / 10000000;
}

std::string tlsVersionOf(HINTERNET request) {
    DWORD info[256] = {};  // room for WINHTTP_SECURITY_INFO, suitably aligned
    DWORD size = sizeof(info);
    if (!WinHttpQueryOption(request, kSecurityInfoOption, info, &size) || size < sizeof(DWORD)) {
        return "";
    }
    if (info[0] & kTls13Client) return "TLS 1.3";
    if (info[0] & kTls12Client) return "TLS 1.2";
    return "";
}

TlsTrouble troubleOf(DWORD error, DWORD flags) {
    if (error != 0 && flags != 0) {
        if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return TlsTrouble::UntrustedIssuer;
        if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return TlsTrouble::WrongName;
        if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return TlsTrouble::OutOfDate;
        if (flags & ~WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR) {
            return TlsTrouble::OtherCertificate;
        }
        return TlsTrouble::Handshake;
    }
    switch (error) {
        case ERROR_WINHTTP_SECURE_INVALID_CA:
            return TlsTrouble::UntrustedIssuer;
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
            return TlsTrouble::WrongName;
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
            return TlsTrouble::OutOfDate;
        case ERROR_WINHTTP_SECURE_INVALID_CERT:
        case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
        case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
            return TlsTrouble::OtherCertificate;
        case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
            return TlsTrouble::Handshake;
        default:
            return TlsTrouble::None;
    }
}

}  // namespace

ConnectionFacts connectionFacts(const AsyncRequest& request, bool secure, DWORD error) {
    ConnectionFacts facts;
    facts.secure = secure;
    const ConnectionSteps steps = request.steps();
    facts.resolveMs = between(steps.resolving, steps.resolved);
    facts.connectMs = between(steps.connecting, steps.connected);
    if (steps.sending && !steps.connecting) facts.resolveMs = facts.connectMs = 0;  // reused
    if (secure) facts.trouble = troubleOf(error, steps.secureFailure);
    if (!secure) return facts;
    facts.tlsVersion = tlsVersionOf(request.handle());
    // Where the TLS version is not told (Wine, older Windows), the connection is reported only
    // once the handshake is done too: the two times cannot be told apart.
    if (!facts.tlsVersion.empty()) facts.handshakeMs = between(steps.connected, steps.sending);
    const CERT_CONTEXT* seen = nullptr;
    DWORD size = sizeof(seen);
    if (WinHttpQueryOption(request.handle(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &seen, &size) &&
        seen) {
        const Certificate cert(seen);
        facts.subject = nameText(cert->pCertInfo->Subject);
        facts.issuer = nameText(cert->pCertInfo->Issuer);
        facts.expires = secondsOf(cert->pCertInfo->NotAfter);
    }
    return facts;
}

}  // namespace tsl
