// Off Windows the worker's wait watches for a suspend itself: no power message tells it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "sync/worker_signals.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::atomic<std::int64_t> sleptSoFar{0};
std::int64_t fakeSlept() {
    return sleptSoFar.load();
}

TEST(WorkerSignalsPosix, AWaitEndsSoonAfterThePcWakes) {
    tsl::WorkerSignals signals(fakeSlept);
    // Without a suspend the wait runs its whole length, slices or not.
    auto start = Clock::now();
    signals.waitForStopOrWake(2500);
    EXPECT_GE(Clock::now() - start, 2500ms);

    // An hour's wait (the poll interval), and the PC sleeps for an hour soon after it began.
    std::thread suspend([] {
        std::this_thread::sleep_for(200ms);
        sleptSoFar += 3600 * 1000;
    });
    start = Clock::now();
    signals.waitForStopOrWake(3600 * 1000);
    suspend.join();
    EXPECT_LT(Clock::now() - start, 10s);
}

}  // namespace
