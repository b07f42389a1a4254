#include "sync/worker_signals.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tsl {

struct WorkerSignals::State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool wake = false;
};

WorkerSignals::WorkerSignals() : state_(std::make_unique<State>()) {}
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
    state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return state_->stop || state_->wake; });
    // Like an auto-reset event: the wait that sees the wake consumes it. A stop is left set.
    if (!state_->stop) state_->wake = false;
}

}  // namespace tsl
