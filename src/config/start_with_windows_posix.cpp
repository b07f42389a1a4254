// Start at logon through the desktop's autostart folder (one entry, which the desktop's own
// switch may turn off) or the systemd user unit its user enabled.
#include <cstdlib>
#include <fstream>

#include "config/desktop_entry.h"
#include "config/start_with_windows.h"
#include "support/app_folder.h"
#include "support/durable_file.h"

namespace tsl {

namespace {

constexpr std::size_t kEntryReadLimit = 64 * 1024;

std::filesystem::path autostartEntry() {
    const std::filesystem::path base = roamingAppDataFolder();
    if (base.empty()) return {};
    return base / "autostart" / "Tessaline Tally Connector.desktop";
}

bool hasEntry() {
    const std::filesystem::path entry = autostartEntry();
    std::error_code ec;
    return !entry.empty() && std::filesystem::exists(entry, ec);
}

// The entry is the user's own file: what is read of it is bounded all the same.
bool entryTurnedOff() {
    std::ifstream in(autostartEntry(), std::ios::binary);
    std::string text(kEntryReadLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return isAutostartEntryTurnedOff(text);
}

// "systemctl --user enable" links the unit into the folder of the target it is wanted by.
bool unitEnabled() {
    const std::filesystem::path base = roamingAppDataFolder();
    std::error_code ec;
    return !base.empty() &&
           std::filesystem::exists(
               base / "systemd/user/default.target.wants/tessaline-tally-connector.service", ec);
}

std::string executablePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

}  // namespace

bool isStartWithWindowsEnabled() {
    return (hasEntry() && !entryTurnedOff()) || unitEnabled();
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
    return hasEntry() && entryTurnedOff() && !unitEnabled();
}

const StartAtLogonWords& startAtLogonWords() {
    static constexpr StartAtLogonWords kWords{
        "the desktop's autostart entry is turned off (Hidden or X-GNOME-Autostart-enabled)",
        "Turn it on in the desktop's startup settings, or run: systemctl --user enable --now "
        "tessaline-tally-connector",
        "Run: systemctl --user enable --now tessaline-tally-connector (or sync waits until "
        "someone starts the connector)."};
    return kWords;
}

}  // namespace tsl
