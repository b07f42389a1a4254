#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/connection_facts.h"

namespace tsl {

// What a failed exchange says when a proxy (HTTP 407) asks for a sign-in the client does not
// answer: the whole error text, with no platform text after it.
inline constexpr char kProxySignInRefused[] =
    "The proxy server asks for a sign-in the connector cannot give; ask your IT to let it through";

// The outcome of one exchange. ok: a response arrived and its whole body was read, whatever
// the HTTP status but 407. On failure status is 0, body is empty and error is the failed step's
// sentence + ": " + the platform's error text, or kProxySignInRefused alone.
struct HttpResponse {
    bool ok = false;
    std::uint32_t status = 0;  // 0 also when the status line could not be read
    std::string body;          // exactly as received, no decoding
    std::string error;         // UTF-8; empty when ok
    std::string date;          // the answer's Date header as sent, at most 64 bytes; "" if none
};

using HttpHeaders = std::vector<std::pair<std::wstring, std::wstring>>;

// What bounds one exchange besides the idle time-out. Every failure below is an ordinary
// failed exchange (ok false, a sentence naming the host and the limit).
struct HttpLimits {
    // The answer's body may not grow past this many bytes (0: no limit). Past it the exchange
    // fails; nothing is silently cut, and memory stays near the limit.
    std::uint64_t maxBodyBytes = 0;
    // The whole exchange, redirects included, ends after this many milliseconds (0: none).
    std::uint32_t deadlineMs = 0;
    // When another thread sets it, an exchange in flight is aborted within about a second and
    // one not yet begun fails at once. Not owned; must outlive the client.
    const std::atomic<bool>* stop = nullptr;
    // How long an exchange already under way may go on after the stop to finish by itself: for
    // an answer that hands out work, or a report the peer may already be storing, cutting it
    // off would leave the peer believing what we never took. 0: ended at once.
    std::uint32_t stopGraceMs = 0;
};

// A request body read piece by piece: size bytes in all. read(offset, buffer, max) copies up
// to max bytes from offset on into buffer and returns how many: at least one while offset is
// below size (or it throws: the exchange then ends and the exception passes on). A redirect
// that keeps the body reads it again from offset 0.
struct BodySource {
    std::uint64_t size = 0;
    std::function<std::size_t(std::uint64_t offset, char* buffer, std::size_t max)> read;
};

// The bytes of a string as a BodySource; the string is lent and must outlive the source.
BodySource sourceOf(const std::string& body);

// Takes the answer's body piece by piece as it arrives: the final answer's only, never that of
// a redirect that is followed. Its exception ends the exchange and passes on.
using BodySink = std::function<void(std::string_view bytes)>;

// Synchronous HTTP/HTTPS over the platform's client (WinHTTP on Windows, libcurl elsewhere).
// User agent kUserAgent of support/version.h; 15 s to resolve and to connect; timeoutMs for
// sending and for each wait for data; TLS 1.2 or later; the system's proxy unless direct, and
// never a proxy for a loopback host (localhost, 127.0.0.0/8, ::1).
// A proxy's demand for a sign-in (407, also to the CONNECT of an https exchange): Windows
// answers a Negotiate or NTLM one once with the signed-in user's own credentials, on a client
// that is not direct and for a host that is not loopback; libcurl answers with the user name
// and password of the proxy's address when it has them. Any other demand, or one more after
// the answer, fails the exchange with kProxySignInRefused.
// Redirects: what is sent (headers such as a token, the body) never leaves the origin (scheme,
// host, port) of the URL it was given for. A redirect within that origin is followed (at most
// kMaxRedirects); one to another origin is not, and the exchange fails naming the status and
// that origin.
// Never throws for a network failure (only memory exhaustion escapes). Move-only; one thread
// at a time.
class HttpClient {
  public:
    HttpClient(bool direct, std::uint32_t timeoutMs, HttpLimits limits = {});
    ~HttpClient();
    HttpClient(HttpClient&& other) noexcept;
    HttpClient& operator=(HttpClient&& other) noexcept;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // One exchange. Headers go out in the given order as "name: value"; nothing else is added
    // beyond what HTTP itself needs (Host, Content-Length, the user agent). An empty body sends
    // no body. URLs are http:// or https://, printable ASCII, host up to 255 and path up to
    // 2047 characters; anything else fails with "Invalid URL '<url>'".
    // connection, when given, receives what the platform saw while it connected for the first
    // request (the one to url), whether or not the exchange succeeded.
    HttpResponse request(const std::wstring& method, const std::string& url,
                         const HttpHeaders& headers, const std::string& body,
                         ConnectionFacts* connection = nullptr) const;

    // The same exchange with the body streamed both ways, for bodies too large to hold: sent
    // from source, the answer's body handed to sink (response.body stays empty). The same
    // limits, redirects and failure sentences as request(); on a failure the sink may have had
    // part of the body, which the caller drops.
    HttpResponse stream(const std::wstring& method, const std::string& url,
                        const HttpHeaders& headers, const BodySource& source,
                        const BodySink& sink) const;

    // Process-wide set-up of the platform client; the entry point calls it once before any
    // thread starts. Clients also call it themselves (once), so forgetting it is harmless.
    static void initialise();

    static constexpr int kMaxRedirects = 5;

  private:
    HttpResponse exchange(const std::wstring& method, const std::string& url,
                          const HttpHeaders& headers, const BodySource& source,
                          const BodySink* sink,  // null: the body is kept
                          ConnectionFacts* connection) const;

    struct Session;  // the platform's session; null when it could not be opened
    std::unique_ptr<Session> session_;
};

}  // namespace tsl
