#pragma once

#include <httplib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "authority.h"
#include "connector_api.h"
#include "scripted_peer.h"
#include "tally_server.h"

namespace sandbox {

// Parses a scripted reply from its JSON form (README.md); throws on a malformed one.
Reply replyFromJson(const nlohmann::json& item);

// Everything the control port reaches.
struct Sandbox {
    TestAuthority authority{"Tessaline Sandbox Test Authority"};
    TestAuthority stranger{"Unknown Authority"};  // issues the certificate nobody trusts
    Identity serverIdentity = authority.issueServer();
    Identity strangerIdentity = stranger.issueServer();
    ConnectorApi api;
    std::unique_ptr<TallyServer> tally;
    std::string caFile;
    nlohmann::json endpoints = nlohmann::json::object();
    std::atomic<bool> shutdownRequested{false};

    std::mutex peersMutex;
    std::map<int, std::shared_ptr<ScriptedPeer>> peers;  // shared: a call may outlive removal
    int nextPeerId = 1;
};

// The JSON control interface: scripting the peers, reading back what they received.
void addControlRoutes(httplib::Server& server, Sandbox& sandbox);

}  // namespace sandbox
