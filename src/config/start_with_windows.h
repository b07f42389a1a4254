#pragma once

namespace tsl {

// Start at logon. Windows: the value "Tessaline Tally Connector" under HKCU\...\Run holding
// "\"<exe path>\" --background". Linux: the autostart entry
// $XDG_CONFIG_HOME/autostart/Tessaline Tally Connector.desktop. The entry's presence is the
// state, except when the user turned the entry off (Task Manager's Startup tab; on Linux the
// desktop's switch, see isAutostartEntryTurnedOff), which keeps it but skips it at logon: it
// then reads as not enabled, and setting it either way clears that mark. On Linux the systemd
// user unit, once its user enabled it (systemctl --user enable), counts as on too; turning off
// leaves it to its user. Failures are silent: the query then says false, a change leaves
// things as they were.
bool isStartWithWindowsEnabled();
void setStartWithWindows(bool enable);
// The entry is there but turned off by the user as above.
bool isStartTurnedOffByUser();

// What a person reads about starting at logon, in the words of this platform.
struct StartAtLogonWords {
    const char* turnedOff;        // the state when isStartTurnedOffByUser()
    const char* turnedOffAdvice;  // what to do then
    const char* offAdvice;        // what to do when nothing starts the connector at logon
};
const StartAtLogonWords& startAtLogonWords();

}  // namespace tsl
