#include "control.h"

#include <stdexcept>

#include "recorded.h"

namespace sandbox {

namespace {

using nlohmann::json;

std::string base64Decode(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        const std::size_t value = alphabet.find(c);
        if (value == std::string::npos) continue;  // padding and line breaks
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

json bodyOf(const httplib::Request& request) {
    if (request.body.empty()) return json::object();
    return json::parse(request.body);
}

// Wraps a control handler: malformed input answers 400 with the reason.
template <typename Handler>
httplib::Server::Handler guarded(Handler handler) {
    return [handler](const httplib::Request& request, httplib::Response& response) {
        try {
            handler(request, response);
        } catch (const std::exception& e) {
            sendJson(response, 400, {{"message", e.what()}});
        }
    };
}

std::shared_ptr<ScriptedPeer> findPeer(Sandbox& sandbox, const std::string& id) {
    std::lock_guard lock(sandbox.peersMutex);
    auto it = sandbox.peers.find(std::stoi(id));
    if (it == sandbox.peers.end()) throw std::invalid_argument("no peer " + id);
    return it->second;
}

json createPeer(Sandbox& sandbox, const json& spec) {
    const std::string tls = spec.value("tls", "none");
    ContextPtr context;
    if (tls == "modern") {
        context = makeServerContext(sandbox.serverIdentity, TlsVersions::Modern);
    } else if (tls == "tls11") {
        context = makeServerContext(sandbox.serverIdentity, TlsVersions::Tls11Only);
    } else if (tls == "untrusted") {
        context = makeServerContext(sandbox.strangerIdentity, TlsVersions::Modern);
    } else if (tls != "none") {
        throw std::invalid_argument("tls must be none, modern, tls11 or untrusted");
    }
    auto peer = std::make_shared<ScriptedPeer>(std::move(context));
    const int port = peer->port();
    const std::string url =
        std::string(tls == "none" ? "http" : "https") + "://127.0.0.1:" + std::to_string(port);
    std::lock_guard lock(sandbox.peersMutex);
    const int id = sandbox.nextPeerId++;
    sandbox.peers[id] = std::move(peer);
    return {{"id", id}, {"port", port}, {"url", url}};
}

void addPeerRoutes(httplib::Server& server, Sandbox& sandbox) {
    server.Post("/peers", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    sendJson(r, 200, createPeer(sandbox, bodyOf(q)));
                }));
    server.Post(R"(/peers/(\d+)/replies)",
                guarded([&](const httplib::Request& q, httplib::Response& r) {
                    const json spec = bodyOf(q);
                    std::vector<Reply> replies;
                    for (const json& item : spec.is_array() ? spec : json::array({spec})) {
                        replies.push_back(replyFromJson(item));
                    }
                    findPeer(sandbox, q.matches[1])->enqueue(std::move(replies));
                    sendJson(r, 200, {{"queued", spec.is_array() ? spec.size() : 1}});
                }));
    server.Delete(R"(/peers/(\d+)/replies)",
                  guarded([&](const httplib::Request& q, httplib::Response& r) {
                      findPeer(sandbox, q.matches[1])->clearScript();
                      sendJson(r, 200, json::object());
                  }));
    server.Get(
        R"(/peers/(\d+)/requests)", guarded([&](const httplib::Request& q, httplib::Response& r) {
            const auto peer = findPeer(sandbox, q.matches[1]);
            sendJson(r, 200,
                     {{"count", peer->requestCount()}, {"connections", peer->connectionCount()}});
        }));
    server.Get(R"(/peers/(\d+)/requests/(\d+))",
               guarded([&](const httplib::Request& q, httplib::Response& r) {
                   const auto bytes =
                       findPeer(sandbox, q.matches[1])->request(std::stoul(q.matches[2].str()));
                   if (!bytes) {
                       sendJson(r, 404, {{"message", "no such request"}});
                       return;
                   }
                   r.set_content(*bytes, "application/octet-stream");
               }));
    server.Delete(R"(/peers/(\d+))", guarded([&](const httplib::Request& q, httplib::Response& r) {
                      std::shared_ptr<ScriptedPeer> gone;
                      {
                          std::lock_guard lock(sandbox.peersMutex);
                          auto it = sandbox.peers.find(std::stoi(q.matches[1]));
                          if (it != sandbox.peers.end()) {
                              gone = std::move(it->second);
                              sandbox.peers.erase(it);
                          }
                      }
                      sendJson(r, 200, {{"removed", gone != nullptr}});
                  }));
}

void addApiRoutes(httplib::Server& server, Sandbox& sandbox) {
    ConnectorApi& api = sandbox.api;
    server.Post("/api/codes", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    sendJson(r, 200, {{"code", api.newCode(bodyOf(q).value("code", ""))}});
                }));
    server.Get("/api/state", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, api.state());
               }));
    server.Post("/api/settings", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    api.updateSettings(bodyOf(q));
                    sendJson(r, 200, api.state());
                }));
    server.Post("/api/jobs", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    sendJson(r, 200, api.enqueueJobs(bodyOf(q)));
                }));
    server.Post("/api/jobs/unreported", guarded([&](const httplib::Request&, httplib::Response& r) {
                    sendJson(r, 200, api.queueUnreportedAgain());
                }));
    server.Post("/api/revoke", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    api.revoke(bodyOf(q).value("token", ""));
                    sendJson(r, 200, api.state());
                }));
    server.Post("/api/failures", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    api.addFailures(bodyOf(q));
                    sendJson(r, 200, json::object());
                }));
    server.Get("/api/requests", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, api.requests());
               }));
    server.Get("/api/heartbeats", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, api.heartbeats());
               }));
    server.Get("/api/results", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, api.results());
               }));
    server.Get("/api/results/digest", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, api.resultDigests());
               }));
    server.Post("/api/clear", guarded([&](const httplib::Request&, httplib::Response& r) {
                    api.clearRecords();
                    sendJson(r, 200, json::object());
                }));
}

