#include "config/settings.h"

#include "support/text.h"

namespace tsl {

namespace {

void dropTrailingSlashes(std::string& text) {
    while (!text.empty() && text.back() == '/')
        text.pop_back();
}

}  // namespace

std::string normaliseServerUrl(const std::string& address) {
    std::string text = trim(address);
    dropTrailingSlashes(text);
    constexpr std::string_view kVersionSuffix = "/v1";
    if (text.size() >= kVersionSuffix.size() &&
        text.compare(text.size() - kVersionSuffix.size(), kVersionSuffix.size(), kVersionSuffix) ==
            0) {
        text.resize(text.size() - kVersionSuffix.size());
    }
    dropTrailingSlashes(text);
    return text;
}

}  // namespace tsl
