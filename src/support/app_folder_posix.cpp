#include <cstdlib>

#include "support/app_folder.h"

namespace tsl {

namespace {

// $XDG_<name> when it is an absolute path, else $HOME/<fallback>, else empty.
std::filesystem::path xdgFolder(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::filesystem::path(home) / fallback;
    }
    return std::filesystem::path();
}

std::filesystem::path created(std::filesystem::path folder) {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    return folder;
}

}  // namespace

std::filesystem::path roamingAppDataFolder() {
    return created(xdgFolder("XDG_CONFIG_HOME", ".config"));
}

std::filesystem::path localAppDataFolder() {
    return created(xdgFolder("XDG_STATE_HOME", ".local/state"));
}

}  // namespace tsl
