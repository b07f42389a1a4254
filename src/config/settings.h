#pragma once

#include <string>

namespace tsl {

// The default server address, already in normalised form.
inline constexpr char kDefaultServerUrl[] = "https://app.tessaline.com/tessaline/api";

// The six settings of the connector; a plain value copied freely. All text is UTF-8.
struct Settings {
    std::string serverUrl = kDefaultServerUrl;
    std::string tallyHost = "localhost";
    int tallyPort = 9000;
    std::string token;  // empty: not paired
    std::string organisation;
    std::string company;
};

// Trims " \t\r\n", removes trailing "/", then one trailing "/v1", then trailing "/" again.
std::string normaliseServerUrl(const std::string& address);

}  // namespace tsl
