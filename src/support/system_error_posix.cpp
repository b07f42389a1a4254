#include "support/system_error.h"

#include <cstring>
#include <string>

namespace tsl {

std::string systemErrorText(std::uint32_t code) {
    const std::string number = std::to_string(code);
    // strerrordesc_np knows the errno values and gives nothing for the rest.
    const char* text = code <= 4095 ? strerrordesc_np(static_cast<int>(code)) : nullptr;
    if (text && *text) return std::string(text) + " (" + number + ")";
    return "error " + number;
}

}  // namespace tsl
