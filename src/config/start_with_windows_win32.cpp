#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>

#include "config/start_with_windows.h"

namespace tsl {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

bool isStartWithWindowsEnabled() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
        return false;
    }
    KeyHandle key(raw);
    return RegQueryValueExW(key.get(), kValueName, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

void setStartWithWindows(bool enable) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    KeyHandle key(raw);
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

}  // namespace tsl
