// Sync passes against the sandbox, healthy and under faults of the peers and of the files: what
// the user is shown, how long the worker waits, what is logged, and that every job's answers
// reach Tessaline exactly once or stay kept, and that no job reaches Tally twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <thread>

#include "common/process_memory.h"
#include "support/version.h"
#include "sync/kept_results.h"
#include "sync/pass_lock.h"
#include "sync/sync_fixture.h"
#include "sync/sync_status.h"

namespace {

using tsl::SyncState;
using tsl::testing::jsonText;
using tsl::testing::readFile;
using tsl::testing::ScriptedPeer;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SyncCycle : public tsl::testing::SyncFixture {};

TEST_F(SyncCycle, HealthyPassRelaysJobsAndReportsThem) {
    pair();
    sandbox.call("POST", "/api/jobs", R"({"generate":2,"kind":"import"})");
    EXPECT_EQ(engine->runCycle(), 30);  // the sandbox's poll value
    expectShown(SyncState::UpToDate, "Synced with Sandbox Traders");
    const tsl::SyncStatus s = engine->status();
    EXPECT_EQ(s.company, "Sandbox Traders");
    EXPECT_EQ(s.jobsThisSession, 2u);
    EXPECT_EQ(s.lastSync.size(), 16u);                         // DD-MM-YYYY hh:mm
    EXPECT_EQ(config->settings().company, "Sandbox Traders");  // saved from the heartbeat

    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().state, SyncState::Syncing);
    EXPECT_EQ(seen.front().message, "Syncing with Sandbox Traders");

    const tsl::Json results = sandbox.call("GET", "/api/results");
    ASSERT_EQ(results.items().size(), 2u);
    // On the wire: members in key order, Tally's answer as it came.
    const std::string raw = results.items()[0].get("raw").stringOr("");
    EXPECT_EQ(raw.rfind(R"({"error":null,"results":[{"body":")", 0), 0u) << raw.substr(0, 80);
    const std::string tail = R"(","error":null,"httpStatus":200,"ok":true,"ref":"import-1"}]})";
    EXPECT_EQ(raw.substr(raw.size() - std::min(raw.size(), tail.size())), tail);
    EXPECT_NE(raw.find("<CREATED>1</CREATED>"), std::string::npos);

    const std::string id = results.items()[0].get("jobId").stringOr("");
    EXPECT_EQ(logCount("[INFO] Job " + id + " (import): 1 Tally request(s)"), 1);
    EXPECT_EQ(logCount("[INFO]   import-1 -> HTTP 200, "), 1);
    EXPECT_EQ(logCount("[INFO]   Tessaline: Job " + id + ": 1 of 1 requests carried out"), 1);

    const tsl::Json beats = sandbox.call("GET", "/api/heartbeats");
    ASSERT_EQ(beats.items().size(), 1u);
    EXPECT_TRUE(beats.items()[0].get("tallyReachable").boolOr(false));
    EXPECT_EQ(beats.items()[0].get("agentVersion").stringOr(""), tsl::kVersion);
}

