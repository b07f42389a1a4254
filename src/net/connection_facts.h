#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tsl {

// Why a TLS connection did not come about.
enum class TlsTrouble {
    None,
    UntrustedIssuer,   // the certificate's chain leads to no authority this PC trusts
    WrongName,         // the certificate is made out for another name
    OutOfDate,         // expired, or not valid yet
    OtherCertificate,  // refused for another reason (revoked, wrong use, damaged)
    Handshake,         // the handshake failed without a reason told: no common TLS version, or
                       // (Wine) a certificate refused
};

// What the platform saw while it connected for an exchange: how long each step took, and for
// https the protocol and the server's certificate. A step that did not finish (or that this
// platform does not report) has no time. The certificate's texts come from the peer: at most
// kMaxCertificateText bytes each, not escaped.
struct ConnectionFacts {
    bool secure = false;                       // https
    std::optional<std::uint32_t> resolveMs;    // name resolution
    std::optional<std::uint32_t> connectMs;    // TCP connection
    std::optional<std::uint32_t> handshakeMs;  // TLS handshake; none when connectMs includes it
    std::string tlsVersion;                    // "TLS 1.3"; "" when not told
    std::string subject;                       // "CN=localhost, O=Tessaline Sandbox"; "" unseen
    std::string issuer;
    std::optional<std::int64_t> expires;  // the certificate's end, seconds since 1970 UTC
    TlsTrouble trouble = TlsTrouble::None;

    static constexpr std::size_t kMaxCertificateText = 200;
};

}  // namespace tsl
