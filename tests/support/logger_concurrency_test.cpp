// Two threads, and a second process, append to one log: no line may be torn or lost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include "common/temp_dir.h"
#include "support/logger.h"

namespace {

constexpr int kLinesPerWriter = 400;

void writeLines(const std::string& who) {
    const std::string padding(200, '.');
    for (int i = 0; i < kLinesPerWriter; ++i)
        tsl::Logger::info(who + " " + std::to_string(i) + padding);
}

// Every line is whole, and each writer's lines are all there.
void checkLog(const std::string& text, const std::vector<std::string>& writers) {
    std::istringstream in(text);
    std::string line;
    const std::regex shape(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[INFO\] (\w+) (\d+)\.{200}\r)");
    std::map<std::string, int> counts;
    while (std::getline(in, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        ++counts[m[1]];
    }
    for (const std::string& w : writers)
        EXPECT_EQ(counts[w], kLinesPerWriter) << w;
}

TEST(LoggerConcurrency, TwoThreadsNeverInterleaveInsideALine) {
    tsl::testing::TempDir dir;
    tsl::Logger::startIn(dir.path(), false);
    std::thread a([] { writeLines("alpha"); });
    std::thread b([] { writeLines("beta"); });
    a.join();
    b.join();
    tsl::Logger::reset();
    checkLog(tsl::testing::readFile(dir.path() / "connector.log"), {"alpha", "beta"});
}

// The child half: started by the test below with TSL_LOG_CHILD_DIR set.
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

TEST(LoggerConcurrency, SecondProcessAppendsSafely) {
    if (std::getenv("TSL_LOG_CHILD_DIR")) GTEST_SKIP();
    tsl::testing::TempDir dir;
    tsl::testing::ScopedEnv env("TSL_LOG_CHILD_DIR", dir.path().string());
    tsl::Logger::startIn(dir.path(), false);
    const std::string command = "\"" + g_self +
                                "\" --gtest_filter=LoggerConcurrency.ChildWriter > " +
                                (dir.path() / "child.out").string();
    std::thread child([&] { EXPECT_EQ(std::system(command.c_str()), 0); });
    writeLines("parent");
    child.join();
    tsl::Logger::reset();
    checkLog(tsl::testing::readFile(dir.path() / "connector.log"), {"parent", "child"});
}

}  // namespace

int main(int argc, char** argv) {
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
