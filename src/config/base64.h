#pragma once

#include <string>
#include <string_view>

namespace tsl {

// Standard base64 (RFC 4648 alphabet, "=" padding), on one line.
std::string base64Encode(std::string_view bytes);

// The bytes of base64 text; "" when the text is not valid base64. Line breaks and blanks
// between groups are skipped.
std::string base64Decode(std::string_view text);

}  // namespace tsl
