#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_records.h"
#include "api/report_body.h"
#include "json/json.h"
#include "net/http_client.h"

namespace tsl {

// Whether a token can go into a request header as it is: 1 to 4096 bytes of printable ASCII
// without blanks. A token the server hands out otherwise is refused at pairing.
bool isUsableToken(std::string_view token);

// A value from the server made safe as one path segment: every byte outside A-Z a-z 0-9 - . _ ~
// percent-encoded, and "." and ".." encoded whole, so that it can only name itself.
std::string encodePathSegment(std::string_view value);

// Client of Tessaline's connector API: every call is a POST of JSON to
// normaliseServerUrl(server) + "/v1/tally/agent" + path, answered by JSON.
// Every failure is thrown: NotPaired when Tessaline itself refuses the token of a call made
// with it (a 401, or a 403 with its JSON error answer), ApiError (with a complete sentence) for
// everything else, a proxy's or web filter's refusal included. A call with the token is made
// only to an https address or plain http to this machine, and only with a usable token.
// Answers are bounded in size and time (kSmallAnswerLimit and a minute for pairing and the
// heartbeat, kJobAnswerLimit and kJobDeadlineMs for jobs and reports); a stop flag, when
// given, aborts a call in flight. Not shared between threads.
class ApiClient {
  public:
    static constexpr std::uint64_t kSmallAnswerLimit = std::uint64_t{1} << 20;
    static constexpr std::uint64_t kJobAnswerLimit = std::uint64_t{64} << 20;
    static constexpr std::uint32_t kSmallDeadlineMs = 60000;
    static constexpr std::uint32_t kJobDeadlineMs = 900000;
    // A job handed out or a report under way when the connector stops gets this long to finish:
    // cut off, the job would be lost to us or the report made twice.
    static constexpr std::uint32_t kJobStopGraceMs = 1000;

    ApiClient(std::string serverUrl, std::string token, const std::atomic<bool>* stop = nullptr);

    // One call, bounded as a job call. Throws ApiError / NotPaired; never lets a JsonError
    // through.
    Json post(const std::string& path, const Json& body, bool withToken);

    // The readable message of an error answer ("message", then "error", then
    // "errors"/"message"), or "".
    static std::string serverMessage(const std::string& body);

    PairingResult pair(const std::string& code, const std::string& machineName);
    // connection, when given, receives what the platform saw while connecting, also when the
    // call fails.
    HeartbeatReply heartbeat(const std::string& machineName, bool tallyReachable,
                             const std::string& tallyInfo, ConnectionFacts* connection = nullptr);
    // pollSeconds, when given, receives the answer's "pollSeconds" (or 60); it is left
    // unchanged when the call fails.
    std::optional<Job> nextJob(int* pollSeconds);
    // A job's report in two steps, so the array can be kept and sent again unchanged: the
    // "results" array as it goes on the wire (the bodies are taken over, the vector is left
    // empty), and the report of such an array (shared with the caller, not copied), which
    // returns the server's summary, or "".
    static Json resultsArray(std::vector<JobResult>&& results);
    std::string postResults(const std::string& jobId, const Json& results,
                            const std::string& error);
    // The same report with its bytes read from report as they go out (its answer files are
    // never loaded whole); the same envelope, limits and failures. An answer file that cannot
    // be read fails the call with an ApiError (httpStatus 0).
    std::string postReport(const std::string& jobId, const ReportBody& report);

    // The path of a job's report ("/jobs/" + encoded id + "/result"), and whether its whole URL
    // can be sent at all (an id thousands of bytes long cannot).
    static std::string resultPath(const std::string& jobId);
    bool canReport(const std::string& jobId) const;

    const std::string& baseUrl() const { return baseUrl_; }

  private:
    // date, when given, receives the answer's Date header; connection what was seen while
    // connecting.
    Json call(const HttpClient& http, const std::string& path, const Json& body, bool withToken,
              std::string* date = nullptr, ConnectionFacts* connection = nullptr);

    HttpHeaders headers(bool withToken) const;  // checks the token call first
    // The answer's JSON, or the failure it means.
    static Json answerOf(const HttpResponse& response, bool withToken);

    std::string baseUrl_;
    std::string token_;
    HttpClient small_;  // pairing and heartbeat
    HttpClient jobs_;   // jobs and reports
};

}  // namespace tsl
