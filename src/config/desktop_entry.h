#pragma once

#include <string>

namespace tsl {

// The autostart desktop entry (freedesktop.org Desktop Entry format) that starts the program
// at exePath with "--background". The path is quoted for the Exec key by both of the format's
// rules: the argument quoting (\ " ` $ escaped inside double quotes) and then the string
// escapes (\ doubled, control characters as \n \t \r), and "%" doubled so that no part of
// the path is taken for a field code.
std::string desktopEntryText(const std::string& exePath);

}  // namespace tsl
