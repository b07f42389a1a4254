#include "support/text.h"

#include <gtest/gtest.h>

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

TEST(Text, TrimRemovesOnlyTheFourBlanksAtTheEnds) {
    EXPECT_EQ(tsl::trim(" \t\r\n"), "");
    EXPECT_EQ(tsl::trim(""), "");
    EXPECT_EQ(tsl::trim("  a b\t"), "a b");
    EXPECT_EQ(tsl::trim("\fx\f"), "\fx\f");                                    // form feed stays
    EXPECT_EQ(tsl::trim(bytes({0xC2, 0xA0, 'x'})), bytes({0xC2, 0xA0, 'x'}));  // NBSP stays
}

TEST(Text, Utf8RoundTripsThroughWideText) {
    const std::string samples[] = {"plain", bytes({0xC3, 0xA9}), bytes({0xE2, 0x82, 0xB9}),
                                   bytes({0xF0, 0x9F, 0x98, 0x80}), std::string("a\0b", 3)};
    for (const std::string& s : samples)
        EXPECT_EQ(tsl::toUtf8(tsl::fromUtf8(s)), s);
    EXPECT_EQ(tsl::fromUtf8("").size(), 0u);
    // An invalid byte becomes U+FFFD.
    EXPECT_EQ(tsl::toUtf8(tsl::fromUtf8(bytes({'a', 0xFF, 'b'}))),
              bytes({'a', 0xEF, 0xBF, 0xBD, 'b'}));
}

TEST(Text, Utf16UnpairedSurrogatesBecomeReplacement) {
    const char16_t pair[] = {0xD83D, 0xDE00};
    EXPECT_EQ(tsl::utf16ToUtf8(pair, 2), bytes({0xF0, 0x9F, 0x98, 0x80}));
    const char16_t loneHigh[] = {0xD83D, u'A'};
    EXPECT_EQ(tsl::utf16ToUtf8(loneHigh, 2), bytes({0xEF, 0xBF, 0xBD, 'A'}));
    const char16_t loneLow[] = {0xDE00};
    EXPECT_EQ(tsl::utf16ToUtf8(loneLow, 1), bytes({0xEF, 0xBF, 0xBD}));
    const char16_t highAtEnd[] = {u'x', 0xD800};
    EXPECT_EQ(tsl::utf16ToUtf8(highAtEnd, 2), bytes({'x', 0xEF, 0xBF, 0xBD}));
}

TEST(Text, Utf8Validation) {
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"ascii only, longer than eight bytes", true},
        {bytes({0xC3, 0xA9}), true},
        {bytes({0xF4, 0x8F, 0xBF, 0xBF}), true},
        {bytes({0xC0, 0xAF}), false},              // overlong
        {bytes({0xE0, 0x80, 0xAF}), false},        // overlong
        {bytes({0xED, 0xA0, 0x80}), false},        // surrogate
        {bytes({0xF4, 0x90, 0x80, 0x80}), false},  // above U+10FFFF
        {bytes({0xE9}), false},                    // truncated
        {"12345678" + bytes({0x80}), false},       // stray continuation after a fast run
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::isValidUtf8(c.text), c.valid) << c.text;
}

TEST(Text, DecodeTextByMark) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {bytes({0xFF, 0xFE, 'A', 0, 'B', 0}), "AB"},
        {bytes({0xFE, 0xFF, 0, 'A'}), "A"},
        {bytes({0xEF, 0xBB, 0xBF}) + "<X/>", "<X/>"},
        {bytes({'A', 0, 'B', 0}), "AB"},
        {bytes({'A', 0, 'B'}), bytes({'A', 0, 'B'})},  // too short for the no-mark rule
        {bytes({0xFF, 0xFE, 'A'}), ""},                // the odd last byte is dropped
        {bytes({0xE9}), bytes({0xC3, 0xA9})},          // ANSI é
        {bytes({0x80}), bytes({0xE2, 0x82, 0xAC})},    // ANSI euro sign
        {"", ""},
        {bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}), bytes({0xF0, 0x9F, 0x98, 0x80})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tsl::decodeText(c.in), c.out);
        EXPECT_EQ(tsl::decodeText(std::string(c.in)), c.out);
    }
}

TEST(Text, DecodeTextMovesPlainUtf8WithoutCopying) {
    std::string body(1 << 20, 'x');
    const char* storage = body.data();
    const std::string out = tsl::decodeText(std::move(body));
    EXPECT_EQ(out.data(), storage);
}

}  // namespace
