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

std::string g_self;  // this program, run again as the child writer

namespace {

constexpr int kLinesPerWriter = 400;

void writeLines(const std::string& who) {
    static const std::string padding(200, '.');
    for (int i = 0; i < kLinesPerWriter; ++i)
        tsl::Logger::info(who + " " + std::to_string(i) + padding);
}

// The writer of each line in file order; fails the test on a line that is not whole.
std::vector<std::string> writersOf(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INFO\] (\w+) \d+\.{200}\r)");
    std::vector<std::string> writers;
    while (std::getline(in, line)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, shape)) << line;
        writers.push_back(m.size() > 1 ? m[1].str() : "");
    }
    return writers;
}

// The child half: started by the test below with TSL_LOG_CHILD_DIR set.
TEST(LoggerConcurrency, ChildWriter) {
    const char* folder = std::getenv("TSL_LOG_CHILD_DIR");
    if (!folder) GTEST_SKIP() << "runs only as the child of ThreadsAndASecondProcessAppendSafely";
    tsl::Logger::startIn(folder, false);
    writeLines("child");
    tsl::Logger::reset();
}

// Two threads, then a second process while this one holds the log open, then this one again:
// each writer's lines land after the others', none torn or overwritten.
TEST(LoggerConcurrency, ThreadsAndASecondProcessAppendSafely) {
    if (std::getenv("TSL_LOG_CHILD_DIR")) GTEST_SKIP();
    tsl::testing::TempDir dir;
    tsl::testing::ScopedEnv env("TSL_LOG_CHILD_DIR", dir.path().string());
    tsl::Logger::startIn(dir.path(), false);
    std::thread a([] { writeLines("alpha"); }), b([] { writeLines("beta"); });
    a.join();
    b.join();
    const std::string command = "\"" + g_self +
                                "\" --gtest_filter=LoggerConcurrency.ChildWriter > " +
                                (dir.path() / "child.out").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    writeLines("parent");
    tsl::Logger::reset();

    auto writers = writersOf(tsl::testing::readFile(dir.path() / "connector.log"));
    ASSERT_EQ(writers.size(), 4u * kLinesPerWriter);
    std::sort(writers.begin(), writers.begin() + 2 * kLinesPerWriter);  // the threads' lines mix
    std::vector<std::string> expected;
    for (const char* writer : {"alpha", "beta", "child", "parent"})
        expected.insert(expected.end(), kLinesPerWriter, writer);
    EXPECT_EQ(writers, expected);
}

}  // namespace

int main(int argc, char** argv) {
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
