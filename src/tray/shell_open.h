#pragma once

// Windows only: what the tray hands to the shell to open.

#include <string>

namespace tsl {

// Opens Tessaline's page of Tally settings for this server address in the browser; a server
// address that gives no web address is shown in a warning instead of being opened.
void openTallySettingsPage(const std::string& serverUrl);
// Opens the folder of the log in Explorer.
void openLogFolder();

}  // namespace tsl
