#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "net/proxy_choice.h"
#include "net/url_parts.h"

namespace tsl {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// no_proxy as libcurl reads it: "*", or names separated by commas or blanks, each matching the
// host itself or any name that ends in "." + it (a leading dot is the same).
bool bypassed(const std::string& host) {
    std::string list = variable("no_proxy");
    if (list.empty()) list = variable("NO_PROXY");
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find_first_of(", ", at), list.size());
        std::string_view name = std::string_view(list).substr(at, end - at);
        at = end + 1;
        if (!name.empty() && name.front() == '.') name.remove_prefix(1);
        if (name == "*") return true;
        if (name.empty() || name.size() > host.size()) continue;
        const std::string_view tail = std::string_view(host).substr(host.size() - name.size());
        if (tail == name &&
            (host.size() == name.size() || host[host.size() - name.size() - 1] == '.'))
            return true;
    }
    return false;
}

}  // namespace

std::string proxyChoice(const std::string& url) {
    const auto parts = splitUrl(url);
    if (!parts || isLoopbackHost(parts->host)) return "direct";
    if (bypassed(parts->host)) return "direct (no_proxy)";
    // http_proxy in lower case only, as libcurl reads it.
    const char* https[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    const char* http[] = {"http_proxy", "all_proxy", "ALL_PROXY", "ALL_PROXY"};
    for (const char* name : parts->secure ? https : http) {
        const std::string value = variable(name);
        if (!value.empty()) return withoutCredentials(value) + " (from " + name + ")";
    }
    return "direct";
}

}  // namespace tsl
