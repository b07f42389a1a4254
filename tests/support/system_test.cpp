#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "support/app_folder.h"
#include "support/machine_name.h"
#include "support/system_error.h"

namespace {

TEST(SystemError, KnownCodesCarryTextAndNumber) {
    const std::string known = tsl::systemErrorText(2);  // file not found, on every platform
    ASSERT_GT(known.size(), 4u);
    EXPECT_EQ(known.substr(known.size() - 4), " (2)");
    EXPECT_EQ(known.find('\n'), std::string::npos);  // the table's line break is trimmed
    EXPECT_EQ(tsl::systemErrorText(987654321u), "error 987654321");
    EXPECT_EQ(tsl::systemErrorText(4294967295u), "error 4294967295");
}

TEST(MachineName, NeverEmpty) {
    EXPECT_FALSE(tsl::machineName().empty());
}

TEST(AppFolder, CreatesBothLevels) {
    tsl::testing::TempDir dir;
    const auto folder = tsl::ensureAppFolder(dir.path());
    EXPECT_EQ(folder, dir.path() / "Tessaline" / "Tally Connector");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    // A base that cannot hold folders gives the path all the same.
    tsl::testing::writeFile(dir.path() / "file", "x");
    EXPECT_EQ(tsl::ensureAppFolder(dir.path() / "file"),
              dir.path() / "file" / "Tessaline" / "Tally Connector");
}

}  // namespace
