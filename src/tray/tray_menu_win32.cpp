#include "tray/tray_app.h"

#include "config/config.h"
#include "config/start_with_windows.h"
#include "support/logger.h"
#include "support/text.h"
#include "support/version.h"
#include "support/win32_handles.h"
#include "tray/tray_texts.h"

namespace tsl {

void TrayApp::showMenu() {
    // A right-click brings WM_RBUTTONUP and then WM_CONTEXTMENU; the second arrives while the
    // first menu is tracked and must not open another one inside it.
    if (menuOpen_) return;
    // Built fresh each time so its texts, check mark and greyed items are those of the moment.
    MenuHandle menu(CreatePopupMenu());
    if (!menu) return;
    const SyncStatus status = engine_.status();
    for (const MenuItem& item :
         trayMenu(status.state, config_.isPaired(), isStartWithWindowsEnabled())) {
        UINT flags = MF_STRING;
        if (item.separator) flags = MF_SEPARATOR;
        if (item.grayed) flags |= MF_GRAYED;
        if (item.checked) flags |= MF_CHECKED;
        AppendMenuW(menu.get(), flags, item.id,
                    item.separator ? nullptr : fromUtf8(item.text).c_str());
    }
    SetMenuDefaultItem(menu.get(), kCmdStatus, FALSE);

    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window_);
    menuOpen_ = true;
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window_,
                   nullptr);
    menuOpen_ = false;
    PostMessageW(window_, WM_NULL, 0, 0);
}

void TrayApp::runCommand(unsigned id) {
    switch (id) {
        case kCmdStatus:
            showStatusDialog();
            break;
        case kCmdSyncNow:
            engine_.syncNow();
            break;
        case kCmdConnection:
            showConnectionDialog();
            break;
        case kCmdOpenTallyPage:
            openTallySettingsPage();
            break;
        case kCmdOpenLogFolder:
            openLogFolder();
            break;
        case kCmdStartWithWindows:
            setStartWithWindows(!isStartWithWindowsEnabled());
            break;
        case kCmdExit:
            DestroyWindow(window_);
            break;
        default:
            break;
    }
}

void TrayApp::openTallySettingsPage() {
    const std::string page = tallySettingsPage(config_.settings().serverUrl);
    if (!isWebAddress(page)) {
        const std::wstring text =
            fromUtf8("The Tessaline server address is not a web address:\n" + page);
        MessageBoxW(nullptr, text.c_str(), fromUtf8(kDisplayName).c_str(), MB_ICONWARNING);
        return;
    }
    ShellExecuteW(nullptr, L"open", fromUtf8(page).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TrayApp::openLogFolder() {
    const std::wstring folder = Logger::folder().wstring();
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tsl
