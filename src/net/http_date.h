#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tsl {

// Seconds since 1970 (UTC) of an HTTP date in the form servers send, "Sun, 06 Nov 1994 08:49:37
// GMT" (the weekday is not checked); nullopt for anything else.
std::optional<std::int64_t> parseHttpDate(std::string_view text);

}  // namespace tsl
