#include "connector_api.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <utility>

#include "recorded.h"
#include "tally_xml.h"

namespace sandbox {

namespace {

using nlohmann::json;

std::string randomText(const char* alphabet, std::size_t size) {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    const std::string letters(alphabet);
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    std::string out;
    for (std::size_t i = 0; i < size; ++i)
        out += letters[pick(engine)];
    return out;
}

void sendMessage(httplib::Response& response, int status, const std::string& message) {
    sendJson(response, status, {{"message", message}});
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string kindOf(const std::string& xml) {
    switch (requestKind(xml)) {
        case RequestKind::Import:
            return "import";
        case RequestKind::Export:
            return "export";
        default:
            return "other";
    }
}

std::vector<std::filesystem::path> sortedEntries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

ConnectorApi::ConnectorApi() {
    newCode("");
}

namespace {

// "Sun, 06 Nov 1994 08:49:37 GMT", this machine's time moved by the given seconds.
std::string httpDate(long long offsetSeconds) {
    const std::time_t at = std::time(nullptr) + static_cast<std::time_t>(offsetSeconds);
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

}  // namespace

void ConnectorApi::addRoutes(httplib::Server& server) {
    const std::string base = R"((.*)/v1/tally/agent)";
    auto route =
        [this](void (ConnectorApi::*handler)(const httplib::Request&, httplib::Response&)) {
            return [this, handler](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(describeRequest(request));
                }
                (this->*handler)(request, response);
                std::lock_guard lock(mutex_);
                response.set_header("Date", httpDate(clockOffsetSeconds_));
            };
        };
    server.Post(base + "/pair", route(&ConnectorApi::pair));
    server.Post(base + "/heartbeat", route(&ConnectorApi::heartbeat));
    server.Post(base + "/jobs/next", route(&ConnectorApi::nextJob));
    server.Post(base + R"(/jobs/(.+)/result)", route(&ConnectorApi::result));
}

bool ConnectorApi::injectFailure(const std::string& endpoint, httplib::Response& response) {
    Failure failure;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(failures_.begin(), failures_.end(),
                               [&](const Failure& f) { return f.endpoint == endpoint; });
        if (it == failures_.end()) return false;
        failure = *it;
        if (--it->count <= 0) failures_.erase(it);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(failure.delayMs));
    if (failure.status == 0) return false;
    response.status = failure.status;
    if (!failure.cut) {
        response.set_content(failure.body, failure.contentType);
        return true;
    }
    response.set_content_provider(
        failure.body.size(), failure.contentType,
        [body = failure.body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) sink.write(body.data(), body.size() / 2);
            return false;
        });
    return true;
}

bool ConnectorApi::checkToken(const httplib::Request& request, httplib::Response& response) {
    const std::string token = request.get_header_value("X-Tally-Connector-Token");
    std::lock_guard lock(mutex_);
    if (tokens_.count(token) != 0 && revoked_.count(token) == 0) return true;
    sendMessage(response, 401, "This connector is not paired (unknown or revoked token)");
    return false;
}

void ConnectorApi::pair(const httplib::Request& request, httplib::Response& response) {
    if (injectFailure("pair", response)) return;
    const json body = json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("code") || !body["code"].is_string()) {
        sendMessage(response, 400, "A pairing code is required");
        return;
    }
    std::lock_guard lock(mutex_);
    if (codes_.erase(body["code"].get<std::string>()) == 0) {
        sendMessage(response, 400, "This pairing code is not valid or has expired");
        return;
    }
    const std::string token = "tc_" + randomText("0123456789abcdef", 40);
    tokens_.insert(token);
    json answer = {{"token", token}, {"organisation", organisation_}};
    if (!company_.empty()) answer["companyName"] = company_;
    sendJson(response, 200, answer);
}

void ConnectorApi::heartbeat(const httplib::Request& request, httplib::Response& response) {
    if (!checkToken(request, response) || injectFailure("heartbeat", response)) return;
    std::lock_guard lock(mutex_);
    json body = json::parse(request.body, nullptr, false);
    heartbeats_.push_back(body.is_discarded() ? json(request.body) : body);
    sendJson(response, 200,
             {{"enabled", enabled_},
              {"companyName", company_},
              {"pollSeconds", pollSeconds_},
              {"syncError", syncError_.empty() ? json() : json(syncError_)}});
}

