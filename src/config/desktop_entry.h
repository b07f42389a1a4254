#pragma once

#include <string>

namespace tsl {

// The autostart desktop entry (freedesktop.org Desktop Entry format) that starts the program
// at exePath with "--background". The path is quoted for the Exec key by both of the format's
// rules: the argument quoting (\ " ` $ escaped inside double quotes) and then the string
// escapes (\ doubled, control characters as \n \t \r), and "%" doubled so that no part of
// the path is taken for a field code.
std::string desktopEntryText(const std::string& exePath);

// Whether an autostart entry's text says the desktop skips it at logon: in its [Desktop Entry]
// group, Hidden true (the entry counts as deleted) or X-GNOME-Autostart-enabled false (the
// switch of GNOME's startup settings). Booleans as GLib reads them: true/1, false/0.
bool isAutostartEntryTurnedOff(const std::string& text);

}  // namespace tsl
