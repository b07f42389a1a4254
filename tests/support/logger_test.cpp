#include "support/logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "common/temp_dir.h"

namespace {

using tsl::testing::readFile;
using tsl::testing::TempDir;
using tsl::testing::writeFile;

class LoggerTest : public ::testing::Test {
  protected:
    void TearDown() override { tsl::Logger::reset(); }
    TempDir dir;
};

TEST_F(LoggerTest, NothingIsWrittenBeforeStart) {
    tsl::Logger::info("lost");
    tsl::Logger::startIn(dir.path() / "logs", false);
    tsl::Logger::warn("kept");
    const std::string text = readFile(dir.path() / "logs" / "connector.log");
    EXPECT_EQ(text.find("lost"), std::string::npos);
    EXPECT_EQ(tsl::Logger::folder(), dir.path() / "logs");
}

TEST_F(LoggerTest, LineFormat) {
    tsl::Logger::startIn(dir.path(), false);
    tsl::Logger::info("Sync loop started");
    tsl::Logger::warn("two\nlines");
    tsl::Logger::error("e");
    const std::string text = readFile(dir.path() / "connector.log");
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INFO\] Sync loop started\r\n)"
                          R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[WARN\] two\nlines\r\n)"
                          R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[ERROR\] e\r\n)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LoggerTest, RotatesOnlyAboveFiveMebibytes) {
    const auto log = dir.path() / "connector.log";
    const auto backup = dir.path() / "connector.1.log";
    tsl::Logger::startIn(dir.path(), false);

    writeFile(log, std::string(tsl::Logger::kRotateBytes, 'a'));
    writeFile(backup, "old backup");
    tsl::Logger::info("at the limit");
    EXPECT_GT(std::filesystem::file_size(log), tsl::Logger::kRotateBytes);
    EXPECT_EQ(readFile(backup), "old backup");

    writeFile(log, std::string(tsl::Logger::kRotateBytes + 1, 'b'));
    tsl::Logger::info("after rotation");
    EXPECT_EQ(std::filesystem::file_size(backup), tsl::Logger::kRotateBytes + 1);
    const std::string fresh = readFile(log);
    EXPECT_NE(fresh.find("after rotation"), std::string::npos);
    EXPECT_LT(fresh.size(), 100u);
}

TEST_F(LoggerTest, UnwritableFolderDropsLinesSilently) {
    writeFile(dir.path() / "file", "x");
    tsl::Logger::startIn(dir.path() / "file" / "logs", false);  // a folder under a file
    tsl::Logger::info("nowhere to go");
    SUCCEED();
}

}  // namespace
