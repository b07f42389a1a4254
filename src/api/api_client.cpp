#include "api/api_client.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "config/pairing_address.h"
#include "config/settings.h"
#include "net/url_parts.h"
#include "support/text.h"
#include "support/version.h"

namespace tsl {

namespace {

constexpr std::uint32_t kServerTimeoutMs = 180000;
constexpr char kApiPath[] = "/v1/tally/agent";

constexpr std::size_t kMaxTokenBytes = 4096;

Json nullIfEmpty(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

// Tessaline refuses a token with 401, or with 403 and its JSON error answer. Any other 403 (a
// web filter's or a proxy's block page) says nothing about the token.
bool isTessalineRefusal(const HttpResponse& response) {
    if (response.status == 401) return true;
    try {
        return Json::parse(response.body).isObject();
    } catch (const JsonError&) {
        return false;
    }
}

// Before anything carrying the token leaves the program.
void checkTokenCall(const std::string& baseUrl, const std::string& token) {
    const std::string server = baseUrl.substr(0, baseUrl.size() - (sizeof(kApiPath) - 1));
    if (!isPairingAddressAllowed(server)) {
        throw ApiError{std::string(kPairingAddressRefused) +
                       " (plain http only to this PC); the connector token is not sent to " +
                       server};
    }
    if (!isUsableToken(token)) {
        throw ApiError{"The saved connector token cannot be used; pair this PC again"};
    }
}

}  // namespace

bool isUsableToken(std::string_view token) {
    return !token.empty() && token.size() <= kMaxTokenBytes &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

std::string encodePathSegment(std::string_view value) {
    if (value == "." || value == "..") return value.size() == 1 ? "%2E" : "%2E%2E";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0x0F]);
        }
    }
    return out;
}

ApiClient::ApiClient(std::string serverUrl, std::string token, const std::atomic<bool>* stop)
    : baseUrl_(normaliseServerUrl(serverUrl) + kApiPath),
      token_(std::move(token)),
      small_(false, kServerTimeoutMs, HttpLimits{kSmallAnswerLimit, kSmallDeadlineMs, stop, 0}),
      jobs_(false, kServerTimeoutMs,
            HttpLimits{kJobAnswerLimit, kJobDeadlineMs, stop, kJobStopGraceMs}) {}

Json ApiClient::post(const std::string& path, const Json& body, bool withToken) {
    return call(jobs_, path, body, withToken);
}

HttpHeaders ApiClient::headers(bool withToken) const {
    HttpHeaders headers = {
        {L"Content-Type", L"application/json; charset=utf-8"},
        {L"Accept", L"application/json"},
    };
    if (withToken) {
        checkTokenCall(baseUrl_, token_);
        headers.emplace_back(L"X-Tally-Connector-Token", fromUtf8(token_));
    }
    return headers;
}

Json ApiClient::call(const HttpClient& http, const std::string& path, const Json& body,
                     bool withToken, std::string* date, ConnectionFacts* connection) {
    HttpResponse response =
        http.request(L"POST", baseUrl_ + path, headers(withToken), body.dump(), connection);
    if (date) *date = std::move(response.date);
    return answerOf(response, withToken);
}

Json ApiClient::answerOf(const HttpResponse& response, bool withToken) {
    if (!response.ok) throw ApiError{"Cannot reach Tessaline: " + response.error};

    const std::string status = std::to_string(response.status);
    if (response.status == 401 || response.status == 403) {
        if (withToken && isTessalineRefusal(response)) throw NotPaired{response.status};
        std::string message = serverMessage(response.body);
        if (withToken) {
            throw ApiError{"Tessaline answered HTTP " + status +
                               (message.empty() ? std::string() : ": " + message),
                           response.status};
        }
        if (message.empty()) message = "Tessaline refused the request (HTTP " + status + ")";
        throw ApiError{std::move(message), response.status};
    }
    if (response.status < 200 || response.status > 299) {
        const std::string message = serverMessage(response.body);
        throw ApiError{"Tessaline answered HTTP " + status +
                           (message.empty() ? std::string() : ": " + message),
                       response.status};
    }
    try {
        return Json::parse(response.body);
    } catch (const JsonError& e) {
        throw ApiError{std::string("Unexpected response from Tessaline (") + e.what() +
                       ") - check the server address"};
    }
}

std::string ApiClient::serverMessage(const std::string& body) {
    Json answer;
    try {
        answer = Json::parse(body);
    } catch (const JsonError&) {
        return "";
    }
    for (const char* key : {"message", "error"}) {
        const Json& member = answer.get(key);
        if (member.isString()) return member.stringOr("");
    }
    const Json& nested = answer.get("errors").get("message");
    return nested.isString() ? nested.stringOr("") : "";
}

