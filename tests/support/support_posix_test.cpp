// What the support layer does only off Windows: a stand-in for the ANSI code page. (Where the
// program's files go, and with which modes, is checked in private_files_posix_test.cpp.)
#include <gtest/gtest.h>

#include "support/text.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
    return std::string(values.begin(), values.end());
}

// Windows-1252 stands in for the ANSI code page; the five bytes it leaves undefined are U+FFFD.
TEST(TextPosix, AnsiIsWindows1252) {
    EXPECT_EQ(tsl::ansiToUtf8(bytes({0x80, 0x9F, 0xA0, 0xFF})),
              bytes({0xE2, 0x82, 0xAC, 0xC5, 0xB8, 0xC2, 0xA0, 0xC3, 0xBF}));
    for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(tsl::ansiToUtf8(bytes({undefined})), bytes({0xEF, 0xBF, 0xBD})) << undefined;
}

}  // namespace
