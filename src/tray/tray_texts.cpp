#include "tray/tray_texts.h"

#include <cctype>

#include "support/text.h"
#include "support/version.h"

namespace tsl {

std::string trayTooltip(SyncState state) {
    return std::string(kDisplayName) + "\n" + syncStateText(state);
}

std::optional<std::string> balloonTitle(SyncState previous, SyncState next) {
    if (next == previous) return std::nullopt;
    if (next == SyncState::NotConnected && previous != SyncState::Starting) {
        return std::string("Tally sync stopped");
    }
    if (next == SyncState::Paused) return std::string("Tally sync paused");
    return std::nullopt;
}

std::string balloonText(const std::string& message) {
    return escapeControls(message);
}

std::string tallySettingsPage(const std::string& serverUrl) {
    std::string base = serverUrl;
    constexpr std::string_view kApi = "/api";
    if (base.size() >= kApi.size() &&
        base.compare(base.size() - kApi.size(), kApi.size(), kApi) == 0) {
        base.resize(base.size() - kApi.size());
    }
    return base + "/web/accounting/tally";
}

bool isWebAddress(const std::string& address) {
    auto startsWith = [&address](std::string_view prefix) {
        if (address.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(address[i])) != prefix[i]) return false;
        }
        return true;
    };
    return startsWith("https://") || startsWith("http://");
}

std::vector<MenuItem> trayMenu(SyncState state, bool paired, bool startWithWindows,
                               bool savingReport) {
    std::vector<MenuItem> items;
    items.push_back({syncStateText(state), 0, false, true, false});
    items.push_back({"", 0, true, false, false});
    items.push_back({"&Status...", kCmdStatus, false, false, false});
    items.push_back({"Sync &now", kCmdSyncNow, false, !paired, false});
    items.push_back({paired ? "&Connection settings..." : "&Pair with Tessaline...", kCmdConnection,
                     false, false, false});
    items.push_back({"&Open Tally settings in Tessaline", kCmdOpenTallyPage, false, false, false});
    items.push_back({"Open &log folder", kCmdOpenLogFolder, false, false, false});
    items.push_back({"Save &diagnostics report...", kCmdSaveReport, false, savingReport, false});
    items.push_back({"Start with &Windows", kCmdStartWithWindows, false, false, startWithWindows});
    items.push_back({"", 0, true, false, false});
    items.push_back({"E&xit", kCmdExit, false, false, false});
    return items;
}

}  // namespace tsl
