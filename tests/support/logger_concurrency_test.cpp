// Two threads, and a second process, append to one log: no line may be torn or lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "common/temp_dir.h"
#include "support/logger.h"

namespace {

constexpr int kLinesPerWriter = 400;

void writeLine(const std::string& who, int i) {
    static const std::string padding(200, '.');
    tsl::Logger::info(who + " " + std::to_string(i) + padding);
}

void writeLines(const std::string& who) {
    for (int i = 0; i < kLinesPerWriter; ++i)
        writeLine(who, i);
}

// The writer of each line in file order; fails the test on a line that is not whole.
std::vector<std::string> writersOf(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    const std::regex shape(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INFO\] (\w+) (\d+)\.{200}\r)");
    std::vector<std::string> writers;
    while (std::getline(in, line)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, shape)) << line;
        writers.push_back(m.size() > 1 ? m[1].str() : "");
    }
    return writers;
}

TEST(LoggerConcurrency, TwoThreadsNeverInterleaveInsideALine) {
    tsl::testing::TempDir dir;
    tsl::Logger::startIn(dir.path(), false);
    std::thread a([] { writeLines("alpha"); });
    std::thread b([] { writeLines("beta"); });
    a.join();
    b.join();
    tsl::Logger::reset();
    const auto writers = writersOf(tsl::testing::readFile(dir.path() / "connector.log"));
    for (const char* writer : {"alpha", "beta"})
        EXPECT_EQ(std::count(writers.begin(), writers.end(), writer), kLinesPerWriter) << writer;
    EXPECT_EQ(writers.size(), 2u * kLinesPerWriter);
}

// The child half: started by the test below with TSL_LOG_CHILD_DIR set, while the parent holds
// the log open.
TEST(LoggerConcurrency, ChildWriter) {
    const char* folder = std::getenv("TSL_LOG_CHILD_DIR");
    if (!folder) GTEST_SKIP() << "runs only as the child of SecondProcessAppendsSafely";
    tsl::Logger::startIn(folder, false);
    writeLines("child");
    tsl::Logger::reset();
}

}  // namespace

std::string g_self;

namespace {

// Both processes hold the log open; each one's lines land after the other's, none overwritten.
TEST(LoggerConcurrency, SecondProcessAppendsSafely) {
    if (std::getenv("TSL_LOG_CHILD_DIR")) GTEST_SKIP();
    tsl::testing::TempDir dir;
    tsl::testing::ScopedEnv env("TSL_LOG_CHILD_DIR", dir.path().string());
    tsl::Logger::startIn(dir.path(), false);
    for (int i = 0; i < kLinesPerWriter / 2; ++i)
        writeLine("parent", i);
    const std::string command = "\"" + g_self +
                                "\" --gtest_filter=LoggerConcurrency.ChildWriter > " +
                                (dir.path() / "child.out").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    for (int i = kLinesPerWriter / 2; i < kLinesPerWriter; ++i)
        writeLine("parent", i);
    tsl::Logger::reset();

    std::vector<std::string> expected(kLinesPerWriter / 2, "parent");
    expected.insert(expected.end(), kLinesPerWriter, "child");
    expected.insert(expected.end(), kLinesPerWriter - kLinesPerWriter / 2, "parent");
    EXPECT_EQ(writersOf(tsl::testing::readFile(dir.path() / "connector.log")), expected);
}

}  // namespace

int main(int argc, char** argv) {
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
