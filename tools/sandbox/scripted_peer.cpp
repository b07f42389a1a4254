#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace sandbox {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollMs = 100;
constexpr std::size_t kBlock = 64 * 1024;
constexpr std::size_t kMaxHead = 1 << 20;
constexpr auto kRequestPatience = std::chrono::seconds(30);

// One accepted connection, plain or TLS, whose every wait gives up when the peer stops.
class Stream {
  public:
    Stream(int fd, SSL_CTX* tls, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {
        if (tls) {
            ssl_ = SSL_new(tls);
            SSL_set_fd(ssl_, fd_);
        }
    }
    ~Stream() {
        if (ssl_) SSL_free(ssl_);
        ::close(fd_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool handshake() {
        if (!ssl_) return true;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            const int result = SSL_accept(ssl_);
            if (result == 1) return true;
            const int error = SSL_get_error(ssl_, result);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return false;
            if (!waitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) return false;
        }
    }

    // Some bytes; 0 at the end of the stream, on failure or when the deadline passed.
    std::size_t read(char* buffer, std::size_t size, Clock::time_point deadline) {
        for (;;) {
            if (!ssl_ || SSL_pending(ssl_) == 0) {
                if (!waitFor(POLLIN, deadline)) return 0;
            }
            if (!ssl_) {
                const ssize_t got = ::recv(fd_, buffer, size, 0);
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                return got > 0 ? static_cast<std::size_t>(got) : 0;
            }
            const int got = SSL_read(ssl_, buffer, static_cast<int>(size));
            if (got > 0) return static_cast<std::size_t>(got);
            const int error = SSL_get_error(ssl_, got);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return 0;
        }
    }

    bool write(const char* data, std::size_t size) {
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (size > 0) {
            if (!waitFor(POLLOUT, deadline)) return false;
            std::size_t sent = 0;
            if (ssl_) {
                const int n = SSL_write(ssl_, data, static_cast<int>(std::min(size, kBlock)));
                if (n <= 0) {
                    const int error = SSL_get_error(ssl_, n);
                    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) continue;
                    return false;
                }
                sent = static_cast<std::size_t>(n);
            } else {
                const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (n <= 0) return false;
                sent = static_cast<std::size_t>(n);
            }
            data += sent;
            size -= sent;
        }
        return true;
    }
    bool write(const std::string& bytes) { return write(bytes.data(), bytes.size()); }

    // Keeps the connection open without a word until the other side closes it, the peer stops
    // or the time is up. Whatever arrives meanwhile is read and dropped.
    void hold(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        char sink[4096];
        while (Clock::now() < deadline && !stopping_) {
            if (read(sink, sizeof sink,
                     std::min(deadline, Clock::now() + std::chrono::milliseconds(kPollMs))) == 0 &&
                peerClosed()) {
                return;
            }
        }
    }

    void finish() {
        if (ssl_) SSL_shutdown(ssl_);
        ::shutdown(fd_, SHUT_WR);
    }

  private:
    bool peerClosed() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        if (p.revents & (POLLHUP | POLLERR)) return true;
        char byte;
        return ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }

    bool waitFor(short events, Clock::time_point deadline) {
        while (!stopping_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, events, 0};
            const int ready =
                ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kPollMs)));
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
        return false;
    }

    int fd_;
    SSL* ssl_ = nullptr;
    const std::atomic<bool>& stopping_;
};

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The value of a header in a request head, or "".
std::string headerValue(const std::string& head, std::string_view name) {
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line(head.data() + start,
                                    (end == std::string::npos ? head.size() : end) - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && equalsNoCase(line.substr(0, colon), name)) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            return std::string(value);
        }
        pos = end;
    }
    return {};
}

// Reads one request (head and a Content-Length or chunked body). Whatever arrived is
// returned, complete or not.
std::string readRequest(Stream& stream) {
    std::string data;
    char buffer[kBlock];
    auto deadline = Clock::now() + kRequestPatience;
    std::size_t headEnd = std::string::npos;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos && data.size() < kMaxHead) {
        const std::size_t got = stream.read(buffer, sizeof buffer, deadline);
        if (got == 0) return data;
        data.append(buffer, got);
    }
    if (headEnd == std::string::npos) return data;
    const std::string head = data.substr(0, headEnd + 4);
    const std::string length = headerValue(head, "Content-Length");
    const bool chunked =
        headerValue(head, "Transfer-Encoding").find("chunked") != std::string::npos;
    const std::size_t wanted = length.empty() ? 0 : std::stoull(length);
    for (;;) {
        const std::size_t body = data.size() - head.size();
        if (!chunked && body >= wanted) return data;
        if (chunked && data.size() >= 5 && data.compare(data.size() - 5, 5, "0\r\n\r\n") == 0) {
            return data;
        }
        deadline = Clock::now() + kRequestPatience;
        const std::size_t got = stream.read(buffer, sizeof buffer, deadline);
        if (got == 0) return data;
        data.append(buffer, got);
    }
}

bool hasHeader(const Reply& reply, std::string_view name) {
    return std::any_of(reply.headers.begin(), reply.headers.end(),
                       [name](const auto& h) { return equalsNoCase(h.first, name); });
}

