// Text conversions where wchar_t is UTF-32 and there is no ANSI code page: Windows-1252 stands in.
#include <cstdint>

#include "support/text.h"

namespace tsl {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80..0x9F; the five bytes it leaves undefined map to U+FFFD.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string toUtf8(const std::wstring& wide) {
    std::u16string units;
    units.reserve(wide.size());
    for (wchar_t w : wide) {
        const auto cp = static_cast<char32_t>(w);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(cp > 0x10FFFF ? char16_t{0xFFFD} : static_cast<char16_t>(cp));
        }
    }
    return utf16ToUtf8(units.data(), units.size());
}

std::wstring fromUtf8(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        std::size_t len = 1;
        if (c >= 0x80) {
            // Let the validator judge one sequence; an invalid one becomes U+FFFD.
            std::size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (want > n - i) want = n - i;
            len = 0;
            for (std::size_t k = want; k >= 1; --k) {
                if (isValidUtf8(std::string_view(utf8).substr(i, k))) {
                    len = k;
                    break;
                }
            }
            if (len <= 1) {
                out.push_back(static_cast<wchar_t>(kReplacement));
                ++i;
                continue;
            }
            char32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
            for (std::size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
            out.push_back(static_cast<wchar_t>(cp));
            i += len;
            continue;
        }
        out.push_back(static_cast<wchar_t>(c));
        i += len;
    }
    return out;
}

std::string ansiToUtf8(std::string_view bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        units.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t{b});
    }
    return utf16ToUtf8(units.data(), units.size());
}

}  // namespace tsl
