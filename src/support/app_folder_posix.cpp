#include <sys/stat.h>

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
    if (!folder.empty()) createPrivateFolders(folder);
    return folder;
}

}  // namespace

bool createPrivateFolder(const std::filesystem::path& folder) {
    // Created as 0700 at once, so there is no moment in which another user could reach into
    // it; then set exactly, since a tight umask would leave the owner without write access.
    if (::mkdir(folder.c_str(), 0700) != 0) return false;
    ::chmod(folder.c_str(), 0700);
    return true;
}

std::filesystem::path roamingAppDataFolder() {
    return created(xdgFolder("XDG_CONFIG_HOME", ".config"));
}

std::filesystem::path localAppDataFolder() {
    return created(xdgFolder("XDG_STATE_HOME", ".local/state"));
}

}  // namespace tsl
