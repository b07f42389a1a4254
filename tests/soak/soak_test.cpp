// A bounded soak of the sync worker against the sandbox: many small jobs while faults of the
// fault matrix come and go at random, restarts of the engine among them. Afterwards every
// job's answers reached Tessaline exactly once and for the right job, no request reached Tally
// twice, memory (and on Windows the handle count) stayed flat after the warm-up, and the log
// rotated without losing or tearing a line. TSL_SOAK_SECONDS sets the length of the fault
// phase (default 50; the run ends about ten seconds later), TSL_SOAK_SEED the random seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/api_client.h"
#include "common/process_memory.h"
#include "common/sandbox_client.h"
#include "common/temp_dir.h"
#include "config/config.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "sync/sync_engine.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tsl::Json;
using tsl::testing::jsonText;
using tsl::testing::readFile;

int envNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    const int number = value ? std::atoi(value) : 0;
    return number > 0 ? number : fallback;
}

struct Sample {
    std::size_t memory = 0;
    std::size_t heap = 0;
    std::size_t handles = 0;
};

std::size_t median(std::vector<std::size_t> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double megabytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

// Ends the program with a message when the run outlives its budget. A worker waiting on a peer
// that no longer answers (Tally's requests may take minutes) or a wedged sandbox would
// otherwise hold the test, failed or not, until ctest's time-out without saying where.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds budget)
        : deadline_(Clock::now() + budget), thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void phase(const char* name) { phase_ = name; }
    // Brings the deadline forward to at most this far from now.
    void limit(std::chrono::seconds rest) {
        {
            std::lock_guard lock(mutex_);
            deadline_ = std::min(deadline_, Clock::now() + rest);
        }
        wake_.notify_all();
    }

  private:
    void watch() {
        const auto begun = Clock::now();
        std::unique_lock lock(mutex_);
        while (!done_ && Clock::now() < deadline_)
            wake_.wait_until(lock, deadline_);
        if (done_) return;
        std::fprintf(
            stderr,
            "soak: ended after %lld s, stuck at \"%s\": the worker or the sandbox no "
            "longer answers\n",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begun).count()),
            phase_.load());
        std::fflush(nullptr);
        std::_Exit(1);
    }

    std::atomic<const char*> phase_{"setting up"};
    std::mutex mutex_;
    std::condition_variable wake_;
    Clock::time_point deadline_;
    bool done_ = false;
    std::thread thread_;
};

// One fault of the matrix: how it begins; Tally's faults also end (the next fault ends them).
struct Fault {
    const char* name;
    std::function<void()> begin;
    bool lasts = false;
};

class Soak : public ::testing::Test {
  protected:
    void SetUp() override {
        prefillLog();
        tsl::Logger::startIn(logs(), false);
        config = std::make_unique<tsl::Config>(dir.path() / "settings");
        tsl::Settings s = config->settings();
        s.serverUrl = sandbox.apiUrl();
        s.tallyHost = "127.0.0.1";
        s.tallyPort = sandbox.tallyPort();
        config->save(s);
        pair();
        engine = std::make_unique<tsl::SyncEngine>(*config, nullptr);
    }
    void TearDown() override {
        watchdog.phase("stopping the worker in the tear-down");
        // After a failure the peers may be what failed; a healthy worker stops in a moment.
        if (HasFailure()) watchdog.limit(30s);
        engine.reset();
        tsl::Logger::reset();
    }

    std::filesystem::path logs() const { return dir.path() / "logs"; }

    // The log starts just below its rotation size, so that the first few dozen lines of the
    // soak make it rotate however few jobs a slow machine gets through, and a run of the usual
    // length (far less than the 5 MB of another file) rotates it once.
    void prefillLog() {
        std::filesystem::create_directories(logs());
        const std::string line = "2026-01-01 00:00:00.000 [INFO] earlier line of a long run\r\n";
        std::string text;
        while (text.size() + line.size() < tsl::Logger::kRotateBytes - (4u << 10))
            text += line;
        tsl::testing::writeFile(logs() / "connector.log", text);
    }

