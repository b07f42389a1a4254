#include <sys/stat.h>

#include "support/app_folder.h"
#include "support/xdg_folder.h"

namespace tsl {

namespace {

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
