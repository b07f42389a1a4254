// The relay of one large Tally answer, end to end, against the sandbox (run it through
// tools/sandbox/with-sandbox.sh):
//   bench_relay_measure CONNECTOR [sizes in MiB, default 64 512] [--rounds N, default 5]
// Per size and round, interleaved: `CONNECTOR --once` in a fresh state folder relaying one job
// whose Tally answer (a scripted peer) has that size; then `curl -o FILE` from the same kind of
// peer plus `curl --data-binary` of FILE, and again of the report ours sends (made ahead), to
// the same report endpoint. Prints the medians and the goals; then the CPU per request of 50
// jobs x 10 small requests. Exits 1 when a relay did not deliver the answer intact.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/api_client.h"
#include "common/sandbox_client.h"
#include "common/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tsl::Json;
using tsl::testing::SandboxControl;
using tsl::testing::ScriptedPeer;
using tsl::testing::TempDir;

// XML-like text as Tally exports it: CR/LF, quotes, multi-byte UTF-8 (2 and 3 bytes).
const std::string kFill =
    "<LEDGER NAME=\"Caf\xC3\xA9 \xE2\x80\x93 M\xC3\xBCller \xE2\x82\xB9\">\r\n"
    "  <PARENT>Sundry Debtors</PARENT>\r\n  <OPENINGBALANCE>-12500.00</OPENINGBALANCE>\r\n"
    "</LEDGER>\r\n";
const std::string kProbeReply = R"({"body":"<RESPONSE>TallyPrime Server is Running</RESPONSE>"})";
const std::string kExportXml =
    "<ENVELOPE><HEADER><TALLYREQUEST>Export</TALLYREQUEST></HEADER></ENVELOPE>";

struct Run {
    double wall = 0;      // seconds, fork to exit
    double cpu = 0;       // seconds, user + system
    double peakMiB = 0;   // ru_maxrss
    double tallyLeg = 0;  // seconds from asking Tally to its answer on the disk
};

// The Tally leg of a --once run, from its log line "  big -> HTTP 200, N bytes in M ms".
double tallyLegOf(const fs::path& log) {
    const std::string text = tsl::testing::readFile(log);
    const std::size_t at = text.rfind(" bytes in ");
    return at == std::string::npos ? 0 : std::atof(text.c_str() + at + 10) / 1e3;
}

// Runs the program with HOME and the XDG folders in `home` (when given), its output into
// `log`; throws unless it exits with 0.
Run runChild(const std::vector<std::string>& args, const fs::path& home, const fs::path& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (home.empty() || (entry.rfind("HOME=", 0) != 0 && entry.rfind("XDG_", 0) != 0))
            env.push_back(entry);
    }
    if (!home.empty()) {
        env.push_back("HOME=" + home.string());
        for (const std::string name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
            env.push_back(name + "=" + (home / name).string());
    }
    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (const std::string& text : texts)
            list.push_back(const_cast<char*>(text.c_str()));
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
    Run run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakMiB = usage.ru_maxrss / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string output = tsl::testing::readFile(log);
        throw std::runtime_error(
            args[0] + " " + args[1] + " ended with status " + std::to_string(status) +
            "; its output ends:\n" +
            output.substr(output.size() - std::min<std::size_t>(output.size(), 2000)));
    }
    return run;
}

// FNV-1a 64 of the answer of `size` bytes the peers send; size is a whole number of fills.
std::string answerHash(std::uint64_t size) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::uint64_t n = 0; n < size; n += kFill.size()) {
        for (const unsigned char c : kFill)
            hash = (hash ^ c) * 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// The report ours sends for the answer of `size` bytes, written to a file: the escaped fill
// repeated (escaping is per character, so the pieces join to the escaped whole).
void writeReport(const fs::path& file, std::uint64_t size) {
    const std::string one = Json(kFill).dump().substr(1, Json(kFill).dump().size() - 2);
    std::string block;
    while (block.size() < (1u << 20))
        block += one;
    std::ofstream out(file, std::ios::binary);
    out << R"({"error":null,"results":[{"body":")";
    for (std::uint64_t left = size / kFill.size(); left > 0;) {
        const std::uint64_t n = std::min<std::uint64_t>(left, block.size() / one.size());
        out.write(block.data(), static_cast<std::streamsize>(n * one.size()));
        left -= n;
    }
    out << R"(","error":null,"httpStatus":200,"ok":true,"ref":"big"}]})";
    if (!out.flush()) throw std::runtime_error("the report file could not be written");
}

class Bench {
  public:
    explicit Bench(std::string connector) : connector_(std::move(connector)) {
        token_ = tsl::ApiClient(sandbox_.apiUrl(), "").pair(code(), "bench").token;
    }