void ConnectorApi::nextJob(const httplib::Request& request, httplib::Response& response) {
    if (!checkToken(request, response) || injectFailure("next", response)) return;
    std::lock_guard lock(mutex_);
    json answer = {{"pollSeconds", pollSeconds_}, {"job", nullptr}};
    if (enabled_ && !queue_.empty()) {
        Job job = std::move(queue_.front());
        queue_.pop_front();
        json requests = json::array();
        for (const auto& r : job.requests)
            requests.push_back({{"ref", r.ref}, {"xml", r.xml}});
        answer["job"] = {{"id", job.id}, {"kind", job.kind}, {"requests", requests}};
        handedOut_.push_back(std::move(job));
    }
    sendJson(response, 200, answer);
}

void ConnectorApi::result(const httplib::Request& request, httplib::Response& response) {
    if (!checkToken(request, response) || injectFailure("result", response)) return;
    const std::string id = request.matches[2];
    json body = json::parse(request.body, nullptr, false);
    std::lock_guard lock(mutex_);
    const bool known = std::any_of(handedOut_.begin(), handedOut_.end(),
                                   [&](const Job& job) { return job.id == id; });
    if (!known) {
        sendMessage(response, 404, "Unknown job '" + id + "'");
        return;
    }
    const json& list = body.is_object() && body.contains("results") ? body["results"] : json();
    std::size_t succeeded = 0;
    std::size_t total = list.is_array() ? list.size() : 0;
    for (std::size_t i = 0; i < total; ++i) {
        if (list[i].is_object() && list[i].value("ok", false)) ++succeeded;
    }
    results_.push_back({{"jobId", id},
                        {"body", body.is_discarded() ? json() : std::move(body)},
                        {"raw", request.body}});
    // A job queued again (as when its first report never arrived) is done now: it leaves the
    // queue instead of being handed out a second time.
    queue_.erase(
        std::remove_if(queue_.begin(), queue_.end(), [&](const Job& job) { return job.id == id; }),
        queue_.end());
    sendJson(response, 200,
             {{"summary", "Job " + id + ": " + std::to_string(succeeded) + " of " +
                              std::to_string(total) + " requests carried out"}});
}

std::string ConnectorApi::newCode(const std::string& wanted) {
    const std::string code =
        wanted.empty() ? randomText("ABCDEFGHJKLMNPQRSTUVWXYZ", 4) + "-" + randomText("23456789", 4)
                       : wanted;
    std::lock_guard lock(mutex_);
    codes_.insert(code);
    return code;
}

json ConnectorApi::state() const {
    std::lock_guard lock(mutex_);
    json queued = json::array();
    for (const auto& job : queue_)
        queued.push_back(job.id);
    json handed = json::array();
    for (const auto& job : handedOut_)
        handed.push_back(job.id);
    return {{"organisation", organisation_},
            {"companyName", company_},
            {"enabled", enabled_},
            {"pollSeconds", pollSeconds_},
            {"syncError", syncError_},
            {"codes", codes_},
            {"tokens", tokens_},
            {"revoked", revoked_},
            {"queuedJobs", queued},
            {"handedOutJobs", handed},
            {"requestCount", requests_.size()}};
}

void ConnectorApi::updateSettings(const json& changes) {
    std::lock_guard lock(mutex_);
    organisation_ = changes.value("organisation", organisation_);
    company_ = changes.value("companyName", company_);
    enabled_ = changes.value("enabled", enabled_);
    pollSeconds_ = changes.value("pollSeconds", pollSeconds_);
    syncError_ = changes.value("syncError", syncError_);
    clockOffsetSeconds_ = changes.value("clockOffsetSeconds", clockOffsetSeconds_);
}

std::string ConnectorApi::addJob(Job job) {
    std::lock_guard lock(mutex_);
    if (job.id.empty()) job.id = "job-" + std::to_string(nextJobNumber_);
    ++nextJobNumber_;
    queue_.push_back(std::move(job));
    return queue_.back().id;
}

json ConnectorApi::enqueueJobs(const json& spec) {
    json ids = json::array();
    const auto remember = [&](Job job) { ids.push_back(addJob(std::move(job))); };
    if (spec.is_object() && spec.contains("generate")) {
        const int count = spec["generate"].get<int>();
        const std::string kind = spec.value("kind", "import");
        const std::string company =
            spec.value("companyName", state()["companyName"].get<std::string>());
        for (int i = 0; i < count; ++i) {
            Job job{"", kind, {}};
            const std::string ref = kind + "-" + std::to_string(i + 1);
            job.requests.push_back(
                {ref, kind == "export"
                          ? sampleExportRequest(company)
                          : sampleImportRequest(company, "Customer " + std::to_string(i + 1))});
            remember(std::move(job));
        }
        return {{"queued", ids}};
    }
    for (const json& item : spec.is_array() ? spec : json::array({spec})) {
        Job job{item.value("id", ""), item.value("kind", ""), {}};
        for (const json& r : item.value("requests", json::array())) {
            job.requests.push_back({r.value("ref", ""), r.value("xml", "")});
        }
        if (job.kind.empty() && !job.requests.empty()) job.kind = kindOf(job.requests[0].xml);
        remember(std::move(job));
    }
    return {{"queued", ids}};
}