std::string replyHead(const Reply& reply) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.autoLength && !hasHeader(reply, "Content-Length") &&
        !hasHeader(reply, "Transfer-Encoding")) {
        head += reply.chunked ? std::string("Transfer-Encoding: chunked\r\n")
                              : "Content-Length: " + std::to_string(reply.bodySize()) + "\r\n";
    }
    if (!hasHeader(reply, "Connection")) head += "Connection: close\r\n";
    return head + "\r\n";
}

void sleepUnlessStopping(int ms, const std::atomic<bool>& stopping) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && Clock::now() < until) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(20), until - Clock::now()));
    }
}

// Writes body bytes [0, limit) in blocks (single bytes dripMs apart when dripping), generated
// from the fill pattern when asked.
bool writeBody(Stream& stream, const Reply& reply, std::uint64_t limit,
               const std::atomic<bool>& stopping) {
    std::string pattern;
    if (reply.fillSize > 0) {
        const std::string& fill = reply.fill.empty() ? std::string("x") : reply.fill;
        while (pattern.size() < kBlock + fill.size())
            pattern += fill;
    }
    const std::size_t period = reply.fill.empty() ? 1 : reply.fill.size();
    const std::size_t block = reply.dripMs > 0 ? 1 : kBlock;
    for (std::uint64_t offset = 0; offset < limit;) {
        if (reply.dripMs > 0 && offset > 0) {
            sleepUnlessStopping(reply.dripMs, stopping);
            if (stopping) return false;
        }
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(block, limit - offset));
        const char* data =
            reply.fillSize > 0 ? pattern.data() + offset % period : reply.body.data() + offset;
        if (reply.chunked) {
            char frame[32];
            std::snprintf(frame, sizeof frame, "%zx\r\n", size);
            if (!stream.write(frame, std::strlen(frame))) return false;
        }
        if (!stream.write(data, size)) return false;
        if (reply.chunked && !stream.write("\r\n", 2)) return false;
        offset += size;
    }
    return true;
}

void answer(Stream& stream, const Reply& reply, const std::atomic<bool>& stopping) {
    if (reply.closeAtOnce) return;
    if (reply.noAnswer) {
        stream.hold(reply.holdMs);
        return;
    }
    sleepUnlessStopping(reply.delayMs, stopping);
    if (reply.raw) {
        stream.write(*reply.raw);
        return;
    }
    if (!stream.write(replyHead(reply))) return;
    const std::uint64_t size = reply.bodySize();
    std::uint64_t limit = size;
    if (reply.cutAfter >= 0) limit = std::min<std::uint64_t>(size, reply.cutAfter);
    if (reply.stallAfter >= 0) limit = std::min<std::uint64_t>(size, reply.stallAfter);
    if (!writeBody(stream, reply, limit, stopping)) return;
    if (reply.stallAfter >= 0) {
        stream.hold(reply.holdMs);
        return;
    }
    if (reply.chunked && limit == size && reply.cutAfter < 0) stream.write("0\r\n\r\n", 5);
}

}  // namespace

ScriptedPeer::ScriptedPeer(ContextPtr tls) : tls_(std::move(tls)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string text = std::strerror(errno);
        ::close(listenFd_);
        throw std::runtime_error("listen: " + text);
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

ScriptedPeer::~ScriptedPeer() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);  // wakes the acceptor's poll at once
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listenFd_);
    std::lock_guard lock(workersMutex_);
    for (Worker& worker : workers_)
        worker.thread.join();
}

void ScriptedPeer::enqueue(std::vector<Reply> replies) {
    std::lock_guard lock(mutex_);
    for (Reply& reply : replies)
        script_.push_back(std::move(reply));
}

void ScriptedPeer::clearScript() {
    std::lock_guard lock(mutex_);
    script_.clear();
}

std::size_t ScriptedPeer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::optional<std::string> ScriptedPeer::request(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= requests_.size()) return std::nullopt;
    return requests_[index];
}

Reply ScriptedPeer::nextReply() {
    std::lock_guard lock(mutex_);
    if (script_.empty()) {
        Reply missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.body = "no scripted reply";
        return missing;
    }
    Reply reply = script_.front();
    if (!reply.repeat) script_.pop_front();
    return reply;
}

void ScriptedPeer::record(std::string bytes) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(bytes));
}

void ScriptedPeer::pruneWorkers() {
    std::lock_guard lock(workersMutex_);
    auto finished = std::partition(workers_.begin(), workers_.end(),
                                   [](const Worker& w) { return !w.done->load(); });
    for (auto it = finished; it != workers_.end(); ++it)
        it->thread.join();
    workers_.erase(finished, workers_.end());
}

void ScriptedPeer::acceptLoop() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        pruneWorkers();
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(workersMutex_);
        workers_.push_back(Worker{std::thread([this, fd, done] {
                                      serve(fd);
                                      *done = true;
                                  }),
                                  done});
    }
}

void ScriptedPeer::serve(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Stream stream(fd, tls_.get(), stopping_);
    if (!stream.handshake()) return;
    std::string request = readRequest(stream);
    if (request.empty()) return;
    record(std::move(request));
    answer(stream, nextReply(), stopping_);
    stream.finish();
}

}  // namespace sandbox
