// The sync engine's own cost, measured against the sandbox (run it through
// tools/sandbox/with-sandbox.sh):
//  1. one pass of 50 jobs x 10 small Tally requests: CPU time of this process (the connector)
//     per Tally request, beside the wall time of the pass (which includes the peers' work);
//  2. one job relaying a 64 MB Tally answer: peak memory above the start, as a multiple of
//     the body.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "api/api_client.h"
#include "common/process_memory.h"
#include "common/sandbox_client.h"
#include "common/temp_dir.h"
#include "config/config.h"
#include "support/machine_name.h"
#include "sync/sync_engine.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
    return static_cast<long>(tsl::testing::peakMemoryBytes() / 1024);
}

void pairInto(tsl::Config& config, const tsl::testing::SandboxControl& sandbox, int tallyPort) {
    const std::string code = sandbox.call("POST", "/api/codes").get("code").stringOr("");
    tsl::Settings s = config.settings();
    s.serverUrl = sandbox.apiUrl();
    s.tallyHost = "127.0.0.1";
    s.tallyPort = tallyPort;
    s.token = tsl::ApiClient(sandbox.apiUrl(), "").pair(code, tsl::machineName()).token;
    config.save(s);
}

}  // namespace

int main() {
    tsl::testing::SandboxControl sandbox;
    tsl::testing::TempDir dir;
    const long startKiB = peakKiB();

    {
        tsl::Config config(dir.path() / "small");
        pairInto(config, sandbox, sandbox.tallyPort());
        std::string jobs = "[";
        for (int j = 0; j < 50; ++j) {
            jobs += std::string(j ? "," : "") + R"({"kind":"import","requests":[)";
            for (int r = 0; r < 10; ++r) {
                jobs +=
                    std::string(r ? "," : "") + R"({"ref":"r)" + std::to_string(r) +
                    R"(","xml":"<ENVELOPE><HEADER><TALLYREQUEST>Export</TALLYREQUEST></HEADER></ENVELOPE>"})";
            }
            jobs += "]}";
        }
        sandbox.call("POST", "/api/jobs", jobs + "]");
        tsl::SyncEngine engine(config, nullptr);
        const double cpu0 = cpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        const int wait = engine.runCycle();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = cpuSeconds() - cpu0;
        std::printf("pass of 50 jobs x 10 requests: returned %d, %llu jobs, wall %.0f ms\n", wait,
                    static_cast<unsigned long long>(engine.status().jobsThisSession), wall * 1e3);
        std::printf(
            "connector CPU per Tally request: %.3f ms (wall per request incl. peers: %.3f ms)\n",
            cpu * 1e3 / 500, wall * 1e3 / 500);
    }

    {
        constexpr std::size_t kBody = 64u << 20;
        tsl::testing::ScriptedPeer tally(sandbox);
        tally.script(R"([{"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"},)"
                     R"({"size":)" +
                     std::to_string(kBody) + R"(,"fill":"<LEDGER>x</LEDGER>\r\n"}])");
        tsl::Config config(dir.path() / "large");
        pairInto(config, sandbox, tally.port());
        sandbox.call("POST", "/api/jobs",
                     R"({"kind":"export","requests":[{"ref":"big","xml":"<ENVELOPE/>"}]})");
        const long before = peakKiB();
        tsl::SyncEngine engine(config, nullptr);
        engine.runCycle();
        const long after = peakKiB();
        std::printf("64 MB relay: state %s, peak above start %.2f x body (process start %.0f MB)\n",
                    tsl::syncStateText(engine.status().state),
                    (after - std::max(before, startKiB)) * 1024.0 / kBody, startKiB / 1024.0);
    }
    return 0;
}