// Tessaline's own refusal of the token, at any call: the pairing is forgotten (on disk too),
// answers already taken from Tally stay kept and reach Tessaline once after the next pairing,
// and no job runs in Tally twice. (A proxy's 403 page is no refusal: the API client's tests.)
TEST_F(SyncCycle, TokenRefusedAtEachCallClearsIt) {
    const std::string disconnected = "This PC was disconnected in Tessaline. Pair it again.";
    const char* failures[] = {
        R"({"endpoint":"heartbeat","status":401})",
        R"({"endpoint":"heartbeat","status":403,"body":"{\"message\":\"Removed\"}"})",
        R"({"endpoint":"next","status":401})",
        R"({"endpoint":"result","status":403,"body":"{\"message\":\"Not yours\"}"})",
        // Kept by the pass before, then refused with a 401, which is about the token (a 403 for
        // such answers is about them: SyncFaults.KeptAnswersNeverStallSync).
        R"([{"endpoint":"result","status":503},{"endpoint":"result","status":401}])",
    };
    std::size_t jobs = 0;
    for (const char* failure : failures) {
        SCOPED_TRACE(failure);
        pair();
        const std::string oldToken = config->settings().token;
        const std::string id = queue(R"({"generate":1})");
        failNext(failure);
        EXPECT_EQ(failure[0] == '[' ? engine->runCycle() : 30, 30);  // the pass before
        EXPECT_EQ(engine->runCycle(), 30);
        expectShown(SyncState::NotConnected, disconnected);
        EXPECT_FALSE(tsl::Config(dir.path()).isPaired());
        // Answers only: neither the token nor the job's XML.
        const bool ran = std::string(failure).find("result") != std::string::npos;
        const std::string kept = tsl::testing::readFile(keptFile());
        EXPECT_EQ(kept.find("\"id\":\"" + id + "\"") != std::string::npos, ran);
        EXPECT_EQ(kept.find(oldToken), std::string::npos);
        EXPECT_EQ(kept.find("TALLYMESSAGE"), std::string::npos);
        EXPECT_EQ(engine->status().resultsWaiting, ran ? 1u : 0u);
        // Not paired: nothing goes out at all.
        const std::size_t calls = sandbox.call("GET", "/api/requests").items().size();
        EXPECT_FALSE(engine->syncOnce());
        EXPECT_EQ(engine->status().message, "Pair this PC with Tessaline to start syncing");
        EXPECT_EQ(sandbox.call("GET", "/api/requests").items().size(), calls);

        pair();
        EXPECT_EQ(engine->runCycle(), 30);
        EXPECT_EQ(engine->status().state, SyncState::UpToDate);
        EXPECT_EQ(resultsFor(id), 1u);
        EXPECT_EQ(tallyPosts(), ++jobs);
    }
    // Only the heartbeat's refusals write the extra line.
    EXPECT_EQ(logCount("Tessaline rejected the connector token; pairing is required again"), 2);
}

TEST_F(SyncCycle, ServerSideStates) {
    pair();
    sandbox.call("POST", "/api/settings", R"({"enabled":false,"pollSeconds":5})");
    EXPECT_EQ(engine->runCycle(), 15);
    expectShown(SyncState::SyncOff, "Turn on Tally sync in Tessaline (Accounting > Tally Sync)");

    sandbox.call("POST", "/api/settings",
                 R"({"enabled":true,"pollSeconds":100000,"syncError":"Plan expired"})");
    EXPECT_EQ(engine->runCycle(), 3600);
    expectShown(SyncState::Paused, "Plan expired");

    // Tally is tested before the pause: with both, Tally wins. One that takes the connection
    // and never answers is given up after five seconds, not waited out; no job is asked for.
    const ScriptedPeer tally(sandbox);
    tally.script(R"([{"noAnswer":true,"holdMs":120000},{"close":true,"repeat":true}])");
    useTally(tally.port());
    const std::string id = queue(R"({"generate":1})");
    const auto start = Clock::now();
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_GE(secondsSince(start), 4.5);
    EXPECT_LT(secondsSince(start), 60.0);
    expectShown(SyncState::TallyUnreachable,
                "Tally is not running, or its XML server is off (expected at http://127.0.0.1:" +
                    std::to_string(tally.port()) + "/)");
    EXPECT_FALSE(
        sandbox.call("GET", "/api/heartbeats").items().back().get("tallyReachable").boolOr(true));
    sandbox.call("POST", "/api/settings", R"({"pollSeconds":20,"syncError":""})");
    EXPECT_EQ(engine->runCycle(), 20);
    EXPECT_EQ(sandbox.call("GET", "/api/state").get("queuedJobs").items()[0].stringOr(""), id);
    useTally(sandbox.tallyPort());

    sandbox.call("POST", "/api/settings", R"({"pollSeconds":0,"companyName":""})");
    EXPECT_EQ(engine->runCycle(), 0);  // the job request's own poll value, unlimited
    expectShown(SyncState::UpToDate,
                "Choose the Tally company in Tessaline (Accounting > Tally Sync)");
    EXPECT_EQ(config->settings().company, "");
}

