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

void showFileInFolder(const std::filesystem::path& file) {
    const std::wstring path = file.wstring();
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    // A file name cannot hold a quote; one here would end the quoted path early, so the folder
    // alone is shown. The program is named with its folder: never one found beside us.
    if (length == 0 || length >= MAX_PATH || path.find(L'"') != std::wstring::npos) {
        ShellExecuteW(nullptr, L"open", file.parent_path().c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
        return;
    }
    const std::wstring explorer = std::wstring(windows, length) + L"\\explorer.exe";
    const std::wstring arguments = L"/select,\"" + path + L"\"";
    ShellExecuteW(nullptr, L"open", explorer.c_str(), arguments.c_str(), nullptr, SW_SHOWNORMAL);
}

}  // namespace tsl
