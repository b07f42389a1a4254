#pragma once

#include <string>

namespace tsl {

// The PC's name as UTF-8 (NetBIOS name on Windows, host name elsewhere), or "Unknown PC" when
// it cannot be read. Never empty.
std::string machineName();

}  // namespace tsl
