#pragma once

#include <httplib.h>

#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace sandbox {

// Plays Tessaline's connector API: POST {any prefix}/v1/tally/agent/pair, /heartbeat,
// /jobs/next and /jobs/{id}/result. Pairing codes are single-use; tokens are checked on every
// other call (401 when unknown or revoked). Everything received is recorded.
class ConnectorApi {
  public:
    ConnectorApi();

    void addRoutes(httplib::Server& server);

    // Control operations (see README.md); each returns the JSON answer for the control port.
    std::string newCode(const std::string& wanted);
    nlohmann::json state() const;
    void updateSettings(const nlohmann::json& changes);
    nlohmann::json enqueueJobs(const nlohmann::json& spec);
    // What Tessaline does when a job's report is long overdue: every job handed out and not
    // reported yet is queued again. Answers {"queued": [ids]}.
    nlohmann::json queueUnreportedAgain();
    void loadJobFolder(const std::string& folder);
    void revoke(const std::string& token);  // "" revokes every token
    void addFailures(const nlohmann::json& list);
    nlohmann::json requests() const;
    nlohmann::json heartbeats() const;
    nlohmann::json results() const;
    nlohmann::json resultDigests() const;  // results with each body as its size and FNV-1a hash
    void clearRecords();
    void reset();  // back to the state of a fresh start: no codes, tokens, jobs or failures

  private:
    struct JobRequest {
        std::string ref;
        std::string xml;
    };
    struct Job {
        std::string id;
        std::string kind;
        std::vector<JobRequest> requests;
    };
    struct Failure {
        std::string endpoint;  // "pair", "heartbeat", "next", "result"
        int status = 500;      // 0: only delay, then the normal answer
        std::string body;
        std::string contentType = "application/json";
        int delayMs = 0;
        int count = 1;
        bool cut = false;  // announce the whole body, send half of it, close the connection
    };

    bool injectFailure(const std::string& endpoint, httplib::Response& response);
    bool checkToken(const httplib::Request& request, httplib::Response& response);
    void pair(const httplib::Request& request, httplib::Response& response);
    void heartbeat(const httplib::Request& request, httplib::Response& response);
    void nextJob(const httplib::Request& request, httplib::Response& response);
    void result(const httplib::Request& request, httplib::Response& response);
    std::string addJob(Job job);  // the job's id

    mutable std::mutex mutex_;
    std::string organisation_ = "Sandbox Organisation";
    std::string company_ = "Sandbox Traders";
    bool enabled_ = true;
    int pollSeconds_ = 30;
    std::string syncError_;
    long long clockOffsetSeconds_ = 0;  // how far the Date of its answers is from this clock
    std::set<std::string> codes_;
    std::set<std::string> tokens_;
    std::set<std::string> revoked_;
    std::deque<Job> queue_;
    std::vector<Job> handedOut_;
    int nextJobNumber_ = 1;
    std::deque<Failure> failures_;
    nlohmann::json requests_ = nlohmann::json::array();
    nlohmann::json heartbeats_ = nlohmann::json::array();
    nlohmann::json results_ = nlohmann::json::array();
};

}  // namespace sandbox
