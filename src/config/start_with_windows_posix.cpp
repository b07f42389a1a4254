// Start at logon through the desktop's autostart folder: one entry whose presence is the state.
#include <cstdlib>

#include "config/desktop_entry.h"
#include "config/start_with_windows.h"
#include "support/app_folder.h"
#include "support/durable_file.h"

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
    // Without the program's path there is nothing to start; leave things as they were.
    const std::string exe = executablePath();
    if (exe.empty()) return;
    // The entry says what runs at every logon: only its user may change it (0600 in 0700
    // folders). Written whole or not at all.
    createPrivateFolders(entry.parent_path());
    DurableFileWriter out(entry);
    if (out.write(desktopEntryText(exe))) out.commit();
}

bool isStartTurnedOffByUser() {
    return false;  // a desktop session's own switch for autostart entries is not read
}

}  // namespace tsl
