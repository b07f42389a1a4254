#include "api/api_client.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "common/sandbox_client.h"
#include "common/temp_dir.h"
#include "config/settings.h"
#include "support/text.h"
#include "support/version.h"
#include "tally/answer_encoder.h"

namespace {

using tsl::Json;
using tsl::testing::jsonText;
using tsl::testing::ScriptedPeer;

class ApiClientTest : public ::testing::Test {
  protected:
    // One scripted answer, then the call; returns the message of the ApiError thrown, or
    // "NotPaired", or "(no error)".
    template <typename Call>
    std::string failureOf(const std::string& reply, Call call) {
        peer.script(reply);
        try {
            call();
        } catch (const tsl::ApiError& e) {
            return e.message;
        } catch (const tsl::NotPaired&) {
            return "NotPaired";
        }
        return "(no error)";
    }

    tsl::testing::SandboxControl sandbox;
    ScriptedPeer peer{sandbox};
    tsl::ApiClient paired{peer.url("/api/v1/"), "tok-3n.Z~"};
    tsl::ApiClient unpaired{peer.url("/api"), ""};
};

TEST_F(ApiClientTest, StatusMapping) {
    auto heartbeat = [&] { paired.heartbeat("PC", true, "info"); };
    auto pairing = [&] { unpaired.pair("CODE", "PC"); };
    const std::tuple<const char*, bool, const char*> cases[] = {
        // reply, with a token, error
        {R"({"status":401})", true, "NotPaired"},
        {R"({"status":403,"body":"{\"message\":\"revoked\"}"})", true, "NotPaired"},
        // Not Tessaline's own refusal (a web filter's page): the token is not the matter.
        {R"({"status":403,"body":"<html>Blocked by policy</html>"})", true,
         "Tessaline answered HTTP 403"},
        {R"({"status":401,"body":"{\"message\":\"gone\"}"})", false, "gone"},
        {R"({"status":403,"body":"<html>no</html>"})", false,
         "Tessaline refused the request (HTTP 403)"},
        {R"({"status":403,"body":"{\"error\":\"Invalid code\"}"})", false, "Invalid code"},
        {R"({"status":500,"body":"{\"error\":\"Boom\"}"})", true,
         "Tessaline answered HTTP 500: Boom"},
        {R"({"status":502,"body":"not json"})", true, "Tessaline answered HTTP 502"},
        {R"({"status":500,"body":"{\"message\":\"\",\"error\":\"x\"}"})", true,
         "Tessaline answered HTTP 500"},
        {R"({"status":500,"body":"{\"errors\":{\"message\":\"nested\"}}"})", true,
         "Tessaline answered HTTP 500: nested"},
        {R"({"status":500,"body":"{\"errors\":[\"a\"]}"})", true, "Tessaline answered HTTP 500"},
        {R"({"status":304})", true, "Tessaline answered HTTP 304"},
        {R"({"status":200,"body":""})", true,
         "Unexpected response from Tessaline (Invalid JSON at offset 0: unexpected end) - check "
         "the server address"},
        {R"({"status":200,"body":"<html>"})", true,
         "Unexpected response from Tessaline (Invalid JSON at offset 0: unexpected character) - "
         "check the server address"},
        {R"({"status":200,"body":"[1,2]"})", true, "(no error)"},
    };
    for (const auto& [reply, withToken, expected] : cases)
        EXPECT_EQ(withToken ? failureOf(reply, heartbeat) : failureOf(reply, pairing), expected)
            << reply;
    tsl::ApiClient nowhere("http://127.0.0.1:1/api", "t");
    EXPECT_EQ(failureOf("[]", [&] { nowhere.heartbeat("PC", false, ""); })
                  .rfind("Cannot reach Tessaline: Could not send request to 127.0.0.1: ", 0),
              0u);
}