// Tally's own answers are relayed whatever their status; a failed exchange ends the job there.
TEST_F(SyncCycle, TallyFailingInTheMiddleOfAJob) {
    pair();
    ScriptedPeer tally(sandbox);
    tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},)"
                 R"({"status":500,"body":"<ENVELOPE>first</ENVELOPE>"},)"
                 R"({"body":"<ENVELOPE>cut short</ENVELOPE>","cutAfter":5}])");
    useTally(tally.port());
    sandbox.call("POST", "/api/jobs",
                 R"({"id":"j-mid","kind":"vouchers","requests":[{"ref":"a","xml":"<A/>"},)"
                 R"({"ref":"b","xml":"<B/>"},{"ref":"c","xml":"<C/>"}]})");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(tally.requestCount(), 3u);  // probe, a, b; c was never sent

    const tsl::Json results = sandbox.call("GET", "/api/results");
    ASSERT_EQ(results.items().size(), 1u);
    const tsl::Json& body = results.items()[0].get("body");
    const auto& items = body.get("results").items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].dump(), R"({"body":"<ENVELOPE>first</ENVELOPE>","error":null,)"
                               R"("httpStatus":500,"ok":true,"ref":"a"})");
    const std::string error = items[1].get("error").stringOr("");
    expectShown(SyncState::TallyUnreachable,
                "Tally stopped responding: Reading the response from 127.0.0.1 failed*");
    EXPECT_EQ(engine->status().message, error);
    EXPECT_FALSE(items[1].get("ok").boolOr(true));
    EXPECT_EQ(items[2].dump(), R"({"body":"","error":)" + tsl::Json(error).dump() +
                                   R"(,"httpStatus":0,"ok":false,"ref":"c"})");
    EXPECT_EQ(body.get("error").stringOr(""), error);
    EXPECT_EQ(engine->status().jobsThisSession, 1u);

    // A large answer this PC cannot write down is not reported as Tally's: the request fails
    // with the disk's sentence, and the rest of the job is not sent.
    std::filesystem::remove_all(dir.path() / "answers");
    tsl::testing::writeFile(dir.path() / "answers", "");
    tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},)"
                 R"({"size":2097152,"fill":"<D/>"}])");
    sandbox.call("POST", "/api/jobs",
                 R"({"id":"j-disk","kind":"vouchers","requests":[{"ref":"d","xml":"<D/>"},)"
                 R"({"ref":"e","xml":"<E/>"}]})");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(tally.requestCount(), 5u);  // and the probe and d
    const tsl::Json later = sandbox.call("GET", "/api/results");
    ASSERT_EQ(later.items().size(), 2u);
    const auto& lost = later.items()[1].get("body").get("results").items();
    ASSERT_EQ(lost.size(), 2u);
    const std::string sentence = lost[0].get("error").stringOr("");
    EXPECT_EQ(sentence.rfind(tsl::SyncEngine::kAnswerNotWritten, 0), 0u) << sentence;
    EXPECT_FALSE(lost[0].get("ok").boolOr(true));
    EXPECT_EQ(lost[1].get("error").stringOr(""), sentence);
    expectShown(SyncState::AnswersNotWritten,
                sentence.substr(std::string_view(tsl::SyncEngine::kAnswerNotWritten).size()));
}

// Fifty jobs a pass, then a pass at once; the console's passes run until a real wait.
TEST_F(SyncCycle, FiftyJobsPerPassAndSyncOnceRunsUntilARealWait) {
    pair();
    sandbox.call("POST", "/api/jobs", R"({"generate":55,"kind":"export"})");
    EXPECT_EQ(engine->runCycle(), 1);
    EXPECT_EQ(engine->status().jobsThisSession, 50u);
    EXPECT_EQ(engine->status().state, SyncState::Syncing);
    sandbox.call("POST", "/api/jobs", R"({"generate":55})");
    EXPECT_TRUE(engine->syncOnce());  // 5 + 45, then 10 and up to date
    EXPECT_EQ(engine->status().jobsThisSession, 110u);
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    EXPECT_EQ(sandbox.call("GET", "/api/results").items().size(), 110u);
    sandbox.call("POST", "/api/settings", R"({"enabled":false})");
    EXPECT_FALSE(engine->syncOnce());
}

