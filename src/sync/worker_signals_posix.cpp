#include "sync/worker_signals.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tsl {

struct WorkerSignals::State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool wake = false;
};

namespace {

std::int64_t clockMilliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// How much longer the PC has been up than it has been running: the time it slept. The
// monotonic clock (which the waits count in) stands still while the PC is suspended.
std::int64_t sleptMilliseconds() {
    return clockMilliseconds(CLOCK_BOOTTIME) - clockMilliseconds(CLOCK_MONOTONIC);
}

// The wait is watched in slices this long, so a pass starts this soon after the PC wakes.
constexpr auto kSleepWatchSlice = std::chrono::seconds(2);
constexpr std::int64_t kSleepNoticedMs = 1000;

}  // namespace

WorkerSignals::WorkerSignals() : WorkerSignals(sleptMilliseconds) {}
WorkerSignals::WorkerSignals(SleepReading slept)
    : state_(std::make_unique<State>()), slept_(slept) {}
WorkerSignals::~WorkerSignals() = default;

void WorkerSignals::requestStop() {
    stopFlag_.store(true);
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stop = true;
    }
    state_->changed.notify_all();
}

void WorkerSignals::clearStop() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = false;
    stopFlag_.store(false);
}

bool WorkerSignals::stopRequested() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->stop;
}

void WorkerSignals::wake() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->wake = true;
    }
    state_->changed.notify_all();
}

void WorkerSignals::waitForStopOrWake(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const std::int64_t sleptBefore = slept_();
    const auto signalled = [this] { return state_->stop || state_->wake; };
    while (!signalled()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        state_->changed.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(left, kSleepWatchSlice), signalled);
        // Back from a suspend: what the wait was for (the next poll, a back-off) is due.
        if (slept_() - sleptBefore > kSleepNoticedMs) break;
    }
    // Like an auto-reset event: the wait that sees the wake consumes it. A stop is left set.
    if (!state_->stop) state_->wake = false;
}

}  // namespace tsl
