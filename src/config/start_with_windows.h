#pragma once

namespace tsl {

// Start at logon. Windows: the value "Tessaline Tally Connector" under HKCU\...\Run holding
// "\"<exe path>\" --background". Linux: the autostart entry
// $XDG_CONFIG_HOME/autostart/Tessaline Tally Connector.desktop. The entry's presence is the
// state. Failures are silent: the query then says false, a change leaves things as they were.
bool isStartWithWindowsEnabled();
void setStartWithWindows(bool enable);

}  // namespace tsl
