#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tsl {

// The two requests that reach the sync worker from other threads without locks of the
// caller's: "stop" (stays set until cleared) and "wake" (consumed by the wait it ends).
// Windows: a manual-reset and an auto-reset event; elsewhere a mutex and a condition variable.
// The stop is also a flag that the exchanges of a pass watch, so that a stop ends an exchange
// in flight instead of waiting for Tally or the server to answer.
// Off Windows a wait also ends soon after the PC wakes from a suspend (Windows tells the tray of
// a resume with a power message instead).
class WorkerSignals {
  public:
    // How long the PC has slept so far, in milliseconds; any origin.
    using SleepReading = std::int64_t (*)();

    WorkerSignals();
    // With another reading of the time slept than the clocks' (tests); unused on Windows.
    explicit WorkerSignals(SleepReading slept);
    ~WorkerSignals();
    WorkerSignals(const WorkerSignals&) = delete;
    WorkerSignals& operator=(const WorkerSignals&) = delete;

    void requestStop();
    void clearStop();
    bool stopRequested() const;  // tests without waiting and without consuming
    // Set by requestStop, cleared by clearStop; lives as long as this object.
    const std::atomic<bool>& stopFlag() const { return stopFlag_; }
    void wake();

    // Waits until stop or wake is signalled or the time is up; a wake is consumed.
    void waitForStopOrWake(std::uint32_t milliseconds);

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::atomic<bool> stopFlag_{false};
    SleepReading slept_ = nullptr;
};

}  // namespace tsl
