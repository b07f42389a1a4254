#include <windows.h>

#include "config/start_entry_probe.h"
#include "support/text.h"

namespace tsl::testing {

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

bool readValue(std::wstring& value) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    value = buffer;
    return true;
}

}  // namespace

struct StartEntrySandbox::Saved {
    bool present = false;
    std::wstring value;
};

StartEntrySandbox::StartEntrySandbox(const std::filesystem::path&) : saved_(new Saved) {
    saved_->present = readValue(saved_->value);
}

StartEntrySandbox::~StartEntrySandbox() {
    if (saved_->present) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, saved_->value.c_str(),
                        static_cast<DWORD>((saved_->value.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
    }
}

std::string startEntryCommand() {
    std::wstring value;
    return readValue(value) ? toUtf8(value) : std::string();
}

}  // namespace tsl::testing
