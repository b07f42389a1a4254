#include "config/pairing_address.h"

#include <string_view>

namespace tsl {

namespace {

bool isLoopbackHttp(std::string_view address, std::string_view prefix) {
    if (address.substr(0, prefix.size()) != prefix) return false;
    // The host must end here; otherwise "http://localhost.example.com" would pass.
    if (address.size() == prefix.size()) return true;
    const char next = address[prefix.size()];
    return next == ':' || next == '/';
}

}  // namespace

bool isPairingAddressAllowed(const std::string& address) {
    const std::string_view a(address);
    return a.substr(0, 8) == "https://" || isLoopbackHttp(a, "http://localhost") ||
           isLoopbackHttp(a, "http://127.0.0.1");
}

}  // namespace tsl
