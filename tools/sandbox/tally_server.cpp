#include "tally_server.h"

#include <chrono>
#include <stdexcept>

#include "listener.h"
#include "recorded.h"

namespace sandbox {

using nlohmann::json;

TallyServer::TallyServer(int port) : port_(port) {
    start();
}

TallyServer::~TallyServer() {
    stop();
}

void TallyServer::start() {
    std::lock_guard lock(serverMutex_);
    if (server_) return;
    auto server = std::make_unique<httplib::Server>();
    server->Get(".*", [this](const httplib::Request& q, httplib::Response& r) { handle(q, r); });
    server->Post(".*", [this](const httplib::Request& q, httplib::Response& r) { handle(q, r); });
    if (port_ == 0) {
        port_ = server->bind_to_any_port("127.0.0.1");
        if (port_ < 0) throw std::runtime_error("Tally server: no free port");
    } else if (!server->bind_to_port("127.0.0.1", port_)) {
        throw std::runtime_error("Tally server: port " + std::to_string(port_) + " is taken");
    }
    server_ = std::move(server);
    thread_ = serveOnThread(*server_);
}

void TallyServer::stop() {
    std::lock_guard lock(serverMutex_);
    if (!server_) return;
    server_->stop();
    thread_.join();
    server_.reset();
}

json TallyServer::config() const {
    std::lock_guard lock(mutex_);
    const TallyConfig& c = config_;
    return {{"product", c.erp9 ? "erp9" : "prime"},
            {"encoding", encodingName(c.encoding)},
            {"delayMs", c.delayMs},
            {"status", c.status},
            {"drop", c.drop},
            {"company", c.company},
            {"running", c.running},
            {"force", c.force},
            {"created", c.created},
            {"altered", c.altered},
            {"errors", c.errors},
            {"port", port_},
            {"requestCount", requests_.size()}};
}

void TallyServer::configure(const json& changes) {
    bool running = true;
    {
        std::lock_guard lock(mutex_);
        TallyConfig c = config_;
        if (changes.contains("product")) c.erp9 = changes["product"] == "erp9";
        if (changes.contains("encoding")) {
            const auto encoding = encodingFromName(changes["encoding"].get<std::string>());
            if (!encoding) throw std::invalid_argument("unknown encoding");
            c.encoding = *encoding;
        }
        c.delayMs = changes.value("delayMs", c.delayMs);
        c.status = changes.value("status", c.status);
        c.drop = changes.value("drop", c.drop);
        c.company = changes.value("company", c.company);
        c.running = changes.value("running", c.running);
        c.force = changes.value("force", c.force);
        c.created = changes.value("created", c.created);
        c.altered = changes.value("altered", c.altered);
        c.errors = changes.value("errors", c.errors);
        config_ = c;
        running = c.running;
    }
    if (running) {
        start();
    } else {
        stop();
    }
}

json TallyServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TallyServer::reset() {
    {
        std::lock_guard lock(mutex_);
        config_ = TallyConfig{};
        requests_ = json::array();
    }
    start();
}

void TallyServer::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_ = json::array();
}

std::string TallyServer::answerFor(const httplib::Request& request,
                                   const TallyConfig& config) const {
    if (request.method == "GET") return runningAnswer(config.erp9);
    const std::string& xml = request.body;
    const RequestKind kind = requestKind(xml);
    if (config.force == "unknown" || (config.force.empty() && kind == RequestKind::Unknown)) {
        return unknownRequestAnswer();
    }
    const std::string company = requestedCompany(xml);
    if (config.force == "lineerror") {
        return companyNotLoadedAnswer(company.empty() ? "Not Loaded Ltd" : company);
    }
    if (config.force.empty() && !company.empty() && company != config.company) {
        return companyNotLoadedAnswer(company);
    }
    if (config.force.empty() && kind == RequestKind::Export && asksForCompanies(xml)) {
        return openCompaniesAnswer(config.company);
    }
    if (config.force == "export" || (config.force.empty() && kind == RequestKind::Export)) {
        return exportAnswer(config.company);
    }
    const int created = config.created >= 0 ? config.created : importedObjects(xml);
    return importAnswer(created, config.altered, config.errors);
}

void TallyServer::handle(const httplib::Request& request, httplib::Response& response) {
    TallyConfig config;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(describeRequest(request));
        config = config_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(config.delayMs));
    const std::string body = encodeText(answerFor(request, config), config.encoding);
    const std::string type = "text/xml; charset=" + encodingCharset(config.encoding);
    response.status = config.status;
    if (!config.drop) {
        response.set_content(body, type);
        return;
    }
    // Half of the announced body, then the provider fails and the connection is closed.
    response.set_content_provider(body.size(), type,
                                  [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      if (offset == 0) sink.write(body.data(), body.size() / 2);
                                      return false;
                                  });
}

}  // namespace sandbox
