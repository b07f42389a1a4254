#include "diag/field_check.h"

#include <gtest/gtest.h>

namespace tsl {
namespace {

// The connection line from what the transport saw, at a given now (2027-01-01 00:00 UTC): the
// certificate's remaining life decides ok or warn at 14 days, and what the peer's certificate
// says reaches the line only escaped.
TEST(FieldCheck, ConnectionLineTellsEachStepAndTheCertificatesLife) {
    constexpr std::int64_t kNow = 1798761600;
    constexpr std::int64_t kDay = 86400;
    ConnectionFacts https{true, 1, 2, 9, "TLS 1.3", "CN=a", "CN=b", kNow + 14 * kDay};
    ConnectionFacts soon = https;
    soon.expires = kNow + 14 * kDay - 1;
    soon.handshakeMs.reset();  // the platform timed it with the connection
    soon.tlsVersion.clear();
    ConnectionFacts refused = https;
    refused.trouble = TlsTrouble::UntrustedIssuer;
    refused.subject = "CN=proxy\r\nok   forged";
    ConnectionFacts unresolved, plain;
    unresolved.secure = true;
    plain.resolveMs = 0;
    plain.connectMs = 3;
    const std::pair<ConnectionFacts, std::string> cases[] = {
        {plain,
         "ok   Connection: 127.0.0.1:8080 resolved in 0 ms, connected in 3 ms; plain "
         "HTTP (this PC only)"},
        {https,
         "ok   Connection: a.test:443 resolved in 1 ms, connected in 2 ms, TLS 1.3 in 9 ms; "
         "certificate for CN=a from CN=b, valid until 2027-01-15"},
        {soon,
         "warn Connection: a.test:443 resolved in 1 ms, connected and secured in 2 ms; "
         "certificate for CN=a from CN=b, valid until 2027-01-14 (13 days left) - Tell "
         "Tessaline's support that its certificate runs out soon (your IT, if it comes "
         "from your company's proxy)."},
        {refused,
         "FAIL Connection: a.test:443 resolved in 1 ms; the certificate comes from an "
         "authority this PC does not trust (certificate for CN=proxy\\r\\nok   forged "
         "from CN=b); nothing was sent - If your company's network inspects secure "
         "connections, ask your IT to let a.test through; otherwise tell Tessaline's "
         "support."},
        {unresolved,
         "FAIL Connection: the name a.test could not be resolved - Check this PC's "
         "internet connection and proxy, then try again."},
    };
    for (const auto& [facts, line] : cases) {
        const std::string url = facts.secure ? "https://a.test/api" : "http://127.0.0.1:8080/api";
        EXPECT_EQ(formatCheckLine(connectionCheck(url, facts, kNow)), line);
    }
}

}  // namespace
}  // namespace tsl
