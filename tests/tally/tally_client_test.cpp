#include "tally/tally_client.h"

#include <gtest/gtest.h>

#include "common/sandbox_client.h"

namespace {

using tsl::testing::base64;
using tsl::testing::ScriptedPeer;

class TallyPeer : public ::testing::Test {
  protected:
    tsl::TallyProbe probeWith(const std::string& reply) {
        peer.script(reply);
        return tsl::TallyClient("127.0.0.1", peer.port()).probe();
    }

    tsl::testing::SandboxControl sandbox;
    ScriptedPeer peer{sandbox};
};

TEST_F(TallyPeer, ProbeTexts) {
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
    struct Case {
        std::string reply;
        bool running;
        std::string info;
    } cases[] = {
        {R"({"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"})", true,
         "TallyPrime Server is Running"},
        {R"({"status":500,"body":"<R>Run<i/>ning</R>"})", true, "Running"},
        {R"({"body":"Run>ning <unclosed tail"})", true, "Running"},
        {R"({"body":"<a> </a>\r\n"})", false, "Unexpected answer from " + base},
        {R"({"body":")" + std::string(300, 'x') + R"("})", false, std::string(200, 'x')},
        // The cut falls inside a "₹" (3 bytes at 199..201): the whole character goes, so the
        // heartbeat carries valid UTF-8.
        {R"({"body":")" + std::string(199, 'x') + "\xE2\x82\xB9 Running" + R"("})", true,
         std::string(199, 'x')},
        {R"({"bodyBase64":")" + base64(std::string("\xFF\xFE<\0R\0>\0R\0u\0n\0n\0i\0n\0g\0", 22)) +
             R"("})",
         true, "Running"},
    };
    for (const Case& c : cases) {
        const tsl::TallyProbe probe = probeWith(c.reply);
        EXPECT_EQ(probe.running, c.running) << c.reply;
        EXPECT_EQ(probe.info, c.info) << c.reply;
    }
    EXPECT_EQ(tsl::testing::callersPart(peer.request(0)), "GET / HTTP/1.1\r\n\r\n");
}

// Tally's default host is "localhost", which may name ::1 first; a Tally listening on 127.0.0.1
// alone (as the peer does) is still reached, within the probe's few seconds.
TEST_F(TallyPeer, LocalhostReachesATallyOnIpv4Only) {
    peer.script(R"({"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>","repeat":true})");
    for (const char* host : {"localhost", "LocalHost", ""})
        EXPECT_TRUE(tsl::TallyClient(host, peer.port()).probe().running) << host;
    EXPECT_EQ(peer.requestCount(), 3u);
}

// No host set: this PC.
TEST(TallyClient, NothingListening) {
    const tsl::TallyProbe probe = tsl::TallyClient("", 1).probe();
    EXPECT_FALSE(probe.running);
    EXPECT_EQ(probe.info,
              "Tally is not running, or its XML server is off (expected at http://localhost:1/)");
}

TEST_F(TallyPeer, PostSendsOneHeaderAndDecodesTheAnswer) {
    const std::string utf16 = std::string("\xFF\xFE", 2) + std::string("<\0A\0>\0\xAC\x20", 8);
    const std::string reply = R"({"status":500,"bodyBase64":")" + base64(utf16) + R"("})";
    peer.script("[" + reply + "," + reply + "]");
    const tsl::TallyClient tally("127.0.0.1", peer.port());
    const tsl::HttpResponse answer = tally.postXml("<ENVELOPE>\xE2\x82\xB9</ENVELOPE>");
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.status, 500u);
    EXPECT_EQ(answer.body, "<A>\xE2\x82\xAC");
    EXPECT_EQ(tsl::testing::callersPart(peer.request(0)),
              "POST / HTTP/1.1\r\nContent-Type:text/xml; charset=utf-8\r\n\r\n"
              "<ENVELOPE>\xE2\x82\xB9</ENVELOPE>");

    // Streamed: the same request, the answer as the JSON string a report carries.
    struct : tsl::AnswerSink {
        std::string text;
        void write(std::string_view piece) override { text += piece; }
        void restart(const std::function<void(std::string_view)>&) override { ADD_FAILURE(); }
    } sink;
    const tsl::HttpResponse streamed = tally.postXmlTo("<ENVELOPE>\xE2\x82\xB9</ENVELOPE>", sink);
    EXPECT_EQ(std::to_string(streamed.status) + streamed.body + sink.text,
              "500\"<A>\xE2\x82\xAC\"");
    EXPECT_EQ(peer.request(1), peer.request(0));
}

}  // namespace
