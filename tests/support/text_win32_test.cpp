// The portable UTF-8 judgement against the one Windows makes (MultiByteToWideChar with
// MB_ERR_INVALID_CHARS), and the message tables behind systemErrorText.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "support/system_error.h"
#include "support/text.h"

namespace {

bool windowsSaysValid(const std::string& bytes) {
    if (bytes.empty()) return true;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                               static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

TEST(TextWin32, Utf8ValidityAgreesWithTheSystemConverter) {
    std::mt19937 random(7);
    // Short strings over the bytes that matter: ASCII, continuations, every kind of lead.
    const unsigned char alphabet[] = {'a',  0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                      0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF,
                                      0xF0, 0xF1, 0xF4, 0xF5, 0xFF, 0x00};
    int valid = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s;
        const std::size_t length = 1 + random() % 6;
        for (std::size_t k = 0; k < length; ++k)
            s += static_cast<char>(alphabet[random() % sizeof(alphabet)]);
        ASSERT_EQ(tsl::isValidUtf8(s), windowsSaysValid(s)) << ::testing::PrintToString(s);
        valid += windowsSaysValid(s) ? 1 : 0;
    }
    EXPECT_GT(valid, 200);  // both judgements were met often
    EXPECT_LT(valid, 19000);
}

// With winhttp.dll loaded its table is searched first; system codes must still be found.
// (Wine's winhttp.dll carries no message table, so 12029 itself cannot be checked here.)
TEST(TextWin32, SystemCodesStillFoundWithWinHttpLoaded) {
    const HMODULE winhttp = LoadLibraryW(L"winhttp.dll");
    ASSERT_NE(winhttp, nullptr);
    const std::string text = tsl::systemErrorText(ERROR_ACCESS_DENIED);
    EXPECT_GT(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), " (5)");
    FreeLibrary(winhttp);
}

}  // namespace
