#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/http_client.h"
#include "net/url_parts.h"

namespace tsl {

// Which redirects an exchange follows, and where to. Both transports let the platform follow
// none and run followRedirects instead, so the rule is the same on both.

// A Location longer than this is never usable (no URL splitUrl takes is that long); a
// transport may keep one character more of a longer one and still be refused.
inline constexpr std::size_t kMaxLocation = 4096;

// 301, 302, 303, 307 and 308: the statuses that send the client to their Location.
bool isRedirectStatus(std::uint32_t status);

// The answer's Location resolved against the URL it answered: an absolute http(s) URL,
// "//host/path" (same scheme), "/path", "?query" or a relative path (beside from's last
// segment); a "#fragment" is dropped. No value when the result is no URL splitUrl takes
// (another scheme, bytes outside printable ASCII, an empty or too long text).
std::optional<UrlParts> resolveLocation(const UrlParts& from, std::string_view location);

// Same scheme, same host (in any case) and same port.
bool sameOrigin(const UrlParts& a, const UrlParts& b);

// "http[s]://host:port", and with the path after it.
std::string originText(const UrlParts& parts);
std::string urlText(const UrlParts& parts);

// The request a redirect asks for: 303 turns anything but HEAD into a GET, 301 and 302 turn
// a POST into a GET (as browsers and curl do); the body goes along only when the method stays.
struct RedirectedRequest {
    std::wstring method;
    bool keepsBody = true;
};
RedirectedRequest redirectedRequest(std::uint32_t status, const std::wstring& method);

// One request of an exchange as the transport sent it, and what came back.
struct HopAnswer {
    HttpResponse response;
    std::optional<std::string> location;  // the answer's Location header, when it had one
};
// withBody: the request's body goes along (from its start), else none.
using SendHop =
    std::function<HopAnswer(const std::wstring& method, const UrlParts& target, bool withBody)>;

enum class RedirectRefusal { OtherServer, TooMany };

// Sends the request and follows the answers' redirects within start's origin, at most
// HttpClient::kMaxRedirects of them. A redirect status without a Location is an answer like
// any other. Fails (sentence + ": " + platformText(why)) on a redirect to another origin or to
// an unusable address, without contacting it, and on one redirect too many.
HttpResponse followRedirects(const std::wstring& method, const UrlParts& start, const SendHop& send,
                             std::string (*platformText)(RedirectRefusal));

}  // namespace tsl
