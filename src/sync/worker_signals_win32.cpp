#include <windows.h>

#include "sync/worker_signals.h"

namespace tsl {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h) CloseHandle(h);
    }
};
using EventHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

struct WorkerSignals::State {
    EventHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};   // manual reset
    EventHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto reset
};

WorkerSignals::WorkerSignals() : state_(std::make_unique<State>()) {}
WorkerSignals::WorkerSignals(SleepReading slept)
    : state_(std::make_unique<State>()), slept_(slept) {}
WorkerSignals::~WorkerSignals() = default;

void WorkerSignals::requestStop() {
    stopFlag_.store(true);
    SetEvent(state_->stop.get());
}
void WorkerSignals::clearStop() {
    ResetEvent(state_->stop.get());
    stopFlag_.store(false);
}

bool WorkerSignals::stopRequested() const {
    return WaitForSingleObject(state_->stop.get(), 0) == WAIT_OBJECT_0;
}

void WorkerSignals::wake() {
    SetEvent(state_->wake.get());
}

void WorkerSignals::waitForStopOrWake(std::uint32_t milliseconds) {
    // Stop comes first, so a stop and a wake together leave the wake for later.
    const HANDLE handles[2] = {state_->stop.get(), state_->wake.get()};
    if (!handles[0] || !handles[1]) {
        // Without its events the worker must still not spin.
        Sleep(milliseconds);
        return;
    }
    WaitForMultipleObjects(2, handles, FALSE, milliseconds);
}

}  // namespace tsl
