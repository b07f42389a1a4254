#pragma once

#include <cstddef>
#include <string>

#include "json/json.h"

namespace tsl::testing {

// The sandbox that tools/sandbox/with-sandbox.sh started for this test program, reached
// through its control port (README.md of the sandbox). Throws std::runtime_error when the
// program was not started that way or the control port refuses a call.
class SandboxControl {
  public:
    SandboxControl();  // reads the TSL_SANDBOX_* variables and resets the sandbox

    const std::string& apiUrl() const { return api_; }  // http://127.0.0.1:P/tessaline/api
    int tallyPort() const { return tallyPort_; }

    // A control call with a JSON text body ("" for none); the parsed JSON answer.
    Json call(const std::string& method, const std::string& path,
              const std::string& jsonBody = "") const;
    // A GET whose answer is taken as bytes.
    std::string bytes(const std::string& path) const;
    // The test authority's certificate, PEM.
    std::string authorityPem() const { return bytes("/ca.pem"); }

  private:
    std::string control_;
    std::string api_;
    int tallyPort_ = 0;
};

// A request as a peer received it (ScriptedPeer::request) less the fields any transport adds
// on its own (Host, User-Agent, Content-Length, Connection), with no blanks after a field's
// colon: the request line, the caller's fields in order and the body, "\r\n" between.
std::string callersPart(const std::string& request);

// A scripted peer of the sandbox, removed again when the owner goes away.
// tls: "none", "modern" (TLS 1.2+, test authority), "tls11" (TLS 1.1 only), "untrusted"
// (a certificate from an authority nobody trusts).
class ScriptedPeer {
  public:
    explicit ScriptedPeer(const SandboxControl& sandbox, const std::string& tls = "none");
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }
    // "http(s)://" + host + ":" + port + path. The peer listens on 127.0.0.1; "localhost" is
    // the name its certificate carries (Wine's WinHTTP checks names, not IP addresses).
    std::string url(const std::string& path = "/", const std::string& host = "127.0.0.1") const {
        return scheme_ + "://" + host + ":" + std::to_string(port_) + path;
    }
    // Queues replies: one JSON object or an array of them (the sandbox README's reply form).
    void script(const std::string& replyJson) const;
    std::size_t requestCount() const;
    // Connections accepted, whether or not a request arrived on them.
    std::size_t connectionCount() const;
    // The exact bytes of the index-th request received.
    std::string request(std::size_t index) const;

  private:
    const SandboxControl& sandbox_;
    std::string id_;
    int port_ = 0;
    std::string scheme_;
};

// Text as a JSON string literal, quotes included.
std::string jsonText(const std::string& text);
// Bytes as base64, for the "bodyBase64" and "rawBase64" reply members.
std::string base64(const std::string& bytes);

}  // namespace tsl::testing
