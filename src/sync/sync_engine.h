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
#include "sync/job_journal.h"
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
// state folder) and reports them, under the pairing that ran the job only, before asking for
// new jobs; answers Tessaline will not take are set aside instead of holding up new jobs.
// One pass at a time on this PC: a pass holds the sync lock of the state folder (kLockFileName)
// and reads the kept answers afresh under it, so two processes neither lose nor double them.
// A stop ends a pass in flight, the exchange under way included. Neither copyable nor movable.
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
    // Passes on this thread; true when they end Syncing or UpToDate. False at once, with the
    // state Syncing and kAnotherCopySyncing, when another copy holds the sync lock.
    bool syncOnce();

    SyncStatus status() const;
    // The only way the state and its message change: logs a WARN line when a troubled
    // state or its message changes, then calls the listener (outside the lock) every time.
    void setState(SyncState state, const std::string& message);

    // One pass; returns the seconds to wait before the next one. A pass that finds the sync
    // lock held elsewhere does nothing else and changes no state (the worker simply tries
    // again after kAnotherCopyWaitSeconds).
    int runCycle();

    // Limits and waits of a pass.
    static constexpr int kRetrySeconds = 30;
    static constexpr int kMaxJobsPerPass = 50;
    static constexpr int kMinInterval = 15;
    static constexpr int kMaxInterval = 3600;
    static constexpr int kMaxOncePasses = 200;
    static constexpr int kUnexpectedErrorWait = 60;
    static constexpr int kAnotherCopyWaitSeconds = 5;
    static constexpr const char* kLockFileName = "sync.lock";
    static constexpr const char* kAnotherCopySyncing =
        "Another copy of the connector is syncing on this PC";
    static constexpr const char* kStoppedInFlight =
        "The connector stopped before Tally answered; Tally may have carried out this request";
    static constexpr const char* kNotSentStopped = "Not sent to Tally: the connector stopped";
    // Answers up to this size (as JSON text) are held in memory, as long as a job's held answers
    // stay within kInlineJobBytes; larger ones go to files: a file costs writes to the disk that
    // a small answer need not pay for.
    static constexpr std::size_t kInlineAnswerBytes = std::size_t{1} << 20;
    static constexpr std::size_t kInlineJobBytes = std::size_t{4} << 20;
    // What a job's answers may take as written, so that its report stays within what one
    // request can send (4 GB on Windows) and two such jobs within the kept bound. Past it the
    // answer fails with kAnswerNotWritten and a sentence naming the bound.
    static constexpr std::uint64_t kJobAnswerBytes = std::uint64_t{2} << 30;
    // Then the disk's own sentence; the job's later requests are not sent.
    static constexpr const char* kAnswerNotWritten =
        "Tally answered, but its answer could not be written on this PC: ";
    // Answers Tessaline keeps refusing are set aside once both bounds are passed. Only reports
    // that Tessaline answered count, and only after its heartbeat went through, so an outage
    // (a weekend of it, say) adds nothing; the age keeps a day of server trouble from setting
    // aside what it would take tomorrow; the count keeps a PC clock put forward from setting
    // aside what was tried once or twice.
    static constexpr std::uint32_t kSetAsideAfterAttempts = 10;
    static constexpr std::int64_t kSetAsideAfterSeconds = 24 * 3600;
    // min(15 * 2^min(n, 5), 300) for the n-th consecutive heartbeat failure (from 0).
    static int backoffSeconds(int failuresBefore);
    // The worker's wait for a pass result, in milliseconds: at least 1 s, never overflowing.
    static std::uint32_t waitMilliseconds(int seconds);

  private:
    void workerLoop();
    bool stopping() const { return signals_.stopRequested(); }
    // Not paired, or settings that may not carry the token: the state and the wait, or nothing.
    std::optional<int> refuseUnpaired(const Settings& settings);
    // Under the sync lock: moves kept files from their old place once, then reads them afresh.
    void takeUpKeptResults(const Settings& settings);
    int runJobs(ApiClient& api, TallyClient& tally, const std::string& company, int interval,
                const Settings& settings);
    // Kept answers of earlier passes, oldest first; the wait that ends the pass, or nothing.
    std::optional<int> deliverKept(ApiClient& api, const Settings& settings);
    // Where the answers of a kept job come from: this pass's run of it, or an earlier pass
    // (whose heartbeat went through with the same token, so a refusal is about the answers).
    enum class Answers { ThisPass, EarlierPass };
    // Reports a kept job. Nothing when it left the store (taken, or set aside); otherwise the
    // wait that ends the pass, the job still kept.
    std::optional<int> deliver(ApiClient& api, const KeptJob& job, Answers answers,
                               const std::string& token);
    std::optional<int> reportFailed(const KeptJob& job, Answers answers, const std::string& message,
                                    std::uint32_t httpStatus);
    // Moves a kept job to the set-aside file with a line saying why; false (logged, still
    // kept) when it cannot be written there.
    enum class AsideLine { Error, OtherPairing };
    bool setAside(const KeptJob& job, const std::string& reason, AsideLine line);
    void noteKeptCount();
    std::vector<JobResult> runRequests(TallyClient& tally, const Job& job, std::string& tallyError);
    int tokenRefused(const std::string& token);
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
    // Touched only by the thread that runs the passes (and the constructor before it).
    KeptResults kept_;
    JobJournal journal_;  // the job in Tally right now, answer by answer
    bool keptFilesMoved_ = false;
    bool keptAnnounced_ = false;
    bool anotherCopySyncing_ = false;  // the last pass found the sync lock held elsewhere
};

}  // namespace tsl
