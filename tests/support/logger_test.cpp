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
    ::testing::internal::CaptureStdout();
    tsl::Logger::info("lost");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(tsl::Logger::folder().empty());
    tsl::Logger::startIn(dir.path() / "logs", false);
    tsl::Logger::warn("kept");
    const std::string text = readFile(dir.path() / "logs" / "connector.log");
    EXPECT_EQ(text.find("lost"), std::string::npos);
    EXPECT_NE(text.find("kept"), std::string::npos);
    EXPECT_EQ(tsl::Logger::folder(), dir.path() / "logs");
}

// Stamped lines; the console shows the same ones, whatever line ending it uses. A peer's text
// (a job's kind, the server's message) cannot add a line of its own, in the file or on the console.
TEST_F(LoggerTest, LinesAreStampedEchoedAndNeverSplitByTheirText) {
    tsl::Logger::startIn(dir.path(), true);
    ::testing::internal::CaptureStdout();
    tsl::Logger::info("Sync loop started");
    tsl::Logger::error("e");
    tsl::Logger::warn("job x\r\n2026-01-01 00:00:00.000 [ERROR] forged\x1B[2J");
    std::string echoed = ::testing::internal::GetCapturedStdout();
    const std::string logged = readFile(dir.path() / "connector.log");
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    const std::regex lines(
        stamp + R"(\[INFO\] Sync loop started\r\n)" + stamp + R"(\[ERROR\] e\r\n)" + stamp +
        R"(\[WARN\] job x\\r\\n2026-01-01 00:00:00\.000 \[ERROR\] forged\\x1B\[2J\r\n)");
    EXPECT_TRUE(std::regex_match(logged, lines)) << logged;
    std::erase(echoed, '\r');
    EXPECT_EQ(echoed, std::regex_replace(logged, std::regex("\r"), ""));
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

TEST_F(LoggerTest, RotationThatCannotRenameKeepsAppending) {
    const auto log = dir.path() / "connector.log";
    tsl::Logger::startIn(dir.path(), false);
    writeFile(log, std::string(tsl::Logger::kRotateBytes + 1, 'c'));
    // A folder in the backup's place cannot be replaced by a rename.
    std::filesystem::create_directories(dir.path() / "connector.1.log" / "in use");
    tsl::Logger::info("still logged");
    EXPECT_EQ(std::filesystem::file_size(log),
              tsl::Logger::kRotateBytes + 1 +
                  sizeof("2026-01-01 00:00:00.000 [INFO] still logged\r\n") - 1);
}

TEST_F(LoggerTest, UnwritableFolderDropsLinesButStillEchoes) {
    writeFile(dir.path() / "file", "x");
    tsl::Logger::startIn(dir.path() / "file" / "logs", true);  // a folder under a file
    ::testing::internal::CaptureStdout();
    tsl::Logger::info("nowhere to go");
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("[INFO] nowhere to go"),
              std::string::npos);
    EXPECT_EQ(readFile(dir.path() / "file"), "x");
}

}  // namespace
