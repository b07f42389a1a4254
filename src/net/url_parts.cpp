#include "net/url_parts.h"

#include <algorithm>
#include <cctype>

namespace tsl {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::tolower(c) != prefix[i]) return false;
    }
    return true;
}

bool isPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

bool isHostChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isValidHost(std::string_view host) {
    if (host.empty() || host.size() > kMaxUrlHost) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        const std::string_view inner = host.substr(1, host.size() - 2);
        return std::all_of(inner.begin(), inner.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
    }
    return std::all_of(host.begin(), host.end(), isHostChar);
}

// "" keeps the scheme's default; otherwise 1..65535 in at most five digits.
std::optional<std::uint16_t> parsePort(std::string_view text, std::uint16_t fallback) {
    if (text.empty()) return fallback;
    if (text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool isDecimalOctet(std::string_view text) {
    if (text.empty() || text.size() > 3) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 255;
}

}  // namespace

std::optional<UrlParts> splitUrl(std::string_view url) {
    if (!isPrintableAscii(url)) return std::nullopt;
    UrlParts parts;
    std::string_view rest;
    if (startsWithNoCase(url, "https://")) {
        parts.secure = true;
        rest = url.substr(8);
    } else if (startsWithNoCase(url, "http://")) {
        rest = url.substr(7);
    } else {
        return std::nullopt;
    }
    rest = rest.substr(0, rest.find('#'));
    const std::size_t authorityEnd = std::min(rest.find('/'), rest.find('?'));
    const std::string_view authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    // The port separator is the last ":" outside an IPv6 literal's brackets.
    const std::size_t bracket = authority.rfind(']');
    std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && bracket != std::string_view::npos && colon < bracket) {
        colon = std::string_view::npos;
    }
    const std::string_view host = authority.substr(0, colon);
    const std::string_view portText =
        colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    if (!isValidHost(host)) return std::nullopt;
    const auto port = parsePort(portText, parts.secure ? 443 : 80);
    if (!port) return std::nullopt;

    const std::string_view path =
        authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    if (path.size() > kMaxUrlPath) return std::nullopt;
    parts.host = std::string(host);
    parts.port = *port;
    if (path.empty() || path.front() == '?') parts.path.push_back('/');
    parts.path.append(path);
    return parts;
}

bool isLoopbackHost(std::string_view host) {
    if (host.size() == 9 && startsWithNoCase(host, "localhost")) return true;
    if (host == "[::1]" || host == "[0:0:0:0:0:0:0:1]") return true;
    // Dotted decimal: exactly four parts of one to three digits, each at most 255.
    int parts = 0;
    for (std::size_t start = 0; start <= host.size(); ++parts) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, dot - start);
        if (!isDecimalOctet(part) || (parts == 0 && part != "127")) return false;
        start = dot + 1;
    }
    return parts == 4;
}

bool isHttpToken(std::string_view text) {
    static constexpr std::string_view kExtra = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               kExtra.find(c) != std::string_view::npos;
    });
}

bool isSafeHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace tsl