TEST_F(ApiClientTest, EnvelopeAndBodies) {
    peer.script(R"([{"body":"{\"token\":\"T\",\"organisation\":\"Org\",\"extra\":1}"},)"
                R"({"body":"{}"},)"
                R"({"body":"{\"summary\":\"done\"}"}])");
    const tsl::PairingResult result = unpaired.pair(" code ", "My PC");
    EXPECT_EQ(result.token, "T");
    EXPECT_EQ(result.organisation, "Org");
    EXPECT_EQ(result.companyName, "");
    const tsl::HeartbeatReply reply = paired.heartbeat("My PC", true, "Running");
    EXPECT_FALSE(reply.enabled);
    EXPECT_EQ(reply.pollSeconds, 60);
    std::vector<tsl::JobResult> results = {
        {"r1", true, 200, "<A/>", "", "", 0},
        {"r2", false, 0, "", "Tally stopped responding: x", "", 0}};
    EXPECT_EQ(paired.postResults("../id/with?odd#x",
                                 tsl::ApiClient::resultsArray(std::move(results)), ""),
              "done");

    const std::string version = tsl::kVersion;
    const std::string json =
        "Content-Type:application/json; charset=utf-8\r\nAccept:application/json\r\n";
    EXPECT_EQ(tsl::testing::callersPart(peer.request(0)),
              "POST /api/v1/tally/agent/pair HTTP/1.1\r\n" + json + "\r\n" +
                  R"({"agentVersion":")" + version + R"(","code":" code ","machineName":"My PC"})");
    EXPECT_EQ(tsl::testing::callersPart(peer.request(1)),
              "POST /api/v1/tally/agent/heartbeat HTTP/1.1\r\n" + json +
                  "X-Tally-Connector-Token:tok-3n.Z~\r\n\r\n" + R"({"agentVersion":")" + version +
                  R"(","machineName":"My PC","tallyInfo":"Running","tallyReachable":true})");
    EXPECT_EQ(
        tsl::testing::callersPart(peer.request(2)),
        "POST /api/v1/tally/agent/jobs/..%2Fid%2Fwith%3Fodd%23x/result HTTP/1.1\r\n" + json +
            "X-Tally-Connector-Token:tok-3n.Z~\r\n\r\n" +
            R"({"error":null,"results":[{"body":"<A/>","error":null,"httpStatus":200,"ok":true,"ref":"r1"},)"
            R"({"body":"","error":"Tally stopped responding: x","httpStatus":0,"ok":false,"ref":"r2"}]})");
}

TEST_F(ApiClientTest, AnswersReadWithTheirDefaults) {
    peer.script(
        R"([{"body":"{\"token\":5}"},)"
        R"({"body":"{\"enabled\":1,\"pollSeconds\":12.9,\"companyName\":\"C\",\"syncError\":\"S\"}"},)"
        R"({"body":"{\"pollSeconds\":5}"},)"
        R"({"body":"{\"job\":\"x\",\"pollSeconds\":\"7\"}"},)"
        R"({"body":"{\"job\":{\"id\":\"j\",\"requests\":[3,{\"ref\":\"r\",\"xml\":\"<X/>\"}]}}"},)"
        R"({"body":"{\"job\":{}}"},)"
        R"({"body":"{\"summary\":3}"}])");
    EXPECT_EQ(failureOf("[]", [&] { unpaired.pair("c", "m"); }),
              "Tessaline did not return a connector token");
    const tsl::HeartbeatReply reply = paired.heartbeat("m", false, "");
    EXPECT_FALSE(reply.enabled);
    EXPECT_EQ(reply.pollSeconds, 12);
    EXPECT_EQ(reply.companyName, "C");
    EXPECT_EQ(reply.syncError, "S");
    for (const int expected : {5, 60}) {
        int poll = -1;
        EXPECT_FALSE(paired.nextJob(&poll).has_value() || poll != expected) << poll;
    }
    const auto job = paired.nextJob(nullptr);
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->id, "j");
    EXPECT_EQ(job->kind, "");
    ASSERT_EQ(job->requests.size(), 2u);
    EXPECT_EQ(job->requests[0].ref, "");
    EXPECT_EQ(job->requests[1].xml, "<X/>");
    const auto empty = paired.nextJob(nullptr);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->requests.empty());
    EXPECT_EQ(paired.postResults("j", tsl::ApiClient::resultsArray({}), "job failed"), "");
    const std::string sent = peer.request(6);
    EXPECT_EQ(sent.substr(sent.find("\r\n\r\n") + 4), R"({"error":"job failed","results":[]})");
}