TEST(SyncWait, AtLeastOneSecondAndNoOverflow) {
    using tsl::SyncEngine;
    EXPECT_EQ(SyncEngine::waitMilliseconds(-5), 1000u);
    EXPECT_EQ(SyncEngine::waitMilliseconds(30), 30000u);
    EXPECT_EQ(SyncEngine::waitMilliseconds(2147483647), 2147483647u);
    EXPECT_EQ(SyncEngine::backoffSeconds(40), 300);  // the series itself: SyncFaults
}

// A transport failure's message already begins with the state's words: the console, the log and
// the status dialog show them once.
TEST(SyncStateLine, TheStateWordsAppearOnce) {
    const struct {
        SyncState state;
        const char *message, *line, *detail;
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

class SyncFaults : public tsl::testing::SyncFixture {};

TEST_F(SyncFaults, NothingListeningThenTheServerComesBack) {
    pair();
    const std::string id = queue(R"({"generate":1})");
    std::string gone;
    {
        const ScriptedPeer peer(sandbox);
        gone = peer.url("/tessaline/api");
    }  // its port refuses connections from here on
    const std::string address = config->settings().serverUrl;
    serveFrom(gone);
    std::vector<int> waits;
    for (int i = 0; i < 7; ++i)
        waits.push_back(engine->runCycle());
    EXPECT_EQ(waits, (std::vector<int>{15, 30, 60, 120, 240, 300, 300}));
    expectShown(SyncState::ServerUnreachable,
                "Cannot reach Tessaline: Could not send request to 127.0.0.1: *");
    EXPECT_EQ(tallyPosts(), 0u);
    engine->settingsChanged();
    EXPECT_EQ(engine->runCycle(), 15);  // new settings start the series again

    serveFrom(address);
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    EXPECT_EQ(resultsFor(id), 1u);
    serveFrom(gone);
    EXPECT_EQ(engine->runCycle(), 15);  // so does a success
}

// A server that fails the heartbeat (how the API client words each fault is its own tests'
// matter): the message says how, the wait is the first back-off step, the pass goes no further
// and the PC stays paired.
TEST_F(SyncFaults, HeartbeatFaultsOfTheServer) {
    pair();
    const std::string token = config->settings().token;
    const std::string away = "http://127.0.0.1:1";  // another server: the redirect is refused
    const std::string quoted =
        jsonText("Bad header X-Tally-Connector-Token: " + token + ", try again");
    const std::string cases[][2] = {
        {R"({"status":307,"headers":[["Location",")" + away + R"(/tessaline/api/x"]]})",
         "Cannot reach Tessaline: Refused the redirect (HTTP 307) from 127.0.0.1 to another "
         "server, " +
             away + ": *"},
        // An answer that never ends is cut off at the limit, not taken in whole.
        {R"({"size":100000000,"chunked":true})",
         "Cannot reach Tessaline: The answer from 127.0.0.1 is larger than 1 MB: *"},
        // A server quoting the request back: the token goes no further.
        {R"({"status":500,"body":)" + jsonText("{\"message\":" + quoted + "}") + "}",
         "Tessaline answered HTTP 500: Bad header X-Tally-Connector-Token: [token], try again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        const ScriptedPeer server(sandbox);
        server.script(c[0]);
        serveFrom(server.url("/tessaline/api"));
        engine->settingsChanged();
        EXPECT_EQ(engine->runCycle(), 15);
        expectShown(SyncState::ServerUnreachable, c[1]);
        // The log line names the state once, whether or not the message begins with it.
        const std::string message = engine->status().message, once = "Cannot reach Tessaline: ";
        EXPECT_EQ(logCount("[WARN] " + (message.rfind(once, 0) == 0 ? "" : once) + message), 1);
        EXPECT_EQ(server.requestCount(), 1u);
    }
    EXPECT_TRUE(config->isPaired());
    EXPECT_EQ(tallyPosts(), 0u);
    EXPECT_EQ(logCount(token), 0);
}

// A report that fails in any way but a refused token: the answers stay kept, in the file, and
// reach Tessaline at the next pass, after a restart too. The job, handed out again meanwhile by
// a server tired of waiting for its report, does not run in Tally again.
TEST_F(SyncFaults, FailedReportIsKeptAndDeliveredOnce) {
    pair();
    const std::string cases[][2] = {
        {R"({"status":503})", "Tessaline answered HTTP 503"},
        {R"({"status":200,"body":"{\"summary\":\"Jo"})",
         "Unexpected response from Tessaline (Invalid JSON at offset *"},
        {R"({"status":200,"body":"{\"summary\":\"Job taken\"}","cut":true})",
         "Cannot reach Tessaline: Reading the response from 127.0.0.1 failed: *"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i][0]);
        const std::string id = "kept-" + std::to_string(i);
        const std::string job = R"({"kind":"import","id":")" + id +
                                R"(","requests":[{"ref":"r","xml":"<ENVELOPE/>"}]})";
        queue(job);
        std::string failure = cases[i][0];
        failNext(failure.insert(1, R"("endpoint":"result",)"));
        EXPECT_EQ(engine->runCycle(), 30);
        expectShown(SyncState::ServerUnreachable, cases[i][1]);
        const tsl::SyncStatus s = engine->status();
        EXPECT_EQ(logCount("[WARN] Could not report job " + id + ": " + s.message), 1);
        EXPECT_EQ(seen.back().resultsWaiting, 1u);       // the listener was told with the state
        EXPECT_EQ(s.jobsThisSession, i == 0 ? 0u : 1u);  // the last row's job only
        EXPECT_NE(readFile(keptFile()).find("\"id\":\"" + id + "\""), std::string::npos);
        EXPECT_EQ(resultsFor(id), 0u);

        queue(job);
        restartEngine();
        EXPECT_EQ(engine->status().resultsWaiting, 1u);  // read from the file at the start
        EXPECT_EQ(engine->runCycle(), 30);
        EXPECT_EQ(engine->status().state, SyncState::UpToDate);
        EXPECT_EQ(engine->status().resultsWaiting, 0u);
        EXPECT_EQ(engine->status().jobsThisSession, 1u);
        EXPECT_EQ(engine->status().lastJob, "import: Job " + id + ": 1 of 1 requests carried out");
        EXPECT_EQ(resultsFor(id), 1u);
        EXPECT_EQ(tallyPosts(), i + 1);
        EXPECT_FALSE(std::filesystem::exists(keptFile()));
        EXPECT_EQ(
            logCount("[INFO] Job " + id + " (import): reporting the results kept from before"), 1);
    }
    EXPECT_EQ(logCount("[INFO] Results of 1 job(s) are waiting to be reported to Tessaline"),
              static_cast<int>(std::size(cases)));
}

