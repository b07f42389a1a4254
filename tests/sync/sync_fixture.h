#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/api_client.h"
#include "common/sandbox_client.h"
#include "common/temp_dir.h"
#include "config/config.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "sync/sync_engine.h"

namespace tsl::testing {

// A connector paired with the sandbox (reset by SandboxControl): settings in a temporary folder,
// the log there too, an engine whose listener records every status it is given.
class SyncFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::startIn(dir.path() / "logs", false);
        config = std::make_unique<Config>(dir.path());
        Settings s = config->settings();
        s.serverUrl = sandbox.apiUrl();
        s.tallyHost = "127.0.0.1";
        s.tallyPort = sandbox.tallyPort();
        config->save(s);
        restartEngine();
    }

    void TearDown() override {
        engine.reset();
        Logger::reset();
    }

    void pair() {
        const std::string code = sandbox.call("POST", "/api/codes").get("code").stringOr("");
        const PairingResult result = ApiClient(sandbox.apiUrl(), "").pair(code, machineName());
        Settings s = config->settings();
        s.token = result.token;
        s.organisation = result.organisation;
        config->save(s);
    }
    void useTally(int port) {
        Settings s = config->settings();
        s.tallyPort = port;
        config->save(s);
    }
    void serveFrom(const std::string& address) {
        Settings s = config->settings();
        s.serverUrl = address;
        config->save(s);
    }
    // The state shown, and its message whole or, where the expected text ends in '*', its start.
    void expectShown(SyncState state, const std::string& message) const {
        const SyncStatus s = engine->status();
        EXPECT_EQ(s.state, state);
        const bool start = message.back() == '*';
        EXPECT_EQ(start ? s.message.substr(0, message.size() - 1) : s.message,
                  start ? message.substr(0, message.size() - 1) : message);
    }

    // Queues jobs (the sandbox's POST /api/jobs form); the id of the first.
    std::string queue(const std::string& jobs) {
        return sandbox.call("POST", "/api/jobs", jobs).get("queued").items()[0].stringOr("");
    }
    void failNext(const std::string& failureJson) {
        sandbox.call("POST", "/api/failures", failureJson);
    }
    // How many of the sandbox's records at the path have the member with the value.
    std::size_t countOf(const char* path, const char* member, const std::string& value) const {
        const Json records = sandbox.call("GET", path);
        return std::count_if(records.items().begin(), records.items().end(),
                             [&](const Json& r) { return r.get(member).stringOr("") == value; });
    }
    // How many reports of this job the sandbox took.
    std::size_t resultsFor(const std::string& id) const {
        return countOf("/api/results/digest", "jobId", id);
    }
    // How many XML requests reached the sandbox's Tally (the probes are GETs).
    std::size_t tallyPosts() const { return countOf("/tally/requests", "method", "POST"); }
    // The state folder is the settings folder here (Config(folder)).
    std::filesystem::path keptFile() const { return dir.path() / "kept-results.json"; }
    std::filesystem::path asideFile() const { return dir.path() / kSetAsideFileName; }
    // Makes the engine again, as a restart of the program does.
    void restartEngine() {
        engine.reset();
        engine = std::make_unique<SyncEngine>(
            *config, [this](const SyncStatus& status) { seen.push_back(status); });
    }

    int logCount(const std::string& text) const {
        const std::string all = readFile(dir.path() / "logs" / "connector.log");
        int count = 0;
        for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

    TempDir dir;
    SandboxControl sandbox;
    std::unique_ptr<Config> config;
    std::unique_ptr<SyncEngine> engine;
    std::vector<SyncStatus> seen;
};

}  // namespace tsl::testing
