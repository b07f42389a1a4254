#include <gtest/gtest.h>

#include "support/version.h"
#include "sync/sync_fixture.h"

namespace {

using tsl::SyncState;
using tsl::testing::jsonText;

class SyncCycle : public tsl::testing::SyncFixture {};

TEST_F(SyncCycle, NotPairedDoesNothingElse) {
    EXPECT_EQ(engine->runCycle(), 30);
    const tsl::SyncStatus s = engine->status();
    EXPECT_EQ(s.state, SyncState::NotConnected);
    EXPECT_EQ(s.message, "Pair this PC with Tessaline to start syncing");
    EXPECT_EQ(sandbox.call("GET", "/api/heartbeats").items().size(), 0u);
    EXPECT_EQ(sandbox.call("GET", "/tally/requests").items().size(), 0u);
    EXPECT_TRUE(engine->syncOnce() == false);
}

TEST_F(SyncCycle, HealthyPassRelaysJobsAndReportsThem) {
    pair();
    sandbox.call("POST", "/api/jobs", R"({"generate":2,"kind":"import"})");
    EXPECT_EQ(engine->runCycle(), 30);  // the sandbox's poll value
    const tsl::SyncStatus s = engine->status();
    EXPECT_EQ(s.state, SyncState::UpToDate);
    EXPECT_EQ(s.message, "Synced with Sandbox Traders");
    EXPECT_EQ(s.company, "Sandbox Traders");
    EXPECT_EQ(s.jobsThisSession, 2u);
    EXPECT_EQ(s.lastJob.rfind("import: Job job-", 0), 0u) << s.lastJob;
    EXPECT_EQ(s.lastSync.size(), 16u);                         // DD-MM-YYYY hh:mm
    EXPECT_EQ(config->settings().company, "Sandbox Traders");  // saved from the heartbeat

    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().state, SyncState::Syncing);
    EXPECT_EQ(seen.front().message, "Syncing with Sandbox Traders");

    const tsl::Json results = sandbox.call("GET", "/api/results");
    ASSERT_EQ(results.items().size(), 2u);
    const tsl::Json& first = results.items()[0].get("body");
    EXPECT_TRUE(first.get("error").isNull());
    const tsl::Json& item = first.get("results").items()[0];
    EXPECT_EQ(item.get("ref").stringOr(""), "import-1");
    EXPECT_TRUE(item.get("ok").boolOr(false));
    EXPECT_EQ(item.get("httpStatus").intOr(0), 200);
    EXPECT_NE(item.get("body").stringOr("").find("<CREATED>1</CREATED>"), std::string::npos);
    EXPECT_TRUE(item.get("error").isNull());
    // Members in key order on the wire.
    const std::string raw = results.items()[0].get("raw").stringOr("");
    EXPECT_EQ(raw.rfind("{\"error\":null,\"results\":[{\"body\":", 0), 0u) << raw.substr(0, 80);

    const std::string id = results.items()[0].get("jobId").stringOr("");
    EXPECT_EQ(logCount("[INFO] Job " + id + " (import): 1 Tally request(s)"), 1);
    EXPECT_EQ(logCount("[INFO]   import-1 -> HTTP 200, "), 1);
    EXPECT_EQ(logCount("[INFO]   Tessaline: Job " + id + ": 1 of 1 requests carried out"), 1);

    const tsl::Json beats = sandbox.call("GET", "/api/heartbeats");
    ASSERT_EQ(beats.items().size(), 1u);
    EXPECT_TRUE(beats.items()[0].get("tallyReachable").boolOr(false));
    EXPECT_EQ(beats.items()[0].get("agentVersion").stringOr(""), tsl::kVersion);
}

