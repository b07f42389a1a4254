#pragma once

#include <filesystem>

namespace tsl {

// The per-user base folders. Windows: the roaming and the local application-data folders.
// Linux: $XDG_CONFIG_HOME (default ~/.config) for settings and $XDG_STATE_HOME (default
// ~/.local/state) for logs. An empty path when the folder cannot be determined.
std::filesystem::path roamingAppDataFolder();
std::filesystem::path localAppDataFolder();

// base + "/Tessaline" + "/Tally Connector" (with the platform's separator), creating both levels
// as by createPrivateFolder. Creation failures are ignored. An empty base gives a path at the
// root ("/Tessaline/...").
std::filesystem::path ensureAppFolder(const std::filesystem::path& base);

// Creates one folder level (its parent must exist) for this user alone: on Linux mode 0700
// whatever the umask; on Windows it inherits the ACL of the user's profile folder above it. A
// folder that exists already is left exactly as it is. True when this call created it.
bool createPrivateFolder(const std::filesystem::path& folder);
// The same for every missing level of the path, from the top down.
void createPrivateFolders(const std::filesystem::path& folder);

}  // namespace tsl
