#pragma once

#include <cstdint>
#include <string>

namespace tsl {

// A platform error code as text for messages: "<message text> (<code>)" when a message table
// knows the code (on Windows the system's and WinHTTP's tables), otherwise "error <code>".
// The code is printed in unsigned decimal. Never fails.
std::string systemErrorText(std::uint32_t code);

}  // namespace tsl
