#include "support/app_folder.h"

#include <system_error>

namespace tsl {

std::filesystem::path ensureAppFolder(const std::filesystem::path& base) {
    // Joined by hand: an empty base must give a path at the root, not a relative one.
    const auto sep = std::filesystem::path::preferred_separator;
    std::filesystem::path::string_type text = base.native();
    text += sep;
    text += std::filesystem::path("Tessaline").native();
    createPrivateFolder(text);
    text += sep;
    text += std::filesystem::path("Tally Connector").native();
    createPrivateFolder(text);
    return std::filesystem::path(text);
}

void createPrivateFolders(const std::filesystem::path& folder) {
    std::filesystem::path level;
    for (const std::filesystem::path& part : folder) {
        level /= part;
        std::error_code ec;
        if (!std::filesystem::is_directory(level, ec)) createPrivateFolder(level);
    }
}

}  // namespace tsl
