#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tsl {

// A failure of a server call, with a complete sentence for the user or the log.
// Deliberately outside the standard exception family: callers catch it by name.
struct ApiError {
    std::string message;
    std::uint32_t httpStatus = 0;  // the server's status when it answered one, else 0
};

// Tessaline itself refused the connector token: 401, or 403 with its own JSON answer.
struct NotPaired {
    std::uint32_t httpStatus = 401;
};

struct PairingResult {
    std::string token;
    std::string organisation;
    std::string companyName;
};

struct HeartbeatReply {
    bool enabled = false;
    std::string companyName;
    int pollSeconds = 60;
    std::string syncError;
    std::string serverDate;  // the answer's Date header, "" when it had none
};

struct JobRequest {
    std::string ref;
    std::string xml;  // posted to Tally unchanged
};

struct Job {
    std::string id;
    std::string kind;
    std::vector<JobRequest> requests;
};

struct JobResult {
    std::string ref;
    bool ok = false;
    std::uint32_t httpStatus = 0;
    std::string body;
    std::string error;  // "" = none
    // When not "": the body is in this answer file (ReportBody), bodyBytes long, not in body.
    std::string bodyFile;
    std::uint64_t bodyBytes = 0;
};

}  // namespace tsl