// Kept answers never stall sync for long: refused for good (a 4xx that does not ask to come
// back), they are set aside at once; refused otherwise, only once both bounds are passed; ones
// that cannot be sent at all, at once. The jobs behind them then flow in the same pass.
TEST_F(SyncFaults, KeptAnswersNeverStallSync) {
    pair();
    const tsl::Settings settings = config->settings();
    const tsl::Pairing pairing{tsl::normaliseServerUrl(settings.serverUrl), settings.organisation};
    const std::int64_t now = std::time(nullptr);
    const std::string answered = "Tessaline answered HTTP ";
    struct Case {
        std::string id;
        std::uint32_t attempts;
        int hoursAgo;
        int status;          // of the refusal; 0: the report is cut short; -1: not sent
        std::string reason;  // "" = still kept
    } cases[] = {
        {"bad", 0, 0, 400, answered + "400: No such job"},
        {"gone", 0, 0, 499, answered + "499: No such job"},
        {"timeout", 0, 0, 408, ""},
        {"too-early", 0, 0, 425, ""},
        {"too-many", 0, 0, 429, ""},
        // Refused with the token this pass's heartbeat went through with: about the answers.
        {"not-yours", 0, 0, 403, "Tessaline refused them with the token it accepts from this PC"},
        {"refused-long", 9, 25, 500,
         answered + "500: No such job (refused 10 times since it was kept)"},
        {"refused-recently", 9, 23, 500, ""},
        {"refused-twice", 1, 1000, 500, ""},
        {"unreachable-long", 50, 1000, 0, ""},  // no answer: not counted
        {std::string(3000, 'k'), 0, 0, -1, "its id cannot be part of an address"},
    };
    std::uint64_t aside = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id.substr(0, 20));
        std::filesystem::remove(keptFile());
        tsl::KeptResults(keptFile())
            .keep({c.id, "import", tsl::Json(tsl::Json::Array{}), "", pairing, c.attempts,
                   now - c.hoursAgo * 3600, 0});
        if (c.status > 0) {
            failNext(R"({"endpoint":"result","status":)" + std::to_string(c.status) +
                     R"(,"body":"{\"message\":\"No such job\"}"})");
        } else if (c.status == 0) {
            failNext(R"({"endpoint":"result","status":200,"body":"{}","cut":true})");
        }
        const std::string next = queue(R"({"generate":1})");
        EXPECT_EQ(engine->runCycle(), 30);
        if (c.reason.empty()) {
            EXPECT_EQ(engine->status().state, SyncState::ServerUnreachable);
            EXPECT_EQ(engine->status().resultsWaiting, 1u);
            EXPECT_EQ(resultsFor(next), 0u);
            tsl::KeptResults store(keptFile());
            store.reload(pairing);
            ASSERT_NE(store.find(c.id), nullptr);
            EXPECT_EQ(store.find(c.id)->attempts, c.attempts + (c.status > 0 ? 1 : 0));
            continue;
        }
        EXPECT_EQ(engine->status().state, SyncState::UpToDate);
        EXPECT_EQ(resultsFor(next), 1u);  // and those queued behind the kept ones
        EXPECT_EQ(resultsFor(c.id), 0u);
        EXPECT_EQ(engine->status().resultsSetAside, ++aside);
        EXPECT_NE(readFile(asideFile()).find("\"id\":\"" + c.id + "\""), std::string::npos);
        const std::string shownId = c.id.size() > 100 ? c.id.substr(0, 100) + "..." : c.id;
        EXPECT_EQ(logCount("[ERROR] The results of job " + shownId +
                           " (import) were set aside in kept-results.set-aside.json: " + c.reason),
                  1);
    }
    restartEngine();
    EXPECT_EQ(engine->status().resultsSetAside, aside);  // counted from the file at start
}

