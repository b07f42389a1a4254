#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tsl {

class Config;

// The field checks and the diagnostics report (saveDiagnosticsReport) on a thread of their own,
// one run at a time, for a program that must keep answering meanwhile. Safe beside a running
// sync worker (see runFieldChecks). `finished` is called on the run's thread once its outcome
// is ready, never after stop(); it should only tell the owner's thread, which then calls take().
// Every member function is for the owner's thread. Neither copyable nor movable.
class ReportRun {
  public:
    struct Outcome {
        std::filesystem::path file;  // empty when no report was saved
        std::string error;           // why not, then
    };

    // Keeps a reference to `config`, which must outlive this object.
    ReportRun(const Config& config, std::function<void()> finished);
    ~ReportRun();  // stop()
    ReportRun(const ReportRun&) = delete;
    ReportRun& operator=(const ReportRun&) = delete;

    // Starts a run; false, and nothing started, while one is under way or after stop().
    bool start();
    bool running() const;
    // The outcome of the run that finished, once (the run's thread is joined); nothing while
    // it runs or when it was taken already.
    std::optional<Outcome> take();
    // For good: a run under way ends its exchanges within about a second and the rest of the
    // checks within their own bounds, is waited for, and saves nothing.
    void stop();

  private:
    void work();

    const Config& config_;
    std::function<void()> finished_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;  // guards running_ and outcome_
    bool running_ = false;
    std::optional<Outcome> outcome_;
    std::thread thread_;  // the last run's; joined before another starts
};

}  // namespace tsl
