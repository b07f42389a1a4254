#pragma once

#include <filesystem>

namespace tsl {

// The per-user base folders. Windows: the roaming and the local application-data folders.
// Linux: $XDG_CONFIG_HOME (default ~/.config) for settings and $XDG_STATE_HOME (default
// ~/.local/state) for logs. An empty path when the folder cannot be determined.
std::filesystem::path roamingAppDataFolder();
std::filesystem::path localAppDataFolder();

// base + "/Tessaline" + "/Tally Connector" (with the platform's separator), creating both levels.
// Creation failures are ignored. An empty base gives a path at the root ("/Tessaline/...").
std::filesystem::path ensureAppFolder(const std::filesystem::path& base);

}  // namespace tsl
