#pragma once

#include <filesystem>
#include <string>

namespace tsl {

// A path as UTF-8 for messages. path::string() would go through the ANSI code page on Windows
// and fail on a user name it cannot spell.
inline std::string pathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace tsl
