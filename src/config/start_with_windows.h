#pragma once

namespace tsl {

// Start at logon. Windows: the value "Tessaline Tally Connector" under HKCU\...\Run holding
// "\"<exe path>\" --background". Linux: the autostart entry
// $XDG_CONFIG_HOME/autostart/Tessaline Tally Connector.desktop. The entry's presence is the
// state, except on Windows when the user turned the entry off in Task Manager's Startup tab,
// which keeps it but skips it at logon: it then reads as not enabled, and setting it either way
// clears that mark. Failures are silent: the query then says false, a change leaves things as
// they were.
bool isStartWithWindowsEnabled();
void setStartWithWindows(bool enable);
// The entry is there but turned off in Task Manager (always false off Windows).
bool isStartTurnedOffByUser();

}  // namespace tsl
