#include <windows.h>

#include <vector>

#include "config/start_entry_probe.h"
#include "support/text.h"

namespace tsl::testing {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

// The value's raw data and type, as stored; false when there is no value.
bool readRaw(std::vector<wchar_t>& data, DWORD& type) {
    data.assign(1024, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_ANY | RRF_NOEXPAND, &type,
                     data.data(), &size) != ERROR_SUCCESS) {
        return false;
    }
    data.resize(size / sizeof(wchar_t));
    return true;
}

void writeValue(const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::shared_ptr<void> sandboxStartEntry(const std::filesystem::path&) {
    std::vector<wchar_t> data;
    DWORD type = 0;
    const bool present = readRaw(data, type);
    const std::wstring value(data.data(), wcsnlen(data.data(), data.size()));
    return std::shared_ptr<void>(nullptr, [present, value](void*) {
        if (present) {
            writeValue(value);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
        }
    });
}

std::string storedStartEntry() {
    std::vector<wchar_t> data;
    DWORD type = 0;
    if (!readRaw(data, type)) return "";
    const std::size_t length = wcsnlen(data.data(), data.size());
    if (type != REG_SZ || data.size() != length + 1) return "(malformed)";
    return toUtf8(std::wstring(data.data(), length));
}

std::string expectedStartEntry() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return "\"" + toUtf8(std::wstring(path, length)) + "\" --background";
}

void plantForeignStartEntry() {
    writeValue(L"\"C:\\Elsewhere\\Connector.exe\" --background");
}

}  // namespace tsl::testing
