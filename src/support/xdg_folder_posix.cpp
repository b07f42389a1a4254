#include "support/xdg_folder.h"

#include <cstdlib>

namespace tsl {

std::filesystem::path xdgFolder(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::filesystem::path(home) / fallback;
    }
    return std::filesystem::path();
}

}  // namespace tsl
