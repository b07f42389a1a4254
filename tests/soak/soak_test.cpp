// A bounded soak of the sync worker against the sandbox: many small jobs while faults of the
// peers come and go at random, restarts of the engine among them. Afterwards every job's
// answers reached Tessaline exactly once and for the right job, no request reached Tally twice,
// and memory (and on Windows the handle count) stayed flat after the warm-up. The fault phase
// is counted in rounds and the drain in passes, never in time: a slow machine does less work in
// a round, nothing else. TSL_SOAK_ROUNDS sets the rounds (a tenth of a second each, default
// 500), TSL_SOAK_SEED the random seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/process_memory.h"
#include "sync/sync_fixture.h"

namespace {

using namespace std::chrono_literals;
using tsl::Json;

int envNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    const int number = value ? std::atoi(value) : 0;
    return number > 0 ? number : fallback;
}

// The medians of the middle and of the last third of the samples.
std::pair<std::size_t, std::size_t> thirds(std::vector<std::size_t> samples) {
    const auto median = [](auto from, auto to) {
        std::nth_element(from, from + (to - from) / 2, to);
        return *(from + (to - from) / 2);
    };
    const auto third = samples.begin() + samples.size() / 3;
    const auto last = samples.begin() + 2 * (samples.size() / 3);
    return {median(third, last), median(last, samples.end())};
}

class Soak : public tsl::testing::SyncFixture {
  protected:
    void SetUp() override {
        SyncFixture::SetUp();
        pair();
        restart();
    }

    // The worker of a new engine, as after a restart of the program; no listener.
    void restart() {
        engine.reset();
        engine = std::make_unique<tsl::SyncEngine>(*config, nullptr);
        engine->start();
    }

    // Ends Tally's last fault, then begins a fault of the server or of Tally, or restarts.
    void injectFault() {
        const std::string faults[] = {
            R"({"endpoint":"heartbeat","status":500,"count":2})",
            R"({"endpoint":"heartbeat","status":401})",
            R"({"endpoint":"next","status":503})",
            R"({"endpoint":"next","status":200,"body":"<html>"})",
            R"({"endpoint":"next","status":0,"delayMs":700})",
            R"({"endpoint":"result","status":503})",
            R"({"endpoint":"result","status":200,"body":"{}","cut":true})",
            R"({"endpoint":"result","status":200,"body":"<html>"})",
            R"({"endpoint":"result","status":401})",
            R"({"drop":true})",
            R"({"running":false})",
            R"({"status":500})",
            R"({"encoding":"utf16le"})",
            R"({"delayMs":150})",
        };
        calmTally();
        const std::size_t pick = rng() % (std::size(faults) + 1);
        if (pick == std::size(faults)) {
            restart();
        } else {
            const bool server = faults[pick].find("endpoint") != std::string::npos;
            sandbox.call("POST", server ? "/api/failures" : "/tally/config", faults[pick]);
        }
    }
    void calmTally() {
        sandbox.call("POST", "/tally/config",
                     R"({"drop":false,"running":true,"status":200,"encoding":"utf8","delayMs":0})");
    }

    // Queues a batch of small jobs; each request names itself in the XML.
    void queueJobs(int count) {
        std::string batch;
        for (int i = 0; i < count; ++i) {
            const std::string id = "soak-" + std::to_string(jobs.size() + 1);
            std::string requests;
            for (int r = 1, n = 1 + static_cast<int>(rng() % 3); r <= n; ++r) {
                const std::string ref = id + "-" + std::to_string(r);
                jobs[id].push_back(ref);
                requests += R"(,{"ref":")" + ref +
                            R"(","xml":"<ENVELOPE><HEADER><TALLYREQUEST>Import</TALLYREQUEST>)"
                            R"(</HEADER><BODY><DATA><TALLYMESSAGE><LEDGER NAME=\")" +
                            ref + R"(\"/></TALLYMESSAGE></DATA></BODY></ENVELOPE>"})";
            }
            batch += R"(,{"kind":"import","id":")" + id + R"(","requests":[)" + requests.substr(1) +
                     "]}";
        }
        sandbox.call("POST", "/api/jobs", "[" + batch.substr(1) + "]");
    }
    std::size_t queued() const {
        return sandbox.call("GET", "/api/state").get("queuedJobs").items().size();
    }

    // The user pairs again when Tessaline refused the token, and asks for a pass now and then,
    // so that the back-off does not stretch the run.
    void tick() {
        if (!config->isPaired()) {
            pair();
            engine->settingsChanged();
        }
        engine->syncNow();
        std::this_thread::sleep_for(100ms);
    }

    std::mt19937 rng{static_cast<unsigned>(envNumber("TSL_SOAK_SEED", 20261206))};
    std::map<std::string, std::vector<std::string>> jobs;  // id -> request refs
};

