// The worker thread: start, stop, wake-ups. Unpaired, so every pass is quick and offline.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/temp_dir.h"
#include "config/config.h"
#include "support/logger.h"
#include "sync/sync_engine.h"

namespace {

using namespace std::chrono_literals;

class SyncWorker : public ::testing::Test {
  protected:
    void SetUp() override { tsl::Logger::startIn(dir.path() / "logs", false); }
    void TearDown() override { tsl::Logger::reset(); }

    // Waits (up to 30 s, however slow the machine) for the listener to have been called n times.
    bool waitForPasses(int n) {
        for (int i = 0; i < 3000 && passes.load() < n; ++i)
            std::this_thread::sleep_for(10ms);
        return passes.load() >= n;
    }

    tsl::testing::TempDir dir;
    tsl::Config config{dir.path()};
    std::atomic<int> passes{0};
    tsl::SyncEngine engine{config, [this](const tsl::SyncStatus&) { ++passes; }};
};

TEST_F(SyncWorker, StartStopAndWake) {
    engine.stop();     // without start: nothing
    engine.syncNow();  // given before the worker runs: kept for its first wait
    engine.start();
    engine.start();  // one worker only
    ASSERT_TRUE(waitForPasses(2));
    // The pass asked for 30 s: no pass more without a wake, and a wake ends the wait at once.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(passes.load(), 2);
    engine.syncNow();
    ASSERT_TRUE(waitForPasses(3));
    engine.settingsChanged();
    ASSERT_TRUE(waitForPasses(4));
    const auto before = std::chrono::steady_clock::now();
    engine.stop();  // ends the 30 s wait, joins
    engine.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 20s);  // not the 30 s waited out
    const int after = passes.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(passes.load(), after);

    engine.start();  // a new worker, with the stop request cleared
    ASSERT_TRUE(waitForPasses(after + 1));
    engine.stop();
    const std::string log = tsl::testing::readFile(dir.path() / "logs" / "connector.log");
    for (const char* line : {"Sync loop started", "Sync loop stopped"}) {
        std::size_t count = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++count;
        EXPECT_EQ(count, 2u) << line;
    }
    engine.start();  // left running: destroying the engine joins its worker
}

}  // namespace