PairingResult ApiClient::pair(const std::string& code, const std::string& machineName) {
    Json body;
    body.set("code", Json(code)).set("machineName", Json(machineName));
    body.set("agentVersion", Json(std::string(kVersion)));
    const Json answer = call(small_, "/pair", body, false);
    PairingResult result{answer.get("token").stringOr(""), answer.get("organisation").stringOr(""),
                         answer.get("companyName").stringOr("")};
    if (result.token.empty()) throw ApiError{"Tessaline did not return a connector token"};
    if (!isUsableToken(result.token)) {
        throw ApiError{
            "Tessaline returned a connector token that cannot be used (it is longer than 4096 "
            "bytes or holds blanks, control characters or non-ASCII letters); nothing was saved"};
    }
    return result;
}

HeartbeatReply ApiClient::heartbeat(const std::string& machineName, bool tallyReachable,
                                    const std::string& tallyInfo, ConnectionFacts* connection) {
    Json body;
    body.set("machineName", Json(machineName)).set("agentVersion", Json(std::string(kVersion)));
    body.set("tallyReachable", Json(tallyReachable)).set("tallyInfo", Json(tallyInfo));
    HeartbeatReply reply;
    const Json answer = call(small_, "/heartbeat", body, true, &reply.serverDate, connection);
    reply.enabled = answer.get("enabled").boolOr(false);
    reply.companyName = answer.get("companyName").stringOr("");
    reply.pollSeconds = answer.get("pollSeconds").intOr(60);
    reply.syncError = answer.get("syncError").stringOr("");
    return reply;
}

std::optional<Job> ApiClient::nextJob(int* pollSeconds) {
    Json answer = post("/jobs/next", Json(Json::Object()), true);
    if (pollSeconds) *pollSeconds = answer.get("pollSeconds").intOr(60);
    Json* job = answer.find("job");
    if (!job || !job->isObject()) return std::nullopt;

    Job result;
    result.id = job->get("id").stringOr("");
    result.kind = job->get("kind").stringOr("");
    Json* requests = job->find("requests");
    Json::Array* elements = requests ? requests->elements() : nullptr;
    if (!elements) return result;
    result.requests.reserve(elements->size());
    // The answer is ours alone: the XML texts (often hundreds of KB) are moved out, not copied.
    for (Json& element : *elements) {
        Json* ref = element.find("ref");
        Json* xml = element.find("xml");
        result.requests.push_back(JobRequest{ref ? ref->takeStringOr("") : std::string(),
                                             xml ? xml->takeStringOr("") : std::string()});
    }
    return result;
}

namespace {

// One element of "results", the body taken over.
Json resultItem(const JobResult& r, std::string body) {
    Json item;
    item.set("ref", Json(r.ref)).set("ok", Json(r.ok));
    item.set("httpStatus", Json(static_cast<double>(r.httpStatus)));
    item.set("error", nullIfEmpty(r.error));
    if (r.bodyFile.empty()) return item.set("body", Json(std::move(body)));
    item.set(ReportBody::kBodyFile, Json(r.bodyFile));
    return item.set(ReportBody::kBodyBytes, Json(std::to_string(r.bodyBytes)));
}

}  // namespace

Json ApiClient::resultsArray(std::vector<JobResult>&& results) {
    Json list(std::vector<Json>{});
    for (JobResult& r : results)
        list.push(resultItem(r, std::move(r.body)));
    results.clear();
    return list;
}

std::string ApiClient::postResults(const std::string& jobId, const Json& results,
                                   const std::string& error) {
    Json body;
    body.set("results", results).set("error", nullIfEmpty(error));
    const Json answer = post(resultPath(jobId), body, true);
    return answer.get("summary").stringOr("");
}

std::string ApiClient::postReport(const std::string& jobId, const ReportBody& report) {
    const HttpHeaders sent = headers(true);
    std::string answer;
    HttpResponse response;
    try {
        // The answer is bounded by the client's own limit before it reaches the sink.
        response = jobs_.stream(L"POST", baseUrl_ + resultPath(jobId), sent, report.source(),
                                [&](std::string_view bytes) { answer.append(bytes); });
    } catch (const std::runtime_error& e) {
        throw ApiError{std::string("The results could not be sent: ") + e.what()};
    }
    response.body = std::move(answer);
    return answerOf(response, true).get("summary").stringOr("");
}

std::string ApiClient::resultPath(const std::string& jobId) {
    return "/jobs/" + encodePathSegment(jobId) + "/result";
}

bool ApiClient::canReport(const std::string& jobId) const {
    return splitUrl(baseUrl_ + resultPath(jobId)).has_value();
}

}  // namespace tsl