// Each *.xml file is a job with one request; each subfolder a job with its files as requests.
void ConnectorApi::loadJobFolder(const std::string& folder) {
    for (const auto& entry : sortedEntries(folder)) {
        Job job;
        if (std::filesystem::is_directory(entry)) {
            for (const auto& file : sortedEntries(entry)) {
                if (file.extension() != ".xml") continue;
                job.requests.push_back({file.stem().string(), readFile(file)});
            }
        } else if (entry.extension() == ".xml") {
            job.requests.push_back({entry.stem().string(), readFile(entry)});
        }
        if (job.requests.empty()) continue;
        job.kind = kindOf(job.requests[0].xml);
        addJob(std::move(job));
    }
}

void ConnectorApi::revoke(const std::string& token) {
    std::lock_guard lock(mutex_);
    if (token.empty()) {
        revoked_.insert(tokens_.begin(), tokens_.end());
    } else {
        revoked_.insert(token);
    }
}

void ConnectorApi::addFailures(const json& list) {
    std::lock_guard lock(mutex_);
    for (const json& item : list.is_array() ? list : json::array({list})) {
        Failure failure;
        failure.endpoint = item.at("endpoint").get<std::string>();
        failure.status = item.value("status", 500);
        failure.body = item.value("body", "");
        failure.contentType = item.value("contentType", failure.contentType);
        failure.delayMs = item.value("delayMs", 0);
        failure.count = item.value("count", 1);
        failure.cut = item.value("cut", false);
        failures_.push_back(std::move(failure));
    }
}

json ConnectorApi::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

json ConnectorApi::heartbeats() const {
    std::lock_guard lock(mutex_);
    return heartbeats_;
}

json ConnectorApi::results() const {
    std::lock_guard lock(mutex_);
    return results_;
}

json ConnectorApi::resultDigests() const {
    const auto fnv1a = [](const std::string& bytes) {
        std::uint64_t hash = 14695981039346656037ull;
        for (unsigned char c : bytes) {
            hash ^= c;
            hash *= 1099511628211ull;
        }
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        return std::string(text);
    };
    std::lock_guard lock(mutex_);
    json out = json::array();
    for (const json& result : results_) {
        const json& body = result["body"];
        json items = json::array();
        const json& list = body.is_object() ? body.value("results", json::array()) : json::array();
        for (const json& item : list.is_array() ? list : json::array()) {
            if (!item.is_object()) continue;
            const std::string text = item.contains("body") && item["body"].is_string()
                                         ? item["body"].get<std::string>()
                                         : std::string();
            json digest = item;
            digest.erase("body");
            digest["size"] = text.size();
            digest["fnv1a"] = fnv1a(text);
            items.push_back(std::move(digest));
        }
        out.push_back({{"jobId", result["jobId"]},
                       {"error", body.is_object() ? body.value("error", json()) : json()},
                       {"results", items}});
    }
    return out;
}

json ConnectorApi::queueUnreportedAgain() {
    std::lock_guard lock(mutex_);
    json ids = json::array();
    for (const Job& job : handedOut_) {
        const auto reported = [&](const json& r) { return r["jobId"] == job.id; };
        const auto queued = [&](const Job& q) { return q.id == job.id; };
        if (std::any_of(results_.begin(), results_.end(), reported) ||
            std::any_of(queue_.begin(), queue_.end(), queued)) {
            continue;
        }
        queue_.push_back(job);
        ids.push_back(job.id);
    }
    return {{"queued", ids}};
}

void ConnectorApi::reset() {
    clearRecords();
    std::lock_guard lock(mutex_);
    organisation_ = "Sandbox Organisation";
    company_ = "Sandbox Traders";
    enabled_ = true;
    pollSeconds_ = 30;
    syncError_.clear();
    clockOffsetSeconds_ = 0;
    codes_.clear();
    tokens_.clear();
    revoked_.clear();
    queue_.clear();
    handedOut_.clear();
    nextJobNumber_ = 1;
    failures_.clear();
}

void ConnectorApi::clearRecords() {
    std::lock_guard lock(mutex_);
    requests_ = json::array();
    heartbeats_ = json::array();
    results_ = json::array();
}

}  // namespace sandbox
