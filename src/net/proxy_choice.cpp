#include "net/proxy_choice.h"

namespace tsl {

std::string withoutCredentials(const std::string& proxy) {
    const std::size_t scheme = proxy.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = proxy.find('@', start);
    const std::size_t path = proxy.find('/', start);
    if (at == std::string::npos || (path != std::string::npos && at > path)) return proxy;
    return proxy.substr(0, start) + proxy.substr(at + 1);
}

}  // namespace tsl
