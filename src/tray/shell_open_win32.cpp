#include "tray/shell_open.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "support/logger.h"
#include "support/text.h"
#include "support/version.h"
#include "tray/tray_texts.h"

namespace tsl {

void openTallySettingsPage(const std::string& serverUrl) {
    const std::string page = tallySettingsPage(serverUrl);
    if (!isWebAddress(page)) {
        const std::wstring text =
            fromUtf8("The Tessaline server address is not a web address:\n" + page);
        MessageBoxW(nullptr, text.c_str(), fromUtf8(kDisplayName).c_str(), MB_ICONWARNING);
        return;
    }
    ShellExecuteW(nullptr, L"open", fromUtf8(page).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void openLogFolder() {
    const std::wstring folder = Logger::folder().wstring();
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace tsl
