#pragma once

// Windows only: what the tray hands to the shell to open.

#include <filesystem>
#include <string>

namespace tsl {

// Opens Tessaline's page of Tally settings for this server address in the browser; a server
// address that gives no web address is shown in a warning instead of being opened.
void openTallySettingsPage(const std::string& serverUrl);
// Opens the folder of the log in Explorer.
void openLogFolder();
// Opens the folder of this file of ours in Explorer with the file selected.
void showFileInFolder(const std::filesystem::path& file);

}  // namespace tsl
