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

TEST(SandboxApi, PairingCodesAreSingleUseAndTokensAreChecked) {
    const std::string body = R"({"agentVersion":"1.0.0","code":")" + sandbox().pairingCode() +
                             R"(","machineName":"PC"})";
    const HttpResponse first = post(agent("/pair"), body);
    ASSERT_EQ(first.status, 200u) << first.error << first.body;
    const Json answer = Json::parse(first.body);
    const std::string token = answer.get("token").stringOr("");
    EXPECT_FALSE(token.empty());
    EXPECT_EQ(answer.get("organisation").stringOr(""), "Sandbox Organisation");
    const HttpResponse again = post(agent("/pair"), body);
    EXPECT_EQ(again.status, 400u);
    EXPECT_FALSE(Json::parse(again.body).get("message").stringOr("").empty());

    EXPECT_EQ(post(agent("/heartbeat"), "{}", "wrong", true).status, 401u);
    EXPECT_EQ(post(agent("/heartbeat"), "{}").status, 401u);
    sandbox().call("POST", "/api/settings",
                   R"({"companyName":"Müller GmbH","pollSeconds":7,"syncError":"stop"})");
    const HttpResponse beat =
        post(agent("/heartbeat"), R"({"machineName":"PC","tallyReachable":true})", token, true);
    ASSERT_EQ(beat.status, 200u) << beat.body;
    const Json reply = Json::parse(beat.body);
    EXPECT_TRUE(reply.get("enabled").boolOr(false));
    EXPECT_EQ(reply.get("companyName").stringOr(""), "Müller GmbH");
    EXPECT_EQ(reply.get("pollSeconds").intOr(0), 7);
    EXPECT_EQ(reply.get("syncError").stringOr(""), "stop");
    EXPECT_EQ(
        sandbox().call("GET", "/api/heartbeats").items().back().get("machineName").stringOr(""),
        "PC");

    sandbox().call("POST", "/api/revoke", R"({"token":")" + token + R"("})");
    EXPECT_EQ(post(agent("/heartbeat"), "{}", token, true).status, 401u);
}

TEST(SandboxApi, JobsGoOutOnceAndResultsAreKept) {
    const std::string token = pairNewToken();
    sandbox().call("POST", "/api/jobs",
                   R"({"id":"j/1","kind":"import","requests":[{"ref":"a","xml":"<A/>"},
                       {"ref":"b","xml":"<B/>"}]})");
    const HttpResponse next = post(agent("/jobs/next"), "{}", token, true);
    ASSERT_EQ(next.status, 200u) << next.body;
    const Json job = Json::parse(next.body).get("job");
    EXPECT_EQ(job.get("id").stringOr(""), "j/1");
    ASSERT_EQ(job.get("requests").items().size(), 2u);
    EXPECT_EQ(job.get("requests").items()[1].get("xml").stringOr(""), "<B/>");
    EXPECT_TRUE(Json::parse(post(agent("/jobs/next"), "{}", token, true).body).get("job").isNull());

    const std::string results =
        R"({"error":null,"results":[{"ok":true,"ref":"a"},{"ok":false,"ref":"b"}]})";
    const HttpResponse done = post(agent("/jobs/j/1/result"), results, token, true);
    ASSERT_EQ(done.status, 200u) << done.body;
    EXPECT_EQ(Json::parse(done.body).get("summary").stringOr(""),
              "Job j/1: 1 of 2 requests carried out");
    EXPECT_EQ(post(agent("/jobs/nope/result"), results, token, true).status, 404u);
    const Json kept = sandbox().call("GET", "/api/results").items().back();
    EXPECT_EQ(kept.get("jobId").stringOr(""), "j/1");
    EXPECT_EQ(kept.get("raw").stringOr(""), results);
}

TEST(SandboxApi, InjectedFailuresComeFirstThenNormalAnswers) {
    const std::string token = pairNewToken();
    sandbox().call("POST", "/api/failures",
                   R"({"endpoint":"heartbeat","status":503,"body":"{\"error\":\"busy\"}"})");
    const HttpResponse failed = post(agent("/heartbeat"), "{}", token, true);
    EXPECT_EQ(failed.status, 503u);
    EXPECT_EQ(failed.body, R"({"error":"busy"})");
    EXPECT_EQ(post(agent("/heartbeat"), "{}", token, true).status, 200u);
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

TEST(SandboxTally, AnswersLikeTally) {
    sandbox().call("POST", "/tally/config", R"({"company":"Sandbox Traders","encoding":"utf8"})");
    EXPECT_EQ(HttpClient(true, 5000).request(L"GET", tallyUrl(), {}, "").body,
              "<RESPONSE>TallyPrime Server is Running</RESPONSE>");
    EXPECT_NE(tally(kExport).body.find("<LEDGER NAME=\"Café Lumière Supplies\""),
              std::string::npos);
    const std::string import =
        "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
        "<REQUESTDATA><TALLYMESSAGE/><TALLYMESSAGE/></REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";
    EXPECT_NE(tally(import).body.find("<CREATED>2</CREATED>"), std::string::npos);
    EXPECT_EQ(trim(tally("<hello/>").body),
              "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>");
    std::string other = kExport;
    other.replace(other.find("Sandbox Traders"), 15, "Other Ltd");
    EXPECT_NE(tally(other).body.find("<LINEERROR>Could not set &apos;SVCurrentCompany&apos; to "
                                     "&apos;Other Ltd&apos;</LINEERROR>"),
              std::string::npos);
    EXPECT_EQ(sandbox().call("GET", "/tally/requests").items().back().get("body").stringOr(""),
              other);

    sandbox().call("POST", "/tally/config", R"({"product":"erp9"})");
    EXPECT_EQ(HttpClient(true, 5000).request(L"GET", tallyUrl(), {}, "").body,
              "<RESPONSE>Tally.ERP 9 Server is Running</RESPONSE>");
    sandbox().call("POST", "/tally/config", R"({"product":"prime"})");
}

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
        EXPECT_TRUE(answer.body != expected);  // really another encoding on the wire
        EXPECT_TRUE(decodeText(answer.body) == expected);
    }
    sandbox().call("POST", "/tally/config", R"({"encoding":"utf8"})");
}

TEST(SandboxTally, MisbehavesOnRequest) {
    sandbox().call("POST", "/tally/config", R"({"status":500})");
    const HttpResponse error = tally(kExport);
    EXPECT_TRUE(error.ok);
    EXPECT_EQ(error.status, 500u);
    sandbox().call("POST", "/tally/config", R"({"status":200,"drop":true})");
    EXPECT_EQ(tally(kExport).error.rfind("Reading the response from 127.0.0.1 failed: ", 0), 0u);
    sandbox().call("POST", "/tally/config", R"({"drop":false,"running":false})");
    EXPECT_EQ(tally(kExport).error.rfind("Could not send request to 127.0.0.1: ", 0), 0u);
    sandbox().call("POST", "/tally/config", R"({"running":true})");
    EXPECT_TRUE(tally(kExport).ok);
}

}  // namespace
}  // namespace tsl
