#include "config/start_with_windows.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/start_entry_probe.h"

namespace {

TEST(StartWithWindows, EnableIsIdempotentAndDisableRemoves) {
    tsl::testing::TempDir dir;
    tsl::testing::StartEntrySandbox sandbox(dir.path());
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    const std::string data = tsl::testing::startEntryCommand();
    EXPECT_EQ(data.front(), '"');
    const std::string suffix = "\" --background";
    ASSERT_GT(data.size(), suffix.size());
    EXPECT_EQ(data.substr(data.size() - suffix.size()), suffix);
    EXPECT_NE(data.find("test_config"), std::string::npos);
    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
}

}  // namespace
