#include "support/app_folder.h"

#include <system_error>

namespace tsl {

std::filesystem::path ensureAppFolder(const std::filesystem::path& base) {
    // Joined by hand: an empty base must give a path at the root, not a relative one.
    const auto sep = std::filesystem::path::preferred_separator;
    std::filesystem::path::string_type text = base.native();
    text += sep;
    text += std::filesystem::path("Tessaline").native();
    std::error_code ec;
    std::filesystem::create_directory(text, ec);
    text += sep;
    text += std::filesystem::path("Tally Connector").native();
    std::filesystem::create_directory(text, ec);
    return std::filesystem::path(text);
}

}  // namespace tsl