    // `--once` in a fresh state folder paired with the Tally at tallyPort, after queueing `jobs`
    // (the JSON of POST /api/jobs; "" for none; their ids into *ids), repeated until the queue
    // is empty (at most maxRuns times). Returns the runs' sums (peak: the highest).
    Run once(int tallyPort, const std::string& jobs, std::vector<std::string>* ids = nullptr,
             int maxRuns = 1) {
        TempDir home;
        runChild({connector_, "--pair", code(), "--server", sandbox_.apiUrl(), "--tally-host",
                  "127.0.0.1", "--tally-port", std::to_string(tallyPort)},
                 home.path(), home.path() / "pair.log");
        if (!jobs.empty()) {
            const Json queued = sandbox_.call("POST", "/api/jobs", jobs);
            for (const Json& id : queued.get("queued").items())
                if (ids) ids->push_back(id.stringOr(""));
        }
        Run total;
        for (int n = 0; n < maxRuns; ++n) {
            const Run run =
                runChild({connector_, "--once"}, home.path(), logs_.path() / "once.log");
            total.wall += run.wall;
            total.cpu += run.cpu;
            total.peakMiB = std::max(total.peakMiB, run.peakMiB);
            total.tallyLeg += tallyLegOf(logs_.path() / "once.log");
            if (sandbox_.call("GET", "/api/state").get("queuedJobs").items().empty()) return total;
        }
        throw std::runtime_error("jobs were left in the queue after " + std::to_string(maxRuns) +
                                 " runs of --once");
    }

    Run idle() {
        ScriptedPeer tally(sandbox_);
        tally.script(kProbeReply);
        return once(tally.port(), "");
    }

