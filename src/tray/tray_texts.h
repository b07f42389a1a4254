#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sync/sync_status.h"

namespace tsl {

// The tooltip after a status change: the program's name, a line break, the state's text.
std::string trayTooltip(SyncState state);

// The balloon a change from `previous` to `next` raises: "Tally sync stopped" when the pairing
// is lost (not the first "not connected" after start), "Tally sync paused" when Tessaline
// pauses sync; nothing otherwise, and nothing while the state stays the same.
std::optional<std::string> balloonTitle(SyncState previous, SyncState next);
// The balloon's text under that title: the status's detail message, which comes from Tessaline
// or Tally, with its control characters escaped (escapeControls).
std::string balloonText(const std::string& message);

// The Tessaline page with the Tally settings: the server address without a final "/api", then
// "/web/accounting/tally".
std::string tallySettingsPage(const std::string& serverUrl);
// Only http and https addresses are handed to the shell: anything else (a file path, a share,
// another scheme) would be opened or run as whatever it names.
bool isWebAddress(const std::string& address);

// One item of the tray menu, in display order.
struct MenuItem {
    std::string text;  // "" for a separator
    unsigned id = 0;   // command id; 0 for the state line and separators
    bool separator = false;
    bool grayed = false;
    bool checked = false;
};

inline constexpr unsigned kCmdStatus = 2001, kCmdSyncNow = 2002, kCmdConnection = 2003,
                          kCmdOpenTallyPage = 2004, kCmdOpenLogFolder = 2005,
                          kCmdStartWithWindows = 2006, kCmdExit = 2007, kCmdSaveReport = 2008;

// The tray menu as it must look at this moment; "Save diagnostics report..." is greyed while
// one is being saved.
std::vector<MenuItem> trayMenu(SyncState state, bool paired, bool startWithWindows,
                               bool savingReport);

}  // namespace tsl