void addTallyRoutes(httplib::Server& server, Sandbox& sandbox) {
    TallyServer& tally = *sandbox.tally;
    server.Get("/tally/config", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, tally.config());
               }));
    server.Post("/tally/config", guarded([&](const httplib::Request& q, httplib::Response& r) {
                    tally.configure(bodyOf(q));
                    sendJson(r, 200, tally.config());
                }));
    server.Get("/tally/requests", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, tally.requests());
               }));
    server.Post("/tally/clear", guarded([&](const httplib::Request&, httplib::Response& r) {
                    tally.clearRequests();
                    sendJson(r, 200, json::object());
                }));
}

}  // namespace

Reply replyFromJson(const json& item) {
    Reply reply;
    reply.status = item.value("status", reply.status);
    reply.reason = item.value("reason", reply.status == 200 ? "OK" : "Status");
    for (const json& header : item.value("headers", json::array())) {
        reply.headers.emplace_back(header.at(0).get<std::string>(),
                                   header.at(1).get<std::string>());
    }
    reply.body =
        item.contains("bodyBase64") ? base64Decode(item["bodyBase64"]) : item.value("body", "");
    reply.fillSize = item.value("size", std::uint64_t{0});
    reply.fill = item.value("fill", reply.fill);
    reply.chunked = item.value("chunked", false);
    reply.autoLength = item.value("autoLength", true);
    if (item.contains("raw")) reply.raw = item["raw"].get<std::string>();
    if (item.contains("rawBase64")) reply.raw = base64Decode(item["rawBase64"]);
    reply.delayMs = item.value("delayMs", 0);
    reply.cutAfter = item.value("cutAfter", -1LL);
    reply.stallAfter = item.value("stallAfter", -1LL);
    reply.dripMs = item.value("dripMs", 0);
    reply.noAnswer = item.value("noAnswer", false);
    reply.closeAtOnce = item.value("close", false);
    reply.repeat = item.value("repeat", false);
    reply.holdMs = item.value("holdMs", reply.holdMs);
    return reply;
}

void addControlRoutes(httplib::Server& server, Sandbox& sandbox) {
    server.Get("/", guarded([&](const httplib::Request&, httplib::Response& r) {
                   sendJson(r, 200, sandbox.endpoints);
               }));
    server.Get("/ca.pem", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content(sandbox.authority.root().certPem(), "application/x-pem-file");
    });
    server.Post("/shutdown", [&](const httplib::Request&, httplib::Response& r) {
        sandbox.shutdownRequested = true;
        sendJson(r, 200, json::object());
    });
    server.Post("/reset", guarded([&](const httplib::Request&, httplib::Response& r) {
                    sandbox.api.reset();
                    sandbox.tally->reset();
                    std::lock_guard lock(sandbox.peersMutex);
                    sandbox.peers.clear();
                    sendJson(r, 200, json::object());
                }));
    addPeerRoutes(server, sandbox);
    addApiRoutes(server, sandbox);
    addTallyRoutes(server, sandbox);
}

}  // namespace sandbox