    // Ours: one job whose answer is `size` bytes; checks what the sandbox received.
    Run ours(std::uint64_t size, const std::string& hash, std::string& jobId) {
        ScriptedPeer tally(sandbox_);
        tally.script("[" + kProbeReply + "," + answerReply(size) + "]");
        std::vector<std::string> ids;
        const Run run = once(
            tally.port(),
            R"({"kind":"export","requests":[{"ref":"big","xml":")" + kExportXml + "\"}]}", &ids);
        jobId = ids.at(0);
        if (tally.requestCount() != 2) throw std::runtime_error("Tally was not asked twice");
        checkReport(jobId, size, hash);
        return run;
    }

    // The best tools: curl fetches the same answer into a file, then posts to the report
    // endpoint of the job ours relayed either that file (report empty) or the prepared report
    // of the same answer, which the sandbox reads as ours (then checked like ours).
    Run curl(std::uint64_t size, const std::string& jobId, const fs::path& report,
             const std::string& hash) {
        ScriptedPeer tally(sandbox_);
        tally.script(answerReply(size));
        TempDir dir;
        const fs::path file = dir.path() / "answer.xml";
        const fs::path log = logs_.path() / "curl.log";
        const Run get = runChild({"curl", "-sf", "-o", file.string(), tally.url()}, {}, log);
        const Run post =
            runChild({"curl", "-sf", "-o", "/dev/null", "--data-binary",
                      "@" + (report.empty() ? file : report).string(), "-H",
                      "Content-Type: application/json", "-H", "X-Tally-Connector-Token: " + token_,
                      sandbox_.apiUrl() + "/v1/tally/agent/jobs/" + jobId + "/result"},
                     {}, log);
        if (fs::file_size(file) != size) throw std::runtime_error("curl fetched a short answer");
        if (report.empty()) {
            sandbox_.call("POST", "/api/clear", "{}");
        } else {
            checkReport(jobId, size, hash);
        }
        return {get.wall + post.wall, get.cpu + post.cpu, std::max(get.peakMiB, post.peakMiB),
                get.wall};
    }

    // 50 jobs x 10 small requests through the sandbox's Tally; checks that each was reported.
    Run smallJobs() {
        std::string jobs = "[";
        for (int j = 0; j < 50; ++j) {
            jobs += std::string(j ? "," : "") + R"({"kind":"import","requests":[)";
            for (int r = 0; r < 10; ++r)
                jobs += std::string(r ? "," : "") + R"({"ref":"r","xml":")" + kExportXml + "\"}";
            jobs += "]}";
        }
        std::vector<std::string> ids;
        const Run run = once(sandbox_.tallyPort(), jobs + "]", &ids, 20);
        const Json digest = sandbox_.call("GET", "/api/results/digest");
        sandbox_.call("POST", "/api/clear", "{}");
        std::size_t ok = 0;
        for (const Json& report : digest.items()) {
            for (const Json& item : report.get("results").items())
                ok += item.get("ok").boolOr(false) ? 1 : 0;
        }
        if (digest.items().size() != ids.size() || ok != ids.size() * 10) {
            throw std::runtime_error("the small jobs were not all reported: " + digest.dump());
        }
        return run;
    }

  private:
    static std::string answerReply(std::uint64_t size) {
        return R"({"size":)" + std::to_string(size) + R"(,"fill":)" + Json(kFill).dump() + "}";
    }

    // The sandbox holds one report of the job: the answer, intact. Then it forgets it.
    void checkReport(const std::string& jobId, std::uint64_t size, const std::string& hash) {
        const Json digest = sandbox_.call("GET", "/api/results/digest");
        sandbox_.call("POST", "/api/clear", "{}");
        const Json& report = digest.items().empty() ? Json() : digest.items()[0];
        const Json::Array& items = report.get("results").items();
        if (digest.items().size() != 1 || report.get("jobId").stringOr("") != jobId ||
            !report.get("error").isNull() || items.size() != 1 ||
            !items[0].get("ok").boolOr(false) ||
            static_cast<std::uint64_t>(items[0].get("size").intOr(-1)) != size ||
            items[0].get("fnv1a").stringOr("") != hash) {
            throw std::runtime_error("the sandbox did not get the answer (" + std::to_string(size) +
                                     " bytes, " + hash + ") as the report of job " + jobId + ": " +
                                     digest.dump());
        }
    }

    std::string code() {
        return sandbox_.call("POST", "/api/codes", "{}").get("code").stringOr("");
    }

    SandboxControl sandbox_;
    std::string connector_;
    std::string token_;
    TempDir logs_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char* mark(bool met) {
    return met ? "PASS" : "MISS";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes;
    int rounds = 5;
    bool usable = argc >= 2;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" && i + 1 < argc) {
            rounds = std::clamp(std::atoi(argv[++i]), 1, 100);
        } else {
            sizes.push_back(std::strtoull(argv[i], nullptr, 10));
            usable = usable && sizes.back() >= 1 && sizes.back() <= 4096;  // MiB
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: bench_relay_measure CONNECTOR [MiB 1-4096...] [--rounds N]\n");
        return 2;
    }
    if (sizes.empty()) sizes = {64, 512};
    for (std::uint64_t& size : sizes)
        size = (size << 20) / kFill.size() * kFill.size();  // whole characters only
    try {
        Bench bench(fs::absolute(argv[1]).string());
        std::vector<double> idle;
        for (const std::uint64_t size : sizes) {
            const std::string hash = answerHash(size);
            TempDir reportDir;
            const fs::path report = reportDir.path() / "report.json";
            writeReport(report, size);
            std::vector<double> wall[3], cpu, peak;  // ours, curl (answer), curl (report)
            std::vector<double> leg[2];              // the Tally leg: ours, curl -o
            for (int round = 1; round <= rounds; ++round) {
                idle.push_back(bench.idle().peakMiB);
                std::string jobId;
                const Run ours = bench.ours(size, hash, jobId);
                const Run raw = bench.curl(size, jobId, {}, hash);
                const Run json = bench.curl(size, jobId, report, hash);
                std::printf(
                    "%llu bytes, round %d: ours %.2f s (CPU %.2f s, peak %.1f MiB, idle "
                    "%.1f MiB); curl: answer %.2f s, report %.2f s\n",
                    static_cast<unsigned long long>(size), round, ours.wall, ours.cpu, ours.peakMiB,
                    idle.back(), raw.wall, json.wall);
                std::fflush(stdout);
                wall[0].push_back(ours.wall);
                wall[1].push_back(raw.wall);
                wall[2].push_back(json.wall);
                leg[0].push_back(ours.tallyLeg);
                leg[1].push_back((raw.tallyLeg + json.tallyLeg) / 2);
                cpu.push_back(ours.cpu);
                peak.push_back(ours.peakMiB);
            }
            const double ofAnswer = median(wall[1]) / median(wall[0]) * 100;
            const double ofReport = median(wall[2]) / median(wall[0]) * 100;
            const double above = median(peak) - median(idle);
            std::printf(
                "== %.0f MiB, medians of %d rounds: ours %.2f s, CPU %.2f s; curl posting "
                "the answer %.2f s: ours at %.0f%% of its speed [%s >= 80%%]; curl posting "
                "the report %.2f s: ours at %.0f%% [%s >= 80%%]; ours peak above idle %.1f "
                "MiB [%s <= 32 MiB]\n",
                size / 1048576.0, rounds, median(wall[0]), median(cpu), median(wall[1]), ofAnswer,
                mark(ofAnswer >= 80), median(wall[2]), ofReport, mark(ofReport >= 80), above,
                mark(above <= 32));
            // The leg that no server's reading of the report weighs on.
            std::printf(
                "   Tally's answer into a file: ours %.2f s (decoded, escaped, on the disk), "
                "curl -o %.2f s: ours at %.0f%%\n",
                median(leg[0]), median(leg[1]), median(leg[1]) / median(leg[0]) * 100);
            std::fflush(stdout);
        }

        const Run small = bench.smallJobs();
        std::printf(
            "== 50 jobs x 10 small requests: CPU per request %.3f ms, wall per request "
            "%.2f ms (each --once with its start and end)\n",
            small.cpu * 1e3 / 500, small.wall * 1e3 / 500);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "FAILED: %s\n", e.what());
        return 1;
    }
    return 0;
}
