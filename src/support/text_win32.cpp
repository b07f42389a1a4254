// Text conversions through the Windows code-page converters.
#include <windows.h>

#include <climits>

#include "support/text.h"

namespace tsl {

namespace {

std::wstring toWide(UINT codePage, std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return wide;
}

}  // namespace

std::string toUtf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > INT_MAX) return std::string();
    const int size = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return out;
}

std::wstring fromUtf8(const std::string& utf8) {
    return toWide(CP_UTF8, utf8);
}

std::string ansiToUtf8(std::string_view bytes) {
    const std::wstring wide = toWide(CP_ACP, bytes);
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
}

}  // namespace tsl
