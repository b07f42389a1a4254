#include "common/sandbox_client.h"

#include "config/base64.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "net/http_client.h"

namespace tsl::testing {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        throw std::runtime_error(std::string(name) +
                                 " is not set: run this program through "
                                 "tools/sandbox/with-sandbox.sh (ctest does)");
    }
    return value;
}

HttpResponse exchange(const std::string& method, const std::string& url, const std::string& body) {
    // Direct: a proxy set up by a test must never come between the test and the sandbox.
    const HttpClient client(true, 30000);
    HttpHeaders headers;
    if (!body.empty()) headers.emplace_back(L"Content-Type", L"application/json");
    const std::wstring verb(method.begin(), method.end());
    HttpResponse response = client.request(verb, url, headers, body);
    if (!response.ok) {
        throw std::runtime_error("sandbox control: " + method + " " + url + ": " + response.error);
    }
    if (response.status >= 400) {
        throw std::runtime_error("sandbox control: " + method + " " + url + " answered " +
                                 std::to_string(response.status) + ": " + response.body);
    }
    return response;
}

}  // namespace

SandboxControl::SandboxControl()
    : control_(variable("TSL_SANDBOX_CONTROL")),
      api_(variable("TSL_SANDBOX_API")),
      tallyPort_(std::atoi(variable("TSL_SANDBOX_TALLY_PORT").c_str())) {
    // Whatever an earlier test left behind (queued jobs, failures, a stopped Tally, tokens) is
    // gone: each fixture starts from a sandbox as it was at its start.
    call("POST", "/reset");
}

Json SandboxControl::call(const std::string& method, const std::string& path,
                          const std::string& jsonBody) const {
    // The control port wants a body with every POST, if only an empty object.
    const std::string body = jsonBody.empty() && method == "POST" ? "{}" : jsonBody;
    return Json::parse(exchange(method, control_ + path, body).body);
}

std::string SandboxControl::bytes(const std::string& path) const {
    return exchange("GET", control_ + path, "").body;
}

ScriptedPeer::ScriptedPeer(const SandboxControl& sandbox, const std::string& tls)
    : sandbox_(sandbox) {
    const Json peer = sandbox.call("POST", "/peers", "{\"tls\":" + jsonText(tls) + "}");
    id_ = std::to_string(peer.get("id").intOr(0));
    port_ = peer.get("port").intOr(0);
    scheme_ = tls == "none" ? "http" : "https";
}

ScriptedPeer::~ScriptedPeer() {
    try {
        sandbox_.call("DELETE", "/peers/" + id_);
    } catch (const std::exception&) {
        // The sandbox removes every peer when it stops anyway.
    }
}

void ScriptedPeer::script(const std::string& replyJson) const {
    sandbox_.call("POST", "/peers/" + id_ + "/replies", replyJson);
}

std::size_t ScriptedPeer::requestCount() const {
    return static_cast<std::size_t>(
        sandbox_.call("GET", "/peers/" + id_ + "/requests").get("count").intOr(0));
}

std::size_t ScriptedPeer::connectionCount() const {
    return static_cast<std::size_t>(
        sandbox_.call("GET", "/peers/" + id_ + "/requests").get("connections").intOr(0));
}

std::string ScriptedPeer::request(std::size_t index) const {
    return sandbox_.bytes("/peers/" + id_ + "/requests/" + std::to_string(index));
}

std::string callersPart(const std::string& request) {
    static const std::regex added(R"(\r\n(host|user-agent|content-length|connection):[^\r\n]*)",
                                  std::regex::icase);
    static const std::regex blanks(R"(\r\n([^:\r\n]*):[ \t]*)");
    const std::size_t headEnd = std::min(request.find("\r\n\r\n"), request.size());
    const std::string head = std::regex_replace(request.substr(0, headEnd), added, "");
    return std::regex_replace(head, blanks, "\r\n$1:") + request.substr(headEnd);
}

std::string jsonText(const std::string& text) {
    return Json(text).dump();
}

std::string base64(const std::string& bytes) {
    return base64Encode(bytes);
}

}  // namespace tsl::testing