TEST_F(Soak, WorkerUnderRandomFaultsLosesNothing) {
    // At least 200: the memory check compares thirds of one sample every ten after warm-up.
    const int rounds = std::max(200, envNumber("TSL_SOAK_ROUNDS", 500));
    std::vector<std::size_t> memory, heap, handles;
    for (int t = 0; t < rounds; ++t) {
        if (t % 4 == 0) {
            if (queued() < 15) queueJobs(15);
            injectFault();
        }
        if (t % 10 == 0) {
            memory.push_back(tsl::testing::currentMemoryBytes());
            heap.push_back(tsl::testing::heapBytes());
            handles.push_back(tsl::testing::openHandleCount());
        }
        tick();
    }

    // Calm, then passes on this thread until everything queued or kept arrived. Tessaline gives
    // up waiting for reports that are overdue: a restart may have cut the worker off while the
    // answer carrying a job was on its way. Such a job never reached the connector and must run
    // now, once; one the connector did see must not run in Tally again.
    calmTally();
    restartEngine();
    bool handedAgain = false;
    for (int pass = 0; pass < 200; ++pass) {
        if (!config->isPaired()) pair();
        engine->runCycle();
        if (queued() > 0 || engine->status().resultsWaiting > 0) continue;
        if (handedAgain || sandbox.call("GET", "/api/results/digest").items().size() >= jobs.size())
            break;
        sandbox.call("POST", "/api/jobs/unreported");
        handedAgain = true;
    }
    engine.reset();

    std::map<std::string, int> reports;
    const Json digest = sandbox.call("GET", "/api/results/digest");
    for (const Json& report : digest.items()) {
        const std::string id = report.get("jobId").stringOr("");
        std::vector<std::string> refs;
        for (const Json& item : report.get("results").items())
            refs.push_back(item.get("ref").stringOr(""));
        EXPECT_TRUE(jobs.count(id) && jobs[id] == refs) << "the report of " << id;
        ++reports[id];
    }
    for (const auto& [id, refs] : jobs)
        EXPECT_EQ(reports[id], 1) << id << " reported " << reports[id] << " times";
    EXPECT_FALSE(std::filesystem::exists(keptFile()));

    std::map<std::string, int> runs;  // by the XML sent, which names its request
    const Json requests = sandbox.call("GET", "/tally/requests");
    for (const Json& request : requests.items())
        if (request.get("method").stringOr("") == "POST") ++runs[request.get("body").stringOr("")];
    for (const auto& [xml, n] : runs)
        EXPECT_EQ(n, 1) << xml << " reached Tally " << n << " times";

    ASSERT_GE(heap.size(), 6u);
    const auto [memoryBefore, memoryAfter] = thirds(memory);
    const auto [heapBefore, heapAfter] = thirds(heap);
    const auto [handlesBefore, handlesAfter] = thirds(handles);
    EXPECT_LE(memoryAfter, memoryBefore + std::max<std::size_t>(8u << 20, memoryBefore / 8));
    EXPECT_LE(heapAfter, heapBefore + std::max<std::size_t>(1u << 20, heapBefore / 10));
    EXPECT_LE(handlesAfter, handlesBefore + 8);
    std::printf(
        "soak: %zu jobs, %zu Tally requests; after warm-up memory %zu -> %zu kB, heap "
        "%zu -> %zu kB, handles %zu -> %zu\n",
        jobs.size(), runs.size(), memoryBefore >> 10, memoryAfter >> 10, heapBefore >> 10,
        heapAfter >> 10, handlesBefore, handlesAfter);
}

}  // namespace
