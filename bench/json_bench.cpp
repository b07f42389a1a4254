// Our JSON against RapidJSON and nlohmann::json on the connector's three shapes of work:
// (a) writing a result whose body is a 64 MB Tally answer, (b) reading a job of 50 requests of
// 200 KB, (c) a small heartbeat answer read and written. Throughput is in bytes of JSON text.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "json/json.h"

namespace {

constexpr std::size_t kBodyBytes = 64u << 20;
constexpr std::size_t kRequestBytes = 200u << 10;
constexpr int kRequests = 50;

const std::string& body() {
    static const std::string text = tsl::bench::tallyLikeText(kBodyBytes);
    return text;
}

tsl::Json resultValue() {
    tsl::Json item;
    item.set("ref", tsl::Json("r1")).set("ok", tsl::Json(true)).set("httpStatus", tsl::Json(200.0));
    item.set("body", tsl::Json(body())).set("error", tsl::Json());
    tsl::Json list;
    list.push(std::move(item));
    tsl::Json value;
    value.set("results", std::move(list)).set("error", tsl::Json());
    return value;
}

void BM_CopyBody(benchmark::State& state) {
    for (auto _ : state) {
        std::string copy(body());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBodyBytes));
}

void BM_DumpResult_Ours(benchmark::State& state) {
    const tsl::Json value = resultValue();
    for (auto _ : state) {
        std::string text = value.dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBodyBytes));
}

void BM_DumpResult_RapidJson(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("error");
        w.Null();
        w.Key("results");
        w.StartArray();
        w.StartObject();
        w.Key("body");
        w.String(body().data(), static_cast<rapidjson::SizeType>(body().size()));
        w.Key("error");
        w.Null();
        w.Key("httpStatus");
        w.Int(200);
        w.Key("ok");
        w.Bool(true);
        w.Key("ref");
        w.String("r1");
        w.EndObject();
        w.EndArray();
        w.EndObject();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBodyBytes));
}

void BM_DumpResult_Nlohmann(benchmark::State& state) {
    nlohmann::json value = {{"error", nullptr},
                            {"results",
                             {{{"body", body()},
                               {"error", nullptr},
                               {"httpStatus", 200},
                               {"ok", true},
                               {"ref", "r1"}}}}};
    for (auto _ : state) {
        std::string text = value.dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBodyBytes));
}

const std::string& jobText() {
    static const std::string text = [] {
        tsl::Json requests;
        for (int i = 0; i < kRequests; ++i) {
            tsl::Json r;
            r.set("ref", tsl::Json("r" + std::to_string(i)));
            r.set("xml", tsl::Json(tsl::bench::tallyLikeText(kRequestBytes, 7 + i)));
            requests.push(std::move(r));
        }
        tsl::Json job;
        job.set("id", tsl::Json("job-1")).set("kind", tsl::Json("vouchers"));
        job.set("requests", std::move(requests));
        tsl::Json answer;
        answer.set("job", std::move(job)).set("pollSeconds", tsl::Json(30.0));
        return answer.dump();
    }();
    return text;
}

void BM_ParseJob_Ours(benchmark::State& state) {
    for (auto _ : state) {
        tsl::Json v = tsl::Json::parse(jobText());
        benchmark::DoNotOptimize(&v);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(jobText().size()));
}

void BM_ParseJob_RapidJson(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document d;
        d.Parse(jobText().data(), jobText().size());
        benchmark::DoNotOptimize(&d);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(jobText().size()));
}

void BM_ParseJob_Nlohmann(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json v = nlohmann::json::parse(jobText());
        benchmark::DoNotOptimize(&v);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(jobText().size()));
}

const std::string kHeartbeat =
    R"({"companyName":"Acme Traders Pvt Ltd","enabled":true,"pollSeconds":60,"syncError":""})";

void BM_Heartbeat_Ours(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = tsl::Json::parse(kHeartbeat).dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeartbeat.size()));
}

void BM_Heartbeat_RapidJson(benchmark::State& state) {
    for (auto _ : state) {
        rapidjson::Document d;
        d.Parse(kHeartbeat.data(), kHeartbeat.size());
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        d.Accept(w);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeartbeat.size()));
}

void BM_Heartbeat_Nlohmann(benchmark::State& state) {
    for (auto _ : state) {
        std::string text = nlohmann::json::parse(kHeartbeat).dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeartbeat.size()));
}

