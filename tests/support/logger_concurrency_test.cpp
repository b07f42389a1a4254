// Two threads, and a second process, append to one log: no line may be torn or lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
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

// Every line is whole, and each writer's lines are all there.
void checkLog(const std::string& text, const std::vector<std::string>& writers) {
    std::map<std::string, int> counts;
    for (const std::string& w : writersOf(text))
        ++counts[w];
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
    std::atomic<bool> childDone{false};
    std::thread child([&] {
        EXPECT_EQ(std::system(command.c_str()), 0);
        childDone = true;
    });
    // The parent keeps writing for as long as the child lives, so the two really overlap.
    int parentLines = 0;
    while (!childDone || parentLines < kLinesPerWriter)
        writeLine("parent", parentLines++);
    child.join();
    tsl::Logger::reset();

    const std::vector<std::string> writers =
        writersOf(tsl::testing::readFile(dir.path() / "connector.log"));
    EXPECT_EQ(std::count(writers.begin(), writers.end(), "parent"), parentLines);
    EXPECT_EQ(std::count(writers.begin(), writers.end(), "child"), kLinesPerWriter);
    const auto firstChild = std::find(writers.begin(), writers.end(), "child");
    const auto lastChild = std::find(writers.rbegin(), writers.rend(), "child").base();
    EXPECT_NE(std::find(firstChild, lastChild, "parent"), lastChild)
        << "the child's lines did not overlap the parent's";
}

}  // namespace

int main(int argc, char** argv) {
    g_self = argv[0];
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
