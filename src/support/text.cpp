#include "support/text.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace tsl {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at p (at most n bytes available), or 0.
std::size_t sequenceLength(const unsigned char* p, std::size_t n) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    auto cont = [&](std::size_t i) { return i < n && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 2) return 0;
        const unsigned char lo = (c == 0xE0) ? 0xA0 : 0x80;  // no overlongs
        const unsigned char hi = (c == 0xED) ? 0x9F : 0xBF;  // no surrogates
        return (p[1] >= lo && p[1] <= hi && cont(2)) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 2) return 0;
        const unsigned char lo = (c == 0xF0) ? 0x90 : 0x80;
        const unsigned char hi = (c == 0xF4) ? 0x8F : 0xBF;  // nothing above U+10FFFF
        return (p[1] >= lo && p[1] <= hi && cont(2) && cont(3)) ? 4 : 0;
    }
    return 0;
}

// True when p[0, n) is the beginning of a well-formed sequence that is longer than n bytes.
bool isOpenSequence(const unsigned char* p, std::size_t n) {
    const unsigned char c = p[0];
    const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    if (n >= length) return false;
    // Complete it with the smallest continuation the lead allows: valid exactly when the
    // given bytes are.
    unsigned char whole[4] = {c, 0x80, 0x80, 0x80};
    if (c == 0xE0) whole[1] = 0xA0;
    if (c == 0xF0) whole[1] = 0x90;
    for (std::size_t i = 1; i < n; ++i)
        whole[i] = p[i];
    return sequenceLength(whole, length) == length;
}

bool isHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// UTF-16 code units, read through unitAt(i), to UTF-8; unpaired surrogates become U+FFFD.
// Two passes, measure then write through a pointer: a 64 MB answer is converted without
// reallocations or a byte-by-byte append.
template <typename UnitAt>
std::string unitsToUtf8(std::size_t count, UnitAt unitAt) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t u = unitAt(i);
        if (u < 0x80) {
            length += 1;
        } else if (u < 0x800) {
            length += 2;
        } else if (isHighSurrogate(u) && i + 1 < count && isLowSurrogate(unitAt(i + 1))) {
            length += 4;
            ++i;
        } else {
            length += 3;  // the rest of the BMP, and U+FFFD for an unpaired surrogate
        }
    }
    std::string out(length, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    for (std::size_t i = 0; i < count; ++i) {
        char32_t cp = unitAt(i);
        if (cp < 0x80) {
            *o++ = static_cast<unsigned char>(cp);
            continue;
        }
        if (cp < 0x800) {
            *o++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            continue;
        }
        if (isHighSurrogate(cp) && i + 1 < count && isLowSurrogate(unitAt(i + 1))) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(++i) - 0xDC00);
            *o++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
            *o++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        } else {
            if (isHighSurrogate(cp) || isLowSurrogate(cp)) cp = kReplacement;
            *o++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
        }
        *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    return out;
}

bool isTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class Encoding { Utf16Le, Utf16Be, Utf8Bom, Utf16LeNoBom, Ansi, AsIs };

Encoding detect(const std::string& b) {
    switch (textMark(b)) {
        case TextMark::Utf16Le:
            return Encoding::Utf16Le;
        case TextMark::Utf16Be:
            return Encoding::Utf16Be;
        case TextMark::Utf8Bom:
            return Encoding::Utf8Bom;
        case TextMark::Utf16LeNoBom:
            return Encoding::Utf16LeNoBom;
        case TextMark::None:
            break;
    }
    return isValidUtf8(b) ? Encoding::AsIs : Encoding::Ansi;
}

}  // namespace

std::string trim(const std::string& text) {
    std::size_t first = 0;
    while (first < text.size() && isTrimmed(text[first]))
        ++first;
    if (first == text.size()) return std::string();
    std::size_t last = text.size();
    while (isTrimmed(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string escapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            // C2 is never a continuation byte, so C2 80..9F is always a whole C1 character.
            const auto low = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += kHex[low >> 4];
            out += kHex[low & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Back over continuation bytes (10xxxxxx) to the start of the character that was cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string utf16ToUtf8(const char16_t* units, std::size_t count) {
    return unitsToUtf8(count, [units](std::size_t i) { return units[i]; });
}

Utf8Scan scanUtf8(std::string_view bytes) {
    const auto* start = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = start;
    std::size_t n = bytes.size();
    while (n > 0) {
        // Skip ASCII eight bytes at a time.
        while (n >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL) break;
            p += 8;
            n -= 8;
        }
        if (n == 0) break;
        const std::size_t len = sequenceLength(p, n);
        if (len == 0) return {static_cast<std::size_t>(p - start), isOpenSequence(p, n)};
        p += len;
        n -= len;
    }
    return {bytes.size(), false};
}

bool isValidUtf8(std::string_view bytes) {
    return scanUtf8(bytes).valid == bytes.size();
}

std::string utf16BytesToUtf8(std::string_view bytes, bool littleEndian) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t count = bytes.size() / 2;  // a final odd byte is dropped
    if (littleEndian) {
        return unitsToUtf8(count, [p](std::size_t i) {
            return static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        });
    }
    return unitsToUtf8(count, [p](std::size_t i) {
        return static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1]);
    });
}

std::size_t ansiCut(std::string_view bytes) {
    for (std::size_t i = bytes.size(); i > 0; --i) {
        if (static_cast<unsigned char>(bytes[i - 1]) < 0x40) return i;
    }
    return 0;
}

TextMark textMark(std::string_view b) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
    if (b.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return TextMark::Utf16Le;
    if (b.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) return TextMark::Utf16Be;
    if (b.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return TextMark::Utf8Bom;
    if (b.size() >= 4 && at(1) == 0 && at(3) == 0 && at(0) != 0) return TextMark::Utf16LeNoBom;
    return TextMark::None;
}

std::size_t textMarkSize(TextMark mark) {
    switch (mark) {
        case TextMark::Utf16Le:
        case TextMark::Utf16Be:
            return 2;
        case TextMark::Utf8Bom:
            return 3;
        default:
            return 0;
    }
}

std::string decodeText(const std::string& bytes) {
    switch (detect(bytes)) {
        case Encoding::Utf16Le:
            return utf16BytesToUtf8(std::string_view(bytes).substr(2), true);
        case Encoding::Utf16Be:
            return utf16BytesToUtf8(std::string_view(bytes).substr(2), false);
        case Encoding::Utf8Bom:
            return bytes.substr(3);
        case Encoding::Utf16LeNoBom:
            return utf16BytesToUtf8(bytes, true);
        case Encoding::Ansi:
            return ansiToUtf8(bytes);
        case Encoding::AsIs:
            break;
    }
    return bytes;
}

std::string decodeText(std::string&& bytes) {
    switch (detect(bytes)) {
        case Encoding::Utf8Bom:
            bytes.erase(0, 3);
            return std::move(bytes);
        case Encoding::AsIs:
            return std::move(bytes);
        default:
            return decodeText(static_cast<const std::string&>(bytes));
    }
}

}  // namespace tsl
