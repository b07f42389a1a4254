#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>

#include "config/start_with_windows.h"

namespace tsl {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";
// Where Task Manager's Startup tab keeps what the user turned off: a binary value of the same
// name whose first byte is odd while the entry is off.
constexpr wchar_t kApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

KeyHandle openKey(const wchar_t* path, REGSAM access) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &raw) != ERROR_SUCCESS) return nullptr;
    return KeyHandle(raw);
}

bool hasRunValue() {
    const KeyHandle key = openKey(kRunKey, KEY_QUERY_VALUE);
    return key && RegQueryValueExW(key.get(), kValueName, nullptr, nullptr, nullptr, nullptr) ==
                      ERROR_SUCCESS;
}

bool turnedOffInTaskManager() {
    const KeyHandle key = openKey(kApprovedKey, KEY_QUERY_VALUE);
    BYTE data[16] = {};
    DWORD size = sizeof(data), type = 0;
    return key &&
           RegQueryValueExW(key.get(), kValueName, nullptr, &type, data, &size) == ERROR_SUCCESS &&
           type == REG_BINARY && size > 0 && (data[0] & 1) != 0;
}

}  // namespace

bool isStartWithWindowsEnabled() {
    return hasRunValue() && !turnedOffInTaskManager();
}

bool isStartTurnedOffByUser() {
    return hasRunValue() && turnedOffInTaskManager();
}

void setStartWithWindows(bool enable) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    KeyHandle key(raw);
    // Chosen here, the user's word wins over what Task Manager noted earlier.
    if (const KeyHandle approved = openKey(kApprovedKey, KEY_SET_VALUE)) {
        RegDeleteValueW(approved.get(), kValueName);
    }
    if (!enable) {
        RegDeleteValueW(key.get(), kValueName);
        return;
    }
    // A longer path is cut to the buffer. GetModuleFileNameW then returns the full buffer size
    // with the terminating zero inside it, which must not end up in the registry data.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring data =
        L"\"" + std::wstring(path, wcsnlen(path, MAX_PATH)) + L"\" --background";
    RegSetValueExW(key.get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

const StartAtLogonWords& startAtLogonWords() {
    static constexpr StartAtLogonWords kWords{
        "turned off in Task Manager's Startup tab",
        "Turn it on there, or choose \"Start with Windows\" in the tray menu.",
        "Turn on \"Start with Windows\" in the tray menu, or sync waits until someone starts "
        "the connector."};
    return kWords;
}

}  // namespace tsl
