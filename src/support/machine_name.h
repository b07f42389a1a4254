#pragma once

#include <string>

namespace tsl {

// The PC's name as UTF-8 (NetBIOS name on Windows, host name elsewhere), or "Unknown PC" when
// it cannot be read. Never empty.
std::string machineName();

// The operating system and its version for a support desk: "Windows 10.0 (build 19045)",
// "Linux 6.1.0-18-amd64 x86_64"; "Unknown system" when it cannot be read.
std::string operatingSystem();

}  // namespace tsl
