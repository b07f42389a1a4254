// Start at logon through the desktop's autostart folder: one entry whose presence is the state.
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "config/start_with_windows.h"
#include "support/app_folder.h"

namespace tsl {

namespace {

std::filesystem::path autostartEntry() {
    const std::filesystem::path base = roamingAppDataFolder();
    if (base.empty()) return {};
    return base / "autostart" / "Tessaline Tally Connector.desktop";
}

std::string executablePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

// Quoting for a desktop entry's Exec key: the path in double quotes, with \ " ` $ escaped.
std::string quoted(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '\\' || c == '"' || c == '`' || c == '$') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool isStartWithWindowsEnabled() {
    const std::filesystem::path entry = autostartEntry();
    std::error_code ec;
    return !entry.empty() && std::filesystem::exists(entry, ec);
}

void setStartWithWindows(bool enable) {
    const std::filesystem::path entry = autostartEntry();
    if (entry.empty()) return;
    std::error_code ec;
    if (!enable) {
        std::filesystem::remove(entry, ec);
        return;
    }
    std::filesystem::create_directories(entry.parent_path(), ec);
    std::ofstream out(entry, std::ios::binary | std::ios::trunc);
    out << "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tessaline Tally Connector\n"
           "Comment=Links TallyPrime to Tessaline\n"
           "Exec="
        << quoted(executablePath())
        << " --background\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace tsl