    // Every line of the log (both files) that names the job, for the message of a failure.
    std::string logLinesNaming(const std::string& id) const {
        std::string found;
        for (const char* name : {"connector.1.log", "connector.log"}) {
            const std::string text = readFile(logs() / name);
            for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                const std::string line = text.substr(start, end + 1 - start);
                if (line.find(id + " ") != std::string::npos ||
                    line.find(id + ")") != std::string::npos ||
                    line.find(id + ":") != std::string::npos)
                    found += line;
            }
        }
        return found;
    }

    void pair() {
        const std::string code = sandbox.call("POST", "/api/codes").get("code").stringOr("");
        tsl::Settings s = config->settings();
        s.token = tsl::ApiClient(sandbox.apiUrl(), "").pair(code, tsl::machineName()).token;
        config->save(s);
    }

    void fail(const std::string& failure) { sandbox.call("POST", "/api/failures", failure); }
    void tally(const std::string& change) { sandbox.call("POST", "/tally/config", change); }

    void restart() {
        watchdog.phase("restarting the worker");
        engine->stop();
        engine = std::make_unique<tsl::SyncEngine>(*config, nullptr);
        engine->start();
    }

    std::vector<Fault> faults() {
        return {
            {"heartbeat 500",
             [this] {
                 fail(R"({"endpoint":"heartbeat","status":500,"body":"{\"message\":\"Busy\"}",)"
                      R"("count":2})");
             }},
            {"jobs/next 503", [this] { fail(R"({"endpoint":"next","status":503})"); }},
            {"jobs/next not JSON",
             [this] { fail(R"({"endpoint":"next","status":200,"body":"<html>"})"); }},
            {"slow server", [this] { fail(R"({"endpoint":"next","status":0,"delayMs":700})"); }},
            {"report 503", [this] { fail(R"({"endpoint":"result","status":503})"); }},
            {"report cut short",
             [this] {
                 fail(R"({"endpoint":"result","status":200,"body":"{\"summary\":\"x\"}",)"
                      R"("cut":true})");
             }},
            {"report not JSON",
             [this] { fail(R"({"endpoint":"result","status":200,"body":"<html>"})"); }},
            {"token refused at the heartbeat",
             [this] { fail(R"({"endpoint":"heartbeat","status":401})"); }},
            {"token refused at the report",
             [this] { fail(R"({"endpoint":"result","status":401})"); }},
            {"Tally drops connections", [this] { tally(R"({"drop":true})"); }, true},
            {"Tally not running", [this] { tally(R"({"running":false})"); }, true},
            {"Tally answers 500", [this] { tally(R"({"status":500})"); }, true},
            {"Tally answers UTF-16", [this] { tally(R"({"encoding":"utf16le"})"); }, true},
            {"Tally slow", [this] { tally(R"({"delayMs":150})"); }, true},
            {"restart", [this] { restart(); }},
        };
    }
    void calmTally() {
        tally(R"({"drop":false,"running":true,"status":200,"encoding":"utf8","delayMs":0})");
    }

    // Queues a batch of small jobs; each request names itself in the XML.
    void queueJobs(int count) {
        std::string batch;
        for (int i = 0; i < count; ++i) {
            const std::string id = "soak-" + std::to_string(jobs.size() + 1);
            std::vector<std::string>& refs = jobs[id];
            const int requests = 1 + static_cast<int>(rng() % 3);
            for (int r = 1; r <= requests; ++r)
                refs.push_back(id + "-" + std::to_string(r));
            batch += (batch.empty() ? "[" : ",") + jobText(id);
        }
        sandbox.call("POST", "/api/jobs", batch + "]");
    }
    std::string jobText(const std::string& id) {
        std::string list;
        for (const std::string& ref : jobs[id]) {
            list += std::string(list.empty() ? "" : ",") + R"({"ref":")" + ref + R"(","xml":)" +
                    jsonText(
                        "<ENVELOPE><HEADER><TALLYREQUEST>Import</TALLYREQUEST></HEADER>"
                        "<BODY><DATA><TALLYMESSAGE><LEDGER NAME=\"" +
                        ref + "\"/></TALLYMESSAGE></DATA></BODY></ENVELOPE>") +
                    "}";
        }
        return R"({"id":")" + id + R"(","kind":"import","requests":[)" + list + "]}";
    }
    std::size_t queued() const {
        return sandbox.call("GET", "/api/state").get("queuedJobs").items().size();
    }

    // One tick of the driver: the user pairs again when Tessaline refused the token, and asks
    // for a pass now and then, so that the back-off does not stretch the run.
    void tick() {
        if (!config->isPaired()) {
            pair();
            engine->settingsChanged();
            ++repairings;
        }
        engine->syncNow();
        std::this_thread::sleep_for(100ms);
    }

    void sample() {
        samples.push_back({tsl::testing::currentMemoryBytes(), tsl::testing::heapBytes(),
                           tsl::testing::openHandleCount()});
    }

    // Random faults of the matrix while jobs keep coming; a memory sample a second.
    void faultPhase() {
        const std::vector<Fault> matrix = faults();
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        bool tallyFault = false;
        for (int t = 0; Clock::now() < end; ++t) {
            if (t % 4 == 0) {
                if (queued() < 15) queueJobs(15);
                if (tallyFault) calmTally();
                const Fault& fault = matrix[rng() % matrix.size()];
                watchdog.phase(fault.name);
                fault.begin();
                watchdog.phase("the fault phase");
                tallyFault = fault.lasts;
                ++injected[fault.name];
            }
            if (t % 10 == 0) sample();
            tick();
        }
        std::string list;
        for (const auto& [name, n] : injected)
            list += std::string(list.empty() ? "" : ", ") + name + " " + std::to_string(n);
        std::printf("soak: %d s of faults: %s\n", seconds, list.c_str());
    }

    // Calm: no more faults or jobs; everything queued or kept must arrive (a minute at most).
    void drain() {
        watchdog.phase("draining");
        calmTally();
        const auto drainEnd = Clock::now() + 60s;
        for (int t = 0; Clock::now() < drainEnd; ++t) {
            tick();
            if (t % 5 != 0) continue;
            const std::size_t delivered = sandbox.call("GET", "/api/results/digest").items().size();
            if (queued() > 0 || engine->status().resultsWaiting > 0) continue;
            if (delivered >= jobs.size()) break;
            // Tessaline gives up waiting for reports that are overdue. A restart may have cut
            // the worker off while the answer carrying a job was on its way: such a job never
            // reached the connector and must run now, once; one the connector did see must not
            // run in Tally again, which the count of Tally runs checks.
            if (handedAgain == 0) {
                handedAgain = static_cast<int>(
                    sandbox.call("POST", "/api/jobs/unreported").get("queued").items().size());
            }
        }
        watchdog.phase("stopping the worker after the drain");
        engine->stop();
    }

    // Every job's answers arrived once, for the right job and in the order of its requests.
    void checkEveryJobReportedOnce(const Json& digest) {
        std::map<std::string, int> reports;
        for (const Json& report : digest.items()) {
            const std::string id = report.get("jobId").stringOr("");
            ++reports[id];
            std::vector<std::string> refs;
            for (const Json& item : report.get("results").items())
                refs.push_back(item.get("ref").stringOr(""));
            EXPECT_TRUE(jobs.count(id) && jobs[id] == refs) << "the report of " << id;
        }
        for (const auto& [id, refs] : jobs) {
            EXPECT_NE(reports[id], 0) << id << " was never reported; its lines in the log:\n"
                                      << logLinesNaming(id);
            EXPECT_LE(reports[id], 1) << id << " was reported " << reports[id] << " times";
        }
        EXPECT_EQ(engine->status().resultsWaiting, 0u);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "settings" / "kept-results.json"));
        std::printf("  jobs %zu, reports %zu\n", jobs.size(), digest.items().size());
    }

    void checkNoRequestRanTwice() {
        std::map<std::string, int> runs;
        const Json requests = sandbox.call("GET", "/tally/requests");
        const std::regex named(R"(LEDGER NAME="(soak-\d+-\d+)\")");
        for (const Json& request : requests.items()) {
            std::smatch m;
            const std::string body = request.get("body").stringOr("");
            if (std::regex_search(body, m, named)) ++runs[m[1]];
        }
        for (const auto& [ref, n] : runs)
            EXPECT_EQ(n, 1) << ref << " reached Tally " << n << " times";
        std::printf("  Tally requests run %zu\n", runs.size());
    }

    // Flat after the warm-up: the middle third against the last third of the samples.
    void checkMemoryStaysFlat() {
        ASSERT_GE(samples.size(), 6u);
        const std::size_t third = samples.size() / 3;
        auto figure = [&](bool last, std::size_t Sample::*field) {
            std::vector<std::size_t> values;
            for (std::size_t i = last ? 2 * third : third; i < (last ? samples.size() : 2 * third);
                 ++i)
                values.push_back(samples[i].*field);
            return median(values);
        };
        const std::size_t memory = figure(false, &Sample::memory);
        const std::size_t heap = figure(false, &Sample::heap);
        const std::size_t handles = figure(false, &Sample::handles);
        EXPECT_LE(figure(true, &Sample::memory),
                  memory + std::max<std::size_t>(8u << 20, memory / 8));
        EXPECT_LE(figure(true, &Sample::heap), heap + std::max<std::size_t>(1u << 20, heap / 10));
        EXPECT_LE(figure(true, &Sample::handles), handles + 8);
        std::printf(
            "  after warm-up (median, middle vs last third): memory %.1f -> %.1f MB, heap "
            "%.1f -> %.1f MB, handles %zu -> %zu\n",
            megabytes(memory), megabytes(figure(true, &Sample::memory)), megabytes(heap),
            megabytes(figure(true, &Sample::heap)), handles, figure(true, &Sample::handles));
    }

    // The log rotated (once in a run of the usual length: the earlier lines are then in
    // connector.1.log and every report line is in one of the two files); no line is torn.
    void checkLog(std::size_t reports) {
        const std::string current = readFile(logs() / "connector.log");
        const std::string rotated = readFile(logs() / "connector.1.log");
        const bool rotatedOnce = rotated.find("earlier line of a long run") != std::string::npos;
        EXPECT_FALSE(rotated.empty());
        EXPECT_LE(rotated.size(), tsl::Logger::kRotateBytes + 4096);
        EXPECT_LE(current.size(), tsl::Logger::kRotateBytes + 4096);
        EXPECT_EQ(current.find("earlier line of a long run"), std::string::npos);
        const std::regex form(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(INFO|WARN|ERROR)\] .*)");
        std::size_t lines = 0, torn = 0, reported = 0;
        for (const std::string* file : {&rotated, &current}) {
            std::size_t start = 0;
            for (std::size_t end; (end = file->find("\r\n", start)) != std::string::npos;
                 start = end + 2) {
                const std::string line = file->substr(start, end - start);
                ++lines;
                torn += std::regex_match(line, form) ? 0 : 1;
                reported += line.find("]   Tessaline: Job ") != std::string::npos ? 1 : 0;
            }
            EXPECT_EQ(start, file->size()) << "a line without its end";
        }
        EXPECT_EQ(torn, 0u);
        if (rotatedOnce) {
            EXPECT_EQ(reported, reports);
        }
        std::printf("  log: rotated %s, %zu lines checked, %zu torn\n",
                    rotatedOnce ? "once" : "more than once", lines, torn);
    }

    // The fault phase, the drain (at most a minute) and a minute for everything else.
    // At least 20 s: the memory check compares thirds of one sample a second after warm-up.
    const int seconds = std::max(20, envNumber("TSL_SOAK_SECONDS", 50));
    Watchdog watchdog{std::chrono::seconds(seconds + 120)};
    std::mt19937 rng{static_cast<unsigned>(envNumber("TSL_SOAK_SEED", 20261206))};
    tsl::testing::TempDir dir;
    tsl::testing::SandboxControl sandbox;
    std::unique_ptr<tsl::Config> config;
    std::unique_ptr<tsl::SyncEngine> engine;
    std::map<std::string, std::vector<std::string>> jobs;  // id -> request refs
    std::map<std::string, int> injected;
    int repairings = 0;
    int handedAgain = 0;          // jobs handed out again at the end of the run
    std::vector<Sample> samples;  // one a second during the fault phase
};

TEST_F(Soak, WorkerUnderRandomFaultsLosesNothing) {
    engine->start();
    faultPhase();
    drain();
    watchdog.phase("checking");
    const Json digest = sandbox.call("GET", "/api/results/digest");
    checkEveryJobReportedOnce(digest);
    checkNoRequestRanTwice();
    checkMemoryStaysFlat();
    checkLog(digest.items().size());
    std::printf("  re-pairings %d; handed out again at the end %d\n", repairings, handedAgain);
}

}  // namespace
