// The sandbox's two peers as the connector's tests rely on them (tools/sandbox/README.md),
// exercised through the real transport.
#include <gtest/gtest.h>

#include <string>

#include "common/sandbox_client.h"
#include "json/json.h"
#include "net/http_client.h"
#include "support/text.h"

namespace tsl {
namespace {

using testing::SandboxControl;

const SandboxControl& sandbox() {
    static const SandboxControl control;
    return control;
}

HttpResponse post(const std::string& url, const std::string& body, const std::string& token = {},
                  bool withToken = false) {
    HttpHeaders headers = {{L"Content-Type", L"application/json; charset=utf-8"},
                           {L"Accept", L"application/json"}};
    if (withToken) headers.emplace_back(L"X-Tally-Connector-Token", fromUtf8(token));
    return HttpClient(true, 10000).request(L"POST", url, headers, body);
}

std::string agent(const std::string& path) {
    return sandbox().apiUrl() + "/v1/tally/agent" + path;
}

std::string pairNewToken() {
    const std::string code = sandbox().call("POST", "/api/codes").get("code").stringOr("");
    const HttpResponse paired = post(agent("/pair"), R"({"code":")" + code + R"("})");
    EXPECT_EQ(paired.status, 200u) << paired.body;
    return Json::parse(paired.body).get("token").stringOr("");
}

// Every later test would pass just the same if the sandbox took any token, so its refusals are
// checked here: a wrong, a missing and a revoked token.
TEST(SandboxApi, OnlyIssuedTokensAreTaken) {
    const std::string token = pairNewToken();
    EXPECT_EQ(post(agent("/heartbeat"), "{}", token, true).status, 200u);
    EXPECT_EQ(post(agent("/heartbeat"), "{}", token + "x", true).status, 401u);
    EXPECT_EQ(post(agent("/heartbeat"), "{}").status, 401u);
    sandbox().call("POST", "/api/revoke", R"({"token":")" + token + R"("})");
    EXPECT_EQ(post(agent("/heartbeat"), "{}", token, true).status, 401u);
}

std::string tallyUrl() {
    return "http://127.0.0.1:" + std::to_string(sandbox().tallyPort()) + "/";
}

HttpResponse tally(const std::string& xml) {
    return HttpClient(true, 10000)
        .request(L"POST", tallyUrl(), {{L"Content-Type", L"text/xml; charset=utf-8"}}, xml);
}

const char kExport[] =
    "<ENVELOPE><HEADER><TALLYREQUEST>Export</TALLYREQUEST></HEADER><BODY><DESC>"
    "<STATICVARIABLES><SVCURRENTCOMPANY>Sandbox Traders</SVCURRENTCOMPANY></STATICVARIABLES>"
    "</DESC></BODY></ENVELOPE>";

TEST(SandboxTally, EncodingsDecodeToTheSameText) {
    sandbox().call("POST", "/tally/config", R"({"encoding":"utf8"})");
    const std::string utf8 = tally(kExport).body;
    ASSERT_NE(utf8.find("\xE2\x82\xB9"), std::string::npos);  // the rupee sign
    std::string ansi = utf8;                                  // Windows-1252 has no rupee sign
    for (std::size_t at; (at = ansi.find("\xE2\x82\xB9")) != std::string::npos;) {
        ansi.replace(at, 3, "?");
    }
    const std::pair<const char*, std::string> cases[] = {
        {"utf8-bom", utf8}, {"utf16le-bom", utf8}, {"utf16le", utf8}, {"ansi", ansi}};
    for (const auto& [encoding, expected] : cases) {
        SCOPED_TRACE(encoding);
        sandbox().call("POST", "/tally/config", std::string(R"({"encoding":")") + encoding + "\"}");
        const HttpResponse answer = tally(kExport);
        ASSERT_TRUE(answer.ok) << answer.error;
        // Really another encoding on the wire, or the decoding tests would prove nothing.
        EXPECT_TRUE(answer.body != expected);
        EXPECT_TRUE(decodeText(answer.body) == expected);
    }
    sandbox().call("POST", "/tally/config", R"({"encoding":"utf8"})");
}

// The soak test drops Tally's answers and would not notice if they were never dropped.
TEST(SandboxTally, DropsAnswersOnRequest) {
    sandbox().call("POST", "/tally/config", R"({"drop":true})");
    EXPECT_EQ(tally(kExport).error.rfind("Reading the response from 127.0.0.1 failed: ", 0), 0u);
    sandbox().call("POST", "/tally/config", R"({"drop":false})");
    EXPECT_TRUE(tally(kExport).ok);
}

}  // namespace
}  // namespace tsl