// Answers kept under one pairing are never sent under another: after pairing with another
// organisation they are set aside, and the new pairing stays.
TEST_F(SyncFaults, KeptAnswersBelongToTheirPairing) {
    pair();
    const std::string id = queue(R"({"generate":1})");
    failNext(R"({"endpoint":"result","status":503})");
    EXPECT_EQ(engine->runCycle(), 30);
    sandbox.call("POST", "/api/settings", R"({"organisation":"Other Books"})");
    pair();
    const std::string token = config->settings().token;
    ASSERT_EQ(config->settings().organisation, "Other Books");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    EXPECT_EQ(engine->status().resultsSetAside, 1u);  // shown at once, no other job behind
    EXPECT_EQ(engine->status().resultsWaiting, 0u);
    EXPECT_EQ(resultsFor(id), 0u);
    EXPECT_EQ(config->settings().token, token);
    EXPECT_EQ(logCount("[WARN] The results of job " + id + " (import) belong to another pairing (" +
                       sandbox.apiUrl() +
                       ", Sandbox Organisation) and were set aside in kept-results.set-aside.json"),
              1);
    EXPECT_NE(readFile(asideFile()).find(id), std::string::npos);
}

// Ids in any shape reach their own report, each encoded into its own part of the address; an
// id too long for any address is not run in Tally at all, and the pass goes on with the next.
TEST_F(SyncFaults, JobIdsOfAnyShapeReachTheirOwnReport) {
    pair();
    const std::string longId(3000, 'L');
    const std::string ids[] = {"with blank", "caf\xC3\xA9", "ctl\x01\x7F",
                               "../../pair", "x#frag",      "a/b?c=1&d=%2F"};
    std::string jobs;
    for (const std::string& id : {ids[0], ids[1], ids[2], longId, ids[3], ids[4], ids[5]}) {
        jobs += (jobs.empty() ? "[" : ",") + std::string(R"({"kind":"import","id":)") +
                jsonText(id) + R"(,"requests":[{"ref":"r","xml":"<ENVELOPE/>"}]})";
    }
    sandbox.call("POST", "/api/jobs", jobs + "]");
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);
    for (const std::string& id : ids) {
        SCOPED_TRACE(id);
        EXPECT_EQ(resultsFor(id), 1u);
    }
    EXPECT_EQ(resultsFor(longId), 0u);
    EXPECT_EQ(tallyPosts(), std::size(ids));
    EXPECT_EQ(logCount("[ERROR] Job " + longId.substr(0, 100) +
                       "... (import) was not run in Tally: its id cannot be part of an address"),
              1);
}

