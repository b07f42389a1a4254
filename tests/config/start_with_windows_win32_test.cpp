// Start at logon on Windows: the per-user Run value, as the shell reads it at logon.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "config/start_with_windows.h"
#include "support/text.h"

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

// The value as stored: "" when there is none, "(malformed)" unless it is a REG_SZ whose size
// counts one terminating zero.
std::string storedEntry() {
    std::vector<wchar_t> data(1024);
    DWORD type = 0, size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY | RRF_NOEXPAND, &type,
                     data.data(), &size) != ERROR_SUCCESS) {
        return "";
    }
    const std::size_t length = wcsnlen(data.data(), size / sizeof(wchar_t));
    if (type != REG_SZ || size != (length + 1) * sizeof(wchar_t)) return "(malformed)";
    return tsl::toUtf8(std::wstring(data.data(), length));
}

void storeEntry(const std::string& value) {
    const std::wstring wide = tsl::fromUtf8(value);
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, wide.c_str(),
                    static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

TEST(StartWithWindows, EnableTakesAnotherCopysEntryOverOnceAndDisableRemovesIt) {
    const std::string before = storedEntry();  // the prefix's own value, put back at the end
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(storedEntry(), "");

    storeEntry("\"C:\\Elsewhere\\Connector.exe\" --background");
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());  // another copy's entry counts
    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_EQ(storedEntry(), "\"" + tsl::toUtf8(std::wstring(path, length)) + "\" --background");

    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(storedEntry(), "");
    if (!before.empty()) storeEntry(before);
}

}  // namespace
