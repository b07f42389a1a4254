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

// What a UTF-8 lead byte promises: how many continuation bytes follow, the bits it carries and
// the range of the first continuation (which rules out overlongs, surrogates and values above
// U+10FFFF). A byte that cannot lead has no continuations.
struct Lead {
    std::size_t continuations = 0;
    unsigned char mask = 0, low = 0x80, high = 0xBF;
};

Lead leadOf(unsigned char c) {
    if (c >= 0xC2 && c <= 0xDF) return {1, 0x1F};
    if (c == 0xE0) return {2, 0x0F, 0xA0, 0xBF};
    if (c == 0xED) return {2, 0x0F, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF) return {2, 0x0F};
    if (c == 0xF0) return {3, 0x07, 0x90, 0xBF};
    if (c == 0xF4) return {3, 0x07, 0x80, 0x8F};
    if (c >= 0xF1 && c <= 0xF3) return {3, 0x07};
    return {};
}

}  // namespace

std::string toUtf8(const std::wstring& wide) {
    std::u16string units;
    units.reserve(wide.size());
    for (wchar_t w : wide) {
        const auto cp = static_cast<char32_t>(w);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // Not a character in UTF-32; two surrogate values in a row must not pair up here.
            units.push_back(char16_t{0xFFFD});
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    return utf16ToUtf8(units.data(), units.size());
}

std::wstring fromUtf8(const std::string& utf8) {
    // An invalid sequence becomes one U+FFFD for its longest valid beginning (the Unicode
    // "maximal subpart" rule, as Windows does), so a cut character gives a single U+FFFD.
    std::wstring out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i++];
        if (c < 0x80) {
            out.push_back(static_cast<wchar_t>(c));
            continue;
        }
        const Lead lead = leadOf(c);
        char32_t cp = c & lead.mask;
        std::size_t got = 0;
        while (got < lead.continuations && i < n) {
            const unsigned char lo = got == 0 ? lead.low : 0x80;
            const unsigned char hi = got == 0 ? lead.high : 0xBF;
            if (p[i] < lo || p[i] > hi) break;
            cp = (cp << 6) | (p[i++] & 0x3F);
            ++got;
        }
        const bool whole = lead.continuations > 0 && got == lead.continuations;
        out.push_back(static_cast<wchar_t>(whole ? cp : kReplacement));
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