// Handing the body over and taking a request's XML out are moves, not copies.
void BM_MoveBodyIn(benchmark::State& state) {
    std::string text = body();
    for (auto _ : state) {
        tsl::Json v(std::move(text));
        text = v.takeStringOr("");
        benchmark::DoNotOptimize(text.data());
    }
}

void BM_TakeXmlFromParsedJob(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        tsl::Json answer = tsl::Json::parse(jobText());
        state.ResumeTiming();
        std::string xml =
            answer.find("job")->find("requests")->elements()->front().find("xml")->takeStringOr("");
        benchmark::DoNotOptimize(xml.data());
        state.PauseTiming();  // the 10 MB answer is freed outside the measurement
        {
            const tsl::Json drop = std::move(answer);
            const std::string gone = std::move(xml);
        }
        state.ResumeTiming();
    }
}

// Prints, after the usual table, each case's throughput beside the two libraries and the ratio
// to the better of them, from the median when repetitions were asked for.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            const std::string name = run.run_name.function_name;
            if (median || !medians_.count(name)) {
                const auto it = run.counters.find("bytes_per_second");
                rates_[name] = it == run.counters.end() ? 0.0 : it->second.value / 1e6;
                nanos_[name] = run.GetAdjustedCPUTime() * nanosPer(run.time_unit);
                if (median) medians_.insert(name);
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "\nMB/s = 10^6 bytes per CPU second ((a) of the body, (b) and (c) of the JSON text); "
            "ratio = ours / best library\n");
        std::printf("%-26s %10s %10s %10s %8s\n", "case", "ours", "RapidJSON", "nlohmann", "ratio");
        line("(a) dump 64 MB result", "BM_DumpResult_");
        line("(b) parse 50 x 200 KB job", "BM_ParseJob_");
        line("(c) heartbeat parse+dump", "BM_Heartbeat_");
        if (rates_.count("BM_CopyBody") && rates_.count("BM_DumpResult_Ours")) {
            std::printf("(a) body copy (memcpy ceiling) %.0f MB/s; ours / copy %.2f\n",
                        rates_["BM_CopyBody"],
                        rates_["BM_DumpResult_Ours"] / rates_["BM_CopyBody"]);
        }
        if (nanos_.count("BM_Heartbeat_Ours")) {
            std::printf("(c) per op: ours %.0f ns, RapidJSON %.0f ns, nlohmann %.0f ns\n",
                        nanos_["BM_Heartbeat_Ours"], nanos_["BM_Heartbeat_RapidJson"],
                        nanos_["BM_Heartbeat_Nlohmann"]);
        }
        for (const char* name : {"BM_MoveBodyIn", "BM_TakeXmlFromParsedJob"}) {
            if (nanos_.count(name)) std::printf("%s: %.0f ns\n", name, nanos_[name]);
        }
    }

  private:
    static double nanosPer(benchmark::TimeUnit unit) {
        switch (unit) {
            case benchmark::kSecond:
                return 1e9;
            case benchmark::kMillisecond:
                return 1e6;
            case benchmark::kMicrosecond:
                return 1e3;
            default:
                return 1;
        }
    }

    void line(const char* label, const std::string& prefix) {
        const std::string ours = prefix + "Ours";
        if (!rates_.count(ours)) return;
        const double rapid = rates_[prefix + "RapidJson"];
        const double nlohmann = rates_[prefix + "Nlohmann"];
        const double best = std::max(rapid, nlohmann);
        std::printf("%-26s %10.0f %10.0f %10.0f %7.2fx\n", label, rates_[ours], rapid, nlohmann,
                    best > 0 ? rates_[ours] / best : 0.0);
    }

    std::map<std::string, double> rates_;
    std::map<std::string, double> nanos_;
    std::set<std::string> medians_;
};

}  // namespace

BENCHMARK(BM_CopyBody)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpResult_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpResult_RapidJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpResult_Nlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseJob_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseJob_RapidJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseJob_Nlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Heartbeat_Ours);
BENCHMARK(BM_Heartbeat_RapidJson);
BENCHMARK(BM_Heartbeat_Nlohmann);
BENCHMARK(BM_MoveBodyIn);
// Untimed set-up dominates each iteration, so the count is fixed rather than grown to a time.
BENCHMARK(BM_TakeXmlFromParsedJob)->Unit(benchmark::kMicrosecond)->Iterations(50);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