// 64 MB from Tally reaches Tessaline byte for byte, through the kept file, with the process
// holding no more than a few copies of it at any time.
TEST_F(SyncFaults, LargeTallyAnswerIsRelayedIntact) {
    pair();
    constexpr std::size_t kSize = 64u << 20;
    const std::string fill = "<LEDGER NAME=\"Caf\xC3\xA9\">x</LEDGER>\r\n";
    const ScriptedPeer tally(sandbox);
    tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},{"size":)" +
                 std::to_string(kSize) + R"(,"fill":)" + jsonText(fill) + "}]");
    useTally(tally.port());
    const std::string id = queue(R"({"kind":"export","requests":[{"ref":"big","xml":"<E/>"}]})");

    // No earlier test of this program comes near such a peak.
    const std::size_t before = tsl::testing::currentMemoryBytes();
    EXPECT_EQ(engine->runCycle(), 30);
    const std::size_t peak = tsl::testing::peakMemoryBytes();
    EXPECT_EQ(engine->status().state, SyncState::UpToDate);

    const tsl::Json digest = sandbox.call("GET", "/api/results/digest");
    ASSERT_EQ(digest.items().size(), 1u);
    const tsl::Json& item = digest.items()[0].get("results").items()[0];
    EXPECT_EQ(digest.items()[0].get("jobId").stringOr(""), id);
    EXPECT_EQ(static_cast<std::size_t>(item.get("size").intOr(0)), kSize);
    // The expected body: the fill repeated, the last copy cut at the size.
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t at = 0; at < kSize; ++at)
        hash = (hash ^ static_cast<unsigned char>(fill[at % fill.size()])) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    EXPECT_EQ(item.get("fnv1a").stringOr(""), hex);

    const double copies = static_cast<double>(peak - before) / kSize;
    std::printf("64 MB relay: peak above the start %.2f x the answer\n", copies);
#if !defined(__SANITIZE_THREAD__)  // whose shadow memory makes the figure mean nothing
    // Streamed from Tally to a file and from the file to Tessaline: never whole in memory.
    EXPECT_LT(peak - before, std::size_t{32} << 20);
#endif
}

// A stop while Tally works on a request ends the exchange and the pass there: the request in
// flight is reported as possibly carried out, the rest as not sent, nothing is shown as a
// trouble, and the answers are kept and reach Tessaline once, at the next start. No request
// reaches Tally twice.
TEST_F(SyncFaults, StopEndsAJobInFlight) {
    pair();
    const ScriptedPeer tally(sandbox);
    tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},)"
                 R"({"body":"<ONE/>"},{"noAnswer":true,"holdMs":120000}])");
    useTally(tally.port());
    const std::string id =
        queue(R"({"kind":"import","requests":[{"ref":"a","xml":"<A/>"},{"ref":"b","xml":"<B/>"},)"
              R"({"ref":"c","xml":"<C/>"}]})");
    engine->start();
    for (int i = 0; i < 3000 && tally.requestCount() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(tally.requestCount(), 3u);  // the probe, "a" answered, "b" in flight
    const auto stopping = Clock::now();
    engine->stop();
    EXPECT_LT(secondsSince(stopping), 60.0);  // ended, not waited out (Tally holds it 120 s)
    EXPECT_EQ(tally.requestCount(), 3u);      // "c" was not sent
    EXPECT_EQ(engine->status().state, SyncState::Syncing);
    EXPECT_EQ(logCount("[WARN]"), 0);
    EXPECT_EQ(resultsFor(id), 0u);  // the report could not go out either
    EXPECT_EQ(engine->status().resultsWaiting, 1u);
    EXPECT_EQ(logCount("[INFO] Job " + id +
                       " (import): the connector stopped before Tessaline took the results; "
                       "they are kept"),
              1);

    useTally(sandbox.tallyPort());
    restartEngine();
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(resultsFor(id), 1u);
    EXPECT_EQ(tallyPosts(), 0u);
    const std::string inFlight = tsl::SyncEngine::kStoppedInFlight;
    const tsl::Json reports = sandbox.call("GET", "/api/results");
    ASSERT_EQ(reports.items().size(), 1u);
    const tsl::Json& body = reports.items()[0].get("body");
    EXPECT_EQ(body.get("error").stringOr(""), inFlight);
    EXPECT_EQ(body.get("results").dump(),
              R"([{"body":"<ONE/>","error":null,"httpStatus":200,"ok":true,"ref":"a"},)"
              R"({"body":"","error":")" +
                  inFlight + R"(","httpStatus":0,"ok":false,"ref":"b"},{"body":"","error":")" +
                  tsl::SyncEngine::kNotSentStopped + R"(","httpStatus":0,"ok":false,"ref":"c"}])");
}

