#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tally_xml.h"

namespace sandbox {

// How the Tally XML server behaves; changed through the control port.
struct TallyConfig {
    bool erp9 = false;  // answer as Tally.ERP 9 instead of TallyPrime
    Encoding encoding = Encoding::Utf8;
    int delayMs = 0;                          // before every answer
    int status = 200;                         // HTTP status of every answer
    bool drop = false;                        // send half of each answer, then close the connection
    std::string company = "Sandbox Traders";  // the company that is loaded
    bool running = true;                      // false: nothing listens on the port
    std::string force;                        // "", "unknown", "lineerror", "import", "export"
    int created = -1;                         // -1: one per TALLYMESSAGE of the request
    int altered = 0;
    int errors = 0;
};

// Plays Tally's XML-over-HTTP server on 127.0.0.1: GET answers that it is running, POST
// answers an export with masters, an import with its IMPORTRESULT, anything else with Tally's
// refusals (all with HTTP 200, as Tally does).
class TallyServer {
  public:
    explicit TallyServer(int port);  // 0 picks a free port
    ~TallyServer();
    TallyServer(const TallyServer&) = delete;
    TallyServer& operator=(const TallyServer&) = delete;

    int port() const { return port_; }
    nlohmann::json config() const;
    void configure(const nlohmann::json& changes);  // throws on an unknown encoding
    nlohmann::json requests() const;
    void clearRequests();
    void reset();  // the default configuration, listening, no requests recorded

  private:
    void start();
    void stop();
    void handle(const httplib::Request& request, httplib::Response& response);
    std::string answerFor(const httplib::Request& request, const TallyConfig& config) const;

    int port_ = 0;
    mutable std::mutex mutex_;
    TallyConfig config_;
    nlohmann::json requests_ = nlohmann::json::array();
    std::mutex serverMutex_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace sandbox