TEST_F(SyncCycle, TokenRefusedAtEachCallClearsIt) {
    for (const char* endpoint : {"heartbeat", "next", "result"}) {
        SCOPED_TRACE(endpoint);
        pair();
        sandbox.call("POST", "/api/jobs", R"({"generate":1})");
        sandbox.call("POST", "/api/failures",
                     std::string(R"({"endpoint":")") + endpoint + R"(","status":401})");
        EXPECT_EQ(engine->runCycle(), 30);
        const tsl::SyncStatus s = engine->status();
        EXPECT_EQ(s.state, SyncState::NotConnected);
        EXPECT_EQ(s.message, "This PC was disconnected in Tessaline. Pair it again.");
        EXPECT_FALSE(config->isPaired());
        EXPECT_FALSE(tsl::Config(dir.path()).isPaired());  // also forgotten on disk
        EXPECT_EQ(engine->runCycle(), 30);
        EXPECT_EQ(engine->status().message, "Pair this PC with Tessaline to start syncing");
        sandbox.call("POST", "/api/clear");
    }
    // Only the heartbeat's refusal writes the extra line.
    EXPECT_EQ(logCount("Tessaline rejected the connector token; pairing is required again"), 1);
}

TEST_F(SyncCycle, ServerSideStates) {
    pair();
    sandbox.call("POST", "/api/settings", R"({"enabled":false,"pollSeconds":5})");
    EXPECT_EQ(engine->runCycle(), 15);
    EXPECT_EQ(engine->status().state, SyncState::SyncOff);
    EXPECT_EQ(engine->status().message,
              "Turn on Tally sync in Tessaline (Accounting > Tally Sync)");

    sandbox.call("POST", "/api/settings",
                 R"({"enabled":true,"pollSeconds":100000,"syncError":"Plan expired"})");
    EXPECT_EQ(engine->runCycle(), 3600);
    EXPECT_EQ(engine->status().state, SyncState::Paused);
    EXPECT_EQ(engine->status().message, "Plan expired");

    // Tally is tested before the pause: with both, Tally wins.
    sandbox.call("POST", "/tally/config", R"({"running":false})");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().state, SyncState::TallyUnreachable);
    EXPECT_EQ(engine->status().message,
              "Tally is not running, or its XML server is off (expected at http://127.0.0.1:" +
                  std::to_string(sandbox.tallyPort()) + "/)");
    sandbox.call("POST", "/api/settings", R"({"pollSeconds":20,"syncError":""})");
    EXPECT_EQ(engine->runCycle(), 20);
    sandbox.call("POST", "/tally/config", R"({"running":true})");

    sandbox.call("POST", "/api/settings", R"({"pollSeconds":0,"companyName":""})");
    EXPECT_EQ(engine->runCycle(), 0);  // the job request's own poll value, unlimited
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    EXPECT_EQ(engine->status().message,
              "Choose the Tally company in Tessaline (Accounting > Tally Sync)");
    EXPECT_EQ(config->settings().company, "");
}

TEST_F(SyncCycle, TallyFailingInTheMiddleOfAJob) {
    pair();
    tsl::testing::ScriptedPeer tally(sandbox);
    tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},)"
                 R"({"body":"<ENVELOPE>first</ENVELOPE>"},)"
                 R"({"body":"<ENVELOPE>cut short</ENVELOPE>","cutAfter":5}])");
    tsl::Settings s = config->settings();
    s.tallyPort = tally.port();
    config->save(s);
    sandbox.call("POST", "/api/jobs",
                 R"({"id":"j-mid","kind":"vouchers","requests":[{"ref":"a","xml":"<A/>"},)"
                 R"({"ref":"b","xml":"<B/>"},{"ref":"c","xml":"<C/>"}]})");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().state, SyncState::TallyUnreachable);
    EXPECT_EQ(tally.requestCount(), 3u);  // probe, a, b; c was never sent

    const tsl::Json results = sandbox.call("GET", "/api/results");
    ASSERT_EQ(results.items().size(), 1u);
    const tsl::Json& body = results.items()[0].get("body");
    const auto& items = body.get("results").items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_TRUE(items[0].get("ok").boolOr(false));
    EXPECT_EQ(items[0].get("body").stringOr(""), "<ENVELOPE>first</ENVELOPE>");
    const std::string error = items[1].get("error").stringOr("");
    EXPECT_EQ(
        error.rfind("Tally stopped responding: Reading the response from 127.0.0.1 failed", 0), 0u)
        << error;
    EXPECT_FALSE(items[1].get("ok").boolOr(true));
    EXPECT_EQ(items[2].get("error").stringOr(""), error);
    EXPECT_EQ(items[2].get("httpStatus").intOr(-1), 0);
    EXPECT_EQ(body.get("error").stringOr(""), error);
    EXPECT_EQ(engine->status().message, error);
    EXPECT_EQ(engine->status().jobsThisSession, 1u);
}

