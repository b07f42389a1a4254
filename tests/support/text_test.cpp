#include "support/text.h"

#include <gtest/gtest.h>

namespace {

std::string bytes(std::initializer_list<int> values) {
    return std::string(values.begin(), values.end());
}

// A plain UTF-8 encoder of one code point.
std::string referenceUtf8(char32_t cp) {
    if (cp < 0x80) return std::string(1, static_cast<char>(cp));
    const int n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    std::string out(n, '\0');
    for (int i = n - 1; i > 0; --i, cp >>= 6)
        out[i] = static_cast<char>(0x80 | (cp & 0x3F));
    out[0] = static_cast<char>((0xF00 >> n) | cp);
    return out;
}

TEST(Text, TrimRemovesOnlyTheFourBlanksAtTheEnds) {
    EXPECT_EQ(tsl::trim(" \t\r\n"), "");
    EXPECT_EQ(tsl::trim(""), "");
    EXPECT_EQ(tsl::trim("  a b\t"), "a b");
    EXPECT_EQ(tsl::trim("\fx\f"), "\fx\f");                                    // form feed stays
    EXPECT_EQ(tsl::trim(bytes({0xC2, 0xA0, 'x'})), bytes({0xC2, 0xA0, 'x'}));  // NBSP stays
}

TEST(Text, InvalidUtf8BecomesOneReplacementPerFaultyPiece) {
    const std::string fffd = bytes({0xEF, 0xBF, 0xBD});
    const std::string cases[][2] = {
        {bytes({'a', 0xFF, 'b'}), "a" + fffd + "b"},
        {bytes({'a', 0xE2, 0x82, 'b'}), "a" + fffd + "b"},  // a cut character is one U+FFFD
        {bytes({0xF0, 0x9F, 0x98}), fffd},
        {bytes({0xC0, 0xAF}), fffd + fffd},  // overlong: neither byte can start a character
        {bytes({0x80, 0x80}), fffd + fffd},
        {bytes({0xF5, 0x80}), fffd + fffd},
        {bytes({0xE2, 0x82, 0xAC, 0xE2}), bytes({0xE2, 0x82, 0xAC}) + fffd},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(tsl::toUtf8(tsl::fromUtf8(in)), out) << in;
}

TEST(Text, WideTextSurrogatesAreNeverPairedAcrossCodePoints) {
    const std::wstring wide{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    // In UTF-32 a surrogate value is no character, even next to its partner.
    EXPECT_EQ(tsl::toUtf8(wide), sizeof(wchar_t) == 4 ? bytes({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD})
                                                      : bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(tsl::toUtf8(wide.substr(1)), bytes({0xEF, 0xBF, 0xBD}));
}

TEST(Text, Utf8Validation) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"ascii only, longer than eight bytes", true},
        {bytes({0xC3, 0xA9}), true},
        {bytes({0xF4, 0x8F, 0xBF, 0xBF}), true},
        {bytes({0xED, 0x9F, 0xBF}), true},         // the last before the surrogates
        {bytes({0xEF, 0xBF, 0xBD}), true},         // U+FFFD
        {bytes({0xC0, 0xAF}), false},              // overlong
        {bytes({0xE0, 0x80, 0xAF}), false},        // overlong
        {bytes({0xED, 0xA0, 0x80}), false},        // surrogate
        {bytes({0xF4, 0x90, 0x80, 0x80}), false},  // above U+10FFFF
        {bytes({0xE9}), false},                    // truncated
        {"12345678" + bytes({0x80}), false},       // stray continuation after a fast run
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(tsl::isValidUtf8(text), valid) << text;
}

// Text from a peer must not forge log lines or drive the terminal that shows it.
TEST(Text, EscapeControlsMakesControlsVisible) {
    using namespace std::string_literals;
    const std::string cases[][2] = {
        {"a\r\nb\tc", R"(a\r\nb\tc)"},
        {"\x1B[2J cleared", R"(\x1B[2J cleared)"},
        {"in\0side"s, R"(in\x00side)"},
        {"del\x7F", R"(del\x7F)"},
        {"\x01\x1F", R"(\x01\x1F)"},
        {bytes({0xC2, 0x9B}) + "31m", R"(\u009B31m)"},
        {bytes({0xC2, 0x80, 0xC2, 0x9F, 0xC2, 0xA0}), R"(\u0080\u009F)" + bytes({0xC2, 0xA0})},
        {"é ₹ \\n", "é ₹ \\n"},  // a backslash stays as it is
        {bytes({0xE9, 0x9B, 0xFF, 0xC2}), bytes({0xE9, 0x9B, 0xFF, 0xC2})},  // not UTF-8: bytes
    };
    for (const auto& [text, escaped] : cases)
        EXPECT_EQ(tsl::escapeControls(text), escaped) << text;
}

TEST(Text, DecodeTextByMark) {
    const std::string cases[][2] = {
        {bytes({0xFF, 0xFE, 'A', 0, 'B', 0}), "AB"},
        {bytes({0xEF, 0xBB, 0xBF}) + "<X/>", "<X/>"},
        {bytes({'A', 0, 'B'}), bytes({'A', 0, 'B'})},  // too short for the no-mark rule
        {bytes({0xFF, 0xFE, 'A'}), ""},                // the odd last byte is dropped
        {bytes({0x80}), bytes({0xE2, 0x82, 0xAC})},    // ANSI euro sign
        {"", ""},
        {bytes({0xFF, 0xFE}), ""},
        {bytes({0xEF, 0xBB, 0xBF}), ""},
        {bytes({0xFF, 0xFE, 0xEF, 0xBB}), bytes({0xEB, 0xAF, 0xAF})},  // the first mark wins
        {bytes({'A', 0, 0xE9, 0}), bytes({'A', 0xC3, 0xA9})},          // no mark, not ASCII
        {bytes({'A', 0, 0, 0}), bytes({'A', 0})},
        {bytes({0, 'A', 0, 'B'}), bytes({0, 'A', 0, 'B'})},  // byte 0 is zero: not that rule
        {bytes({'c', 'a', 'f', 0xE9}), bytes({'c', 'a', 'f', 0xC3, 0xA9})},
        {bytes({0xE2, 0x82, 0xAC}), bytes({0xE2, 0x82, 0xAC})},  // valid UTF-8 stays
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(tsl::decodeText(in), out);
        EXPECT_EQ(tsl::decodeText(std::string(in)), out);
    }
}

// Code points from every range (lone surrogates among them, each followed by "x" so that nothing
// can pair it, and a high half at the end) in UTF-16 of both byte orders, against the reference
// encoder.
TEST(Text, DecodeUtf16MatchesAReferenceEncoder) {
    std::u16string units;
    std::string expected;
    for (char32_t cp = 0; cp < 0x110000; cp += cp < 0x1000 ? 7 : 211) {
        const bool lone = cp >= 0xD800 && cp <= 0xDFFF;
        if (cp >= 0x10000) units += static_cast<char16_t>(0xD7C0 + (cp >> 10));
        units += static_cast<char16_t>(cp >= 0x10000 ? 0xDC00 + (cp & 0x3FF) : cp);
        if (lone) units += u'x';
        expected += lone ? referenceUtf8(0xFFFD) + "x" : referenceUtf8(cp);
    }
    units += static_cast<char16_t>(0xD83D);  // a high half at the very end
    expected += referenceUtf8(0xFFFD);
    std::string le = bytes({0xFF, 0xFE}), be = bytes({0xFE, 0xFF});
    for (char16_t u : units) {
        le += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        be += {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
    }
    EXPECT_EQ(tsl::decodeText(le), expected);
    EXPECT_EQ(tsl::decodeText(be + "!"), expected);
    EXPECT_EQ(tsl::utf16ToUtf8(units.data(), units.size()), expected);
    EXPECT_EQ(tsl::toUtf8(tsl::fromUtf8(expected)), expected);
    EXPECT_EQ(tsl::fromUtf8("").size(), 0u);
}

}  // namespace
