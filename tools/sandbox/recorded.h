#pragma once

#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

namespace sandbox {

// A request received by the API or the Tally server, as the control port shows it.
inline nlohmann::json describeRequest(const httplib::Request& request) {
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : request.headers) {
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT") headers[name] = value;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return {{"method", request.method},
            {"path", request.path},
            {"headers", headers},
            {"body", request.body},
            {"size", request.body.size()},
            {"timeMs", std::chrono::duration_cast<std::chrono::milliseconds>(now).count()}};
}

// JSON text that never throws on bytes that are not UTF-8 (they become U+FFFD).
inline std::string dumpJson(const nlohmann::json& value) {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Answers a request of the API or of the control port with this status and JSON body.
inline void sendJson(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(dumpJson(body), "application/json; charset=utf-8");
}

}  // namespace sandbox