// The report streamed from answer files is, byte for byte, the report of the same answers held
// whole: every encoding, an empty answer, one longer than every buffer on the way, an old inline
// item among them; read in odd pieces too. A file shorter than recorded fails the call.
TEST_F(ApiClientTest, ReportFromAnswerFilesIsTheReportOfWholeAnswers) {
    struct : tsl::AnswerSink {
        std::string text;
        void write(std::string_view piece) override { text += piece; }
        void restart(const std::function<void(std::string_view)>& replay) override {
            replay(std::exchange(text, {}));
        }
    } sink;
    std::string large;
    for (int i = 0; large.size() < (std::size_t{1} << 20) + 7; ++i)
        large += "<L n=\"" + std::to_string(i) + "\">caf\xC3\xA9 \"&\t\xF0\x9F\x98\x80</L>\n";
    const std::string answers[] = {"<A>\"\\\x01\xE2\x82\xAC</A>",
                                   std::string("\xFF\xFE<\0A\0/\0>\0", 10),
                                   std::string("\xFE\xFF\0<\xD8\x3D\xDE\0", 8),
                                   "<A>caf\xE9 \x80</A>",  // UTF-16, ANSI
                                   "",
                                   large};
    const tsl::testing::TempDir folder;
    auto item = [](std::size_t i) {
        Json item;
        item.set("ref", Json(std::string(1, 'r').append(std::to_string(i))));
        item.set("ok", Json(i != 4));
        item.set("httpStatus", Json(200.0 + i)).set("error", i == 4 ? Json("x\"") : Json());
        return item;
    };
    Json whole(Json::Array{}), streamed(Json::Array{});
    for (std::size_t i = 0; i < std::size(answers); ++i) {
        sink.text.clear();
        tsl::AnswerEncoder encoder(sink);
        encoder.feed(answers[i]);
        encoder.finish();
        const std::string name = std::to_string(i) + ".jstr";
        tsl::testing::writeFile(folder.path() / name, sink.text);
        whole.push(item(i).set("body", Json(tsl::decodeText(answers[i]))));
        streamed.push(
            i == 1 ? item(i).set("body", Json(tsl::decodeText(answers[i])))
                   : item(i)
                         .set(tsl::ReportBody::kBodyFile, Json(name))
                         .set(tsl::ReportBody::kBodyBytes, Json(std::to_string(sink.text.size()))));
    }
    peer.script(R"([{"body":"{\"summary\":\"a\"}"},{"body":"{\"summary\":\"b\"}"}])");
    EXPECT_EQ(paired.postResults("j", whole, "e"), "a");
    const tsl::ReportBody report(streamed, "e", folder.path());
    EXPECT_EQ(paired.postReport("j", report), "b");
    const std::string today = peer.request(0), now = peer.request(1);
    ASSERT_EQ(now.substr(now.find("\r\n\r\n")), today.substr(today.find("\r\n\r\n")));
    std::string pieces(report.size(), '\0');
    const tsl::BodySource source = report.source();
    for (std::uint64_t at = 0; at < source.size;)
        at += source.read(at, pieces.data() + at, 7);
    EXPECT_EQ(pieces, today.substr(today.find("\r\n\r\n") + 4));

    tsl::testing::writeFile(folder.path() / "5.jstr", "\"x\"");
    peer.script(R"({"body":"{}"})");
    EXPECT_EQ(failureOf("[]", [&] { paired.postReport("j", report); }),
              "The results could not be sent: The kept answer 5.jstr is shorter than recorded");
}

// A job id from the server can only ever name its own result.
TEST(ApiPaths, JobIdsAreOneSegment) {
    const std::pair<std::string, std::string> cases[] = {
        {"job-1_a.b~", "job-1_a.b~"},
        {"a b", "a%20b"},
        {"..", "%2E%2E"},
        {".", "%2E"},
        {"...", "..."},
        {"../../pair", "..%2F..%2Fpair"},
        {"x#frag?q=1", "x%23frag%3Fq%3D1"},
        {"line\r\nX-Evil: 1", "line%0D%0AX-Evil%3A%201"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {std::string("nul\0x", 5), "nul%00x"},
        {"%2F", "%252F"},
    };
    for (const auto& [id, segment] : cases)
        EXPECT_EQ(tsl::encodePathSegment(id), segment) << segment;
    tsl::ApiClient api("https://h.example/api", "t0ken");
    EXPECT_TRUE(api.canReport(std::string(600, '\n')));  // 1800 bytes once encoded
    EXPECT_FALSE(api.canReport(std::string(700, '\n')));
}

// What carries the token is checked before anything leaves: the address rule and a token that
// a header can carry. Pairing refuses a token it could not use afterwards, and saves nothing.
TEST_F(ApiClientTest, TokenOnlyWhereItBelongs) {
    for (const char* address :
         {"http://192.0.2.1:1/api", "http://localhost.example.com/api", "ftp://127.0.0.1/api"}) {
        tsl::ApiClient api(address, "t0ken");
        EXPECT_EQ(failureOf("[]", [&] { api.heartbeat("PC", true, ""); }),
                  std::string("The server address must start with https:// (plain http only to "
                              "this PC); the connector token is not sent to ") +
                      tsl::normaliseServerUrl(address));
    }
    for (const std::string& token : {std::string("a\r\nX: y"), std::string("a b"),
                                     std::string("caf\xC3\xA9"), std::string(4097, 'a')}) {
        tsl::ApiClient api(peer.url("/api"), token);
        EXPECT_EQ(failureOf("[]", [&] { api.heartbeat("PC", true, ""); }),
                  "The saved connector token cannot be used; pair this PC again");
        EXPECT_EQ(failureOf(R"({"body":)" + jsonText(R"({"token":)" + jsonText(token) + "}") + "}",
                            [&] { unpaired.pair("c", "m"); }),
                  "Tessaline returned a connector token that cannot be used (it is longer than "
                  "4096 bytes or holds blanks, control characters or non-ASCII letters); nothing "
                  "was saved");
    }
    // Only the pairings reached the peer: nothing was sent with an unusable token.
    EXPECT_EQ(peer.requestCount(), 4u);
}

}  // namespace
