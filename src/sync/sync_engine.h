#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "api/api_records.h"
#include "sync/kept_results.h"
#include "sync/sync_status.h"
#include "sync/worker_signals.h"

namespace tsl {

class Config;
class ApiClient;
class TallyClient;
struct Settings;

// Runs sync passes: the worker thread of the tray program (start/stop), or passes on the
// caller's thread for the console (syncOnce). Owns the live status; everybody else gets
// copies. Keeps the answers of jobs that Tessaline has not taken yet (KeptResults, in the
// settings folder) and reports them before asking for new jobs. Neither copyable nor movable.
class SyncEngine {
  public:
    using Listener = std::function<void(const SyncStatus&)>;

    SyncEngine(Config& config, Listener listener);
    ~SyncEngine();  // stops and joins the worker
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    void start();            // starts the worker unless it runs
    void stop();             // stops and joins the worker; not from the worker itself
    void syncNow();          // ends the current wait (or the next one) early
    void settingsChanged();  // restarts the back-off and wakes the worker
    bool syncOnce();         // passes on this thread; true when Syncing or UpToDate

    SyncStatus status() const;
    // The only way the state and its message change: logs a WARN line when a troubled
    // state or its message changes, then calls the listener (outside the lock) every time.
    void setState(SyncState state, const std::string& message);

    // One pass; returns the seconds to wait before the next one.
    int runCycle();

    // Limits and waits of a pass.
    static constexpr int kRetrySeconds = 30;
    static constexpr int kMaxJobsPerPass = 50;
    static constexpr int kMinInterval = 15;
    static constexpr int kMaxInterval = 3600;
    static constexpr int kMaxOncePasses = 200;
    static constexpr int kUnexpectedErrorWait = 60;
    // min(15 * 2^min(n, 5), 300) for the n-th consecutive heartbeat failure (from 0).
    static int backoffSeconds(int failuresBefore);
    // The worker's wait for a pass result, in milliseconds: at least 1 s, never overflowing.
    static std::uint32_t waitMilliseconds(int seconds);

  private:
    void workerLoop();
    int runJobs(ApiClient& api, TallyClient& tally, const std::string& company, int interval,
                const std::string& token);
    // Reports a kept job. Nothing when it left the store (taken; or refused for good when sent
    // again); otherwise the wait that ends the pass, the job still kept.
    std::optional<int> deliver(ApiClient& api, const KeptJob& job, bool again,
                               const std::string& token);
    void noteKeptCount();
    std::vector<JobResult> runRequests(TallyClient& tally, const Job& job, std::string& tallyError);
    int tokenRefused();
    void saveCompany(const std::string& company);
    template <typename Update>
    void updateStatus(Update&& update);

    Config& config_;
    Listener listener_;
    std::thread worker_;
    WorkerSignals signals_;
    std::atomic<bool> running_{false};
    mutable std::mutex statusMutex_;
    SyncStatus status_;
    std::atomic<int> failureCount_{0};
    KeptResults kept_;  // touched only by the thread that runs the passes
};

}  // namespace tsl