TEST_F(SyncCycle, FiftyJobsPerPass) {
    pair();
    sandbox.call("POST", "/api/jobs", R"({"generate":60,"kind":"export"})");
    EXPECT_EQ(engine->runCycle(), 1);
    EXPECT_EQ(engine->status().jobsThisSession, 50u);
    EXPECT_EQ(engine->status().state, SyncState::Syncing);
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().jobsThisSession, 60u);
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    EXPECT_EQ(sandbox.call("GET", "/api/results").items().size(), 60u);
}

TEST_F(SyncCycle, SyncOnceRunsUntilARealWait) {
    pair();
    sandbox.call("POST", "/api/jobs", R"({"generate":55})");
    EXPECT_TRUE(engine->syncOnce());  // 50, then 5 and up to date
    EXPECT_EQ(engine->status().jobsThisSession, 55u);
    sandbox.call("POST", "/api/settings", R"({"enabled":false})");
    EXPECT_FALSE(engine->syncOnce());
}

TEST(SyncWait, AtLeastOneSecondAndNoOverflow) {
    EXPECT_EQ(tsl::SyncEngine::waitMilliseconds(0), 1000u);
    EXPECT_EQ(tsl::SyncEngine::waitMilliseconds(-5), 1000u);
    EXPECT_EQ(tsl::SyncEngine::waitMilliseconds(30), 30000u);
    EXPECT_EQ(tsl::SyncEngine::waitMilliseconds(2147483647), 2147483647u);
    EXPECT_EQ(tsl::SyncEngine::backoffSeconds(0), 15);
    EXPECT_EQ(tsl::SyncEngine::backoffSeconds(40), 300);
}

// A transport failure's message already begins with the state's words: the console, the log and
// the status dialog show them once.
TEST(SyncStateLine, TheStateWordsAppearOnce) {
    const struct {
        SyncState state;
        const char* message;
        const char* line;
        const char* detail;
    } cases[] = {
        {SyncState::ServerUnreachable, "Cannot reach Tessaline: Could not connect",
         "Cannot reach Tessaline: Could not connect", "Could not connect"},
        {SyncState::ServerUnreachable, "Tessaline answered HTTP 500",
         "Cannot reach Tessaline: Tessaline answered HTTP 500", "Tessaline answered HTTP 500"},
        {SyncState::ServerUnreachable, "Cannot reach Tessaline", "Cannot reach Tessaline", ""},
        {SyncState::ServerUnreachable, "Cannot reach Tessaline's mirror",
         "Cannot reach Tessaline: Cannot reach Tessaline's mirror",
         "Cannot reach Tessaline's mirror"},
        {SyncState::TallyUnreachable, "Cannot reach Tessaline: x",
         "Tally is not reachable: Cannot reach Tessaline: x", "Cannot reach Tessaline: x"},
        {SyncState::UpToDate, "", "Up to date", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tsl::stateLine(c.state, c.message), c.line);
        EXPECT_EQ(tsl::stateDetail(c.state, c.message), c.detail);
    }
}

}  // namespace
