#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "authority.h"

namespace sandbox {

// What the peer does with the next request it has read. See README.md for the JSON form.
struct Reply {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;  // in this order
    std::string body;
    std::uint64_t fillSize = 0;      // when > 0: a generated body of this size instead of body
    std::string fill = "x";          // repeated to make the generated body
    bool chunked = false;            // chunked transfer coding instead of Content-Length
    bool autoLength = true;          // add Content-Length (or the chunked header) if not given
    std::optional<std::string> raw;  // exactly these bytes instead of an HTTP answer, then close
    int delayMs = 0;                 // wait before answering
    long long cutAfter = -1;         // send only this many body bytes, then close
    long long stallAfter = -1;       // send this many body bytes, then keep the connection silent
    int dripMs = 0;                  // when > 0: the body goes one byte every dripMs ms
    bool noAnswer = false;           // never answer; keep the connection open
    bool closeAtOnce = false;        // close the connection without a byte
    bool repeat = false;             // stays at the head of the script for every later request
    int holdMs = 120000;             // how long a silent connection is held at most

    std::uint64_t bodySize() const { return fillSize > 0 ? fillSize : body.size(); }
};

// A raw-socket HTTP peer on 127.0.0.1 for transport tests: it records every request's exact
// bytes and answers each with the next scripted Reply (404 "no scripted reply" when the script
// is empty). One request per connection. Optionally TLS with the given context.
class ScriptedPeer {
  public:
    explicit ScriptedPeer(ContextPtr tls);  // throws std::runtime_error when it cannot listen
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }
    bool secure() const { return tls_ != nullptr; }
    void enqueue(std::vector<Reply> replies);
    void clearScript();
    std::size_t requestCount() const;
    std::optional<std::string> request(std::size_t index) const;
    std::size_t connectionCount() const { return connections_.load(); }

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void acceptLoop();
    void serve(int fd);
    Reply nextReply();
    void record(std::string bytes);
    void pruneWorkers();

    ContextPtr tls_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> connections_{0};
    mutable std::mutex mutex_;
    std::deque<Reply> script_;
    std::vector<std::string> requests_;
    std::mutex workersMutex_;
    std::vector<Worker> workers_;
    std::thread acceptor_;
};

}  // namespace sandbox