// Two copies of the connector on one PC. While one is in a pass the other does no network work
// at all: the console says so and fails, the worker just tries again shortly without a warning.
// Taking turns, what one kept the other reports; neither reports it again from what it
// remembers, nor writes back a file that forgets it.
TEST_F(SyncFaults, TwoCopiesOnOnePc) {
    pair();
    tsl::SyncEngine other(*config, nullptr);  // started before anything was kept
    const std::string first = queue(R"({"generate":1})");
    failNext(R"({"endpoint":"result","status":503})");
    EXPECT_EQ(engine->runCycle(), 30);
    const std::string second = queue(R"({"generate":1})");
    const auto sent = [&] {
        return sandbox.call("GET", "/api/requests").items().size() +
               sandbox.call("GET", "/tally/requests").items().size();
    };
    {
        const tsl::PassLock lock(dir.path() / tsl::SyncEngine::kLockFileName);
        ASSERT_TRUE(lock.taken());
        EXPECT_TRUE(tsl::PassLock(dir.path() / "none" / "x.lock").taken());  // no folder: no wait
        const std::size_t shown = seen.size(), before = sent();
        const int warnings = logCount("[WARN]");
        EXPECT_EQ(engine->runCycle(), tsl::SyncEngine::kAnotherCopyWaitSeconds);
        EXPECT_EQ(seen.size(), shown);
        EXPECT_FALSE(engine->syncOnce());
        expectShown(SyncState::Syncing, "Another copy of the connector is syncing on this PC");
        EXPECT_EQ(sent(), before);
        EXPECT_EQ(logCount("[WARN]"), warnings);
    }
    EXPECT_EQ(other.runCycle(), 30);
    EXPECT_EQ(resultsFor(first), 1u);
    EXPECT_EQ(resultsFor(second), 1u);
    EXPECT_EQ(engine->runCycle(), 30);
    EXPECT_EQ(resultsFor(first), 1u);
    EXPECT_EQ(tallyPosts(), 2u);
    EXPECT_EQ(engine->status().resultsWaiting, 0u);
}

// Settings edited by hand are checked before anything carries the token: nothing is sent.
TEST_F(SyncFaults, StoredAddressAndTokenAreCheckedBeforeAnyCall) {
    pair();
    const tsl::Settings paired = config->settings();
    const std::string unusable = "The saved connector token cannot be used; pair this PC again";
    struct Case {
        std::string address, token, message;
    } cases[] = {
        {"http://192.0.2.1:1/x", paired.token,
         "The server address must start with https:// (plain http only to this PC); the "
         "connector token is not sent to http://192.0.2.1:1/x"},
        {paired.serverUrl, "tc_abc\r\nX-Injected: 1", unusable},
        {paired.serverUrl, std::string(5000, 't'), unusable},
    };
    sandbox.call("POST", "/api/clear");
    sandbox.call("POST", "/tally/clear");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        tsl::Settings s = paired;
        s.serverUrl = c.address;
        s.token = c.token;
        config->save(s);
        EXPECT_EQ(engine->runCycle(), 30);
        expectShown(SyncState::NotConnected, c.message);
        EXPECT_TRUE(config->isPaired());
    }
    EXPECT_EQ(sandbox.call("GET", "/api/requests").items().size(), 0u);
    EXPECT_EQ(sandbox.call("GET", "/tally/requests").items().size(), 0u);
}

}  // namespace
