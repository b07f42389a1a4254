#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {

// An absolute http/https URL taken apart the way the transport needs it.
struct UrlParts {
    bool secure = false;     // https
    std::string host;        // as written (an IPv6 literal keeps its brackets)
    std::uint16_t port = 0;  // the URL's, or 80/443
    std::string path;        // from the first "/" (or "?") on, without any "#fragment"; "/" if none
};

inline constexpr std::size_t kMaxUrlHost = 255;
inline constexpr std::size_t kMaxUrlPath = 2047;

// Splits "http[s]://host[:port][/path][?query][#fragment]" (scheme in any case). No value for:
// another or no scheme; a byte outside printable ASCII anywhere (blank, control character,
// non-ASCII: nothing unescaped may reach the request line); user information ("@"); an empty
// host, a host longer than kMaxUrlHost or with characters a host name cannot have; a port that
// is not 1..65535; a path longer than kMaxUrlPath.
std::optional<UrlParts> splitUrl(std::string_view url);

// True for a host that names this machine: "localhost" (any case), an IPv4 address in
// 127.0.0.0/8 (four decimal parts) or the IPv6 loopback "[::1]".
bool isLoopbackHost(std::string_view host);

// True when the text is an HTTP token (a method or a header name): letters, digits and
// !#$%&'*+-.^_`|~, at least one.
bool isHttpToken(std::string_view text);

// True when a header value can be sent as is: no CR, LF or NUL.
bool isSafeHeaderValue(std::string_view text);

}  // namespace tsl
