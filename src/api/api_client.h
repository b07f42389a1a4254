#pragma once

#include <optional>
#include <string>
#include <vector>

#include "api/api_records.h"
#include "json/json.h"
#include "net/http_client.h"

namespace tsl {

// Client of Tessaline's connector API: every call is a POST of JSON to
// normaliseServerUrl(server) + "/v1/tally/agent" + path, answered by JSON.
// Every failure is thrown: NotPaired when a call made with the token gets 401/403, ApiError
// (with a complete sentence) for everything else. Not shared between threads.
class ApiClient {
  public:
    ApiClient(std::string serverUrl, std::string token);

    // One call. Throws ApiError / NotPaired; never lets a JsonError through.
    Json post(const std::string& path, const Json& body, bool withToken);

    // The readable message of an error answer ("message", then "error", then
    // "errors"/"message"), or "".
    static std::string serverMessage(const std::string& body);

    PairingResult pair(const std::string& code, const std::string& machineName);
    HeartbeatReply heartbeat(const std::string& machineName, bool tallyReachable,
                             const std::string& tallyInfo);
    // pollSeconds, when given, receives the answer's "pollSeconds" (or 60); it is left
    // unchanged when the call fails.
    std::optional<Job> nextJob(int* pollSeconds);
    // Returns the server's summary, or "".
    std::string postResult(const std::string& jobId, const std::vector<JobResult>& results,
                           const std::string& error);
    // The same, taking the results' bodies over instead of copying them (large Tally answers);
    // the vector is left empty.
    std::string postResult(const std::string& jobId, std::vector<JobResult>&& results,
                           const std::string& error);
    // The same in two steps, so the array can be kept and sent again unchanged: the "results"
    // array as it goes on the wire (the bodies are taken over, the vector is left empty), and
    // the report of such an array (shared with the caller, not copied).
    static Json resultsArray(std::vector<JobResult>&& results);
    std::string postResults(const std::string& jobId, const Json& results,
                            const std::string& error);

    const std::string& baseUrl() const { return baseUrl_; }

  private:
    std::string baseUrl_;
    std::string token_;
    HttpClient http_;
};

}  // namespace tsl
