#include "net/redirect.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace tsl {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// RFC 3986: a letter, then letters, digits, "+", "-" or ".", up to a ":" that comes before
// any "/", "?" or "#".
bool hasScheme(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    if (!std::isalpha(static_cast<unsigned char>(reference.front()))) return false;
    return std::all_of(
        reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
}

std::string_view withoutQuery(std::string_view path) {
    return path.substr(0, path.find('?'));
}

// The path up to and including its last "/": where a relative reference lands.
std::string_view directoryOf(std::string_view path) {
    const std::string_view bare = withoutQuery(path);
    return bare.substr(0, bare.rfind('/') + 1);
}

HttpResponse refused(const std::string& sentence, const std::string& platformText) {
    HttpResponse response;
    response.error = sentence + ": " + platformText;
    return response;
}

}  // namespace

bool isRedirectStatus(std::uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::optional<UrlParts> resolveLocation(const UrlParts& from, std::string_view location) {
    if (location.empty() || location.size() > kMaxLocation) return std::nullopt;
    const std::string scheme = from.secure ? "https:" : "http:";
    if (hasScheme(location)) return splitUrl(location);
    if (location.substr(0, 2) == "//") return splitUrl(scheme + std::string(location));

    std::string url = scheme + "//" + from.host + ":" + std::to_string(from.port);
    switch (location.front()) {
        case '/':
            break;
        case '?':
            url += withoutQuery(from.path);
            break;
        case '#':
            url += from.path;
            break;
        default:
            url += directoryOf(from.path);
    }
    url += location;
    return splitUrl(url);
}

bool sameOrigin(const UrlParts& a, const UrlParts& b) {
    return a.secure == b.secure && a.port == b.port && equalsNoCase(a.host, b.host);
}

std::string originText(const UrlParts& parts) {
    return std::string(parts.secure ? "https://" : "http://") + parts.host + ":" +
           std::to_string(parts.port);
}

std::string urlText(const UrlParts& parts) {
    return originText(parts) + parts.path;
}

RedirectedRequest redirectedRequest(std::uint32_t status, const std::wstring& method) {
    const bool becomesGet = (status == 303 && method != L"HEAD") ||
                            ((status == 301 || status == 302) && method == L"POST");
    if (becomesGet) return {L"GET", false};
    return {method, true};
}

HttpResponse followRedirects(const std::wstring& method, const UrlParts& start, const SendHop& send,
                             std::string (*platformText)(RedirectRefusal)) {
    std::wstring currentMethod = method;
    UrlParts current = start;
    bool withBody = true;
    for (int redirects = 0;; ++redirects) {
        HopAnswer answer = send(currentMethod, current, withBody);
        const HttpResponse& response = answer.response;
        if (!response.ok || !isRedirectStatus(response.status) || !answer.location) {
            return std::move(answer.response);
        }
        const std::string prefix = "Refused the redirect (HTTP " + std::to_string(response.status) +
                                   ") from " + start.host;
        const std::optional<UrlParts> next = resolveLocation(current, *answer.location);
        // Only parsed, validated parts are named: the raw Location is the peer's text.
        if (!next) {
            return refused(prefix + " to an address that cannot be used",
                           platformText(RedirectRefusal::OtherServer));
        }
        if (!sameOrigin(start, *next)) {
            return refused(prefix + " to another server, " + originText(*next),
                           platformText(RedirectRefusal::OtherServer));
        }
        if (redirects == HttpClient::kMaxRedirects) {
            return refused("Too many redirects from " + start.host,
                           platformText(RedirectRefusal::TooMany));
        }
        RedirectedRequest redirected = redirectedRequest(response.status, currentMethod);
        currentMethod = std::move(redirected.method);
        withBody = withBody && redirected.keepsBody;
        current = *next;
    }
}

}  // namespace tsl
