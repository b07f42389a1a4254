#include <windows.h>

#include "support/system_error.h"

#include <memory>

#include "support/text.h"

namespace tsl {

namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t* p) const { LocalFree(p); }
};

}  // namespace

std::string systemErrorText(std::uint32_t code) {
    // WinHTTP's codes (12xxx) live in its own message table, next to the system's.
    const HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (winhttp) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    wchar_t* raw = nullptr;
    const DWORD length =
        FormatMessageW(flags, winhttp, code, 0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    std::unique_ptr<wchar_t, LocalFreeDeleter> buffer(raw);
    std::string text;
    if (length > 0 && buffer) text = trim(toUtf8(std::wstring(buffer.get(), length)));
    if (!text.empty()) return text + " (" + std::to_string(code) + ")";
    return "error " + std::to_string(code);
}

}  // namespace tsl
