#include "sync/sync_engine.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <system_error>
#include <utility>

#include "config/config.h"
#include "support/logger.h"
#include "sync/pass_lock.h"

namespace tsl {

SyncEngine::SyncEngine(Config& config, Listener listener)
    : config_(config),
      listener_(std::move(listener)),
      kept_(config.stateFolder() / KeptResults::kFileName),
      journal_(config.stateFolder() / JobJournal::kFileName) {
    // While another copy is in a pass the files are its own; then the first pass here reads them.
    const PassLock lock(config_.stateFolder() / kLockFileName);
    if (lock.taken()) takeUpKeptResults(config_.settings());
}

SyncEngine::~SyncEngine() {
    stop();
}

void SyncEngine::start() {
    if (running_.exchange(true)) return;
    signals_.clearStop();
    worker_ = std::thread([this] { workerLoop(); });
}

void SyncEngine::stop() {
    if (!running_.exchange(false)) return;
    signals_.requestStop();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id()) {
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
        }
        worker_.join();
    }
}

void SyncEngine::syncNow() {
    signals_.wake();
}

void SyncEngine::settingsChanged() {
    failureCount_.store(0);
    signals_.wake();
}

bool SyncEngine::syncOnce() {
    for (int pass = 0; pass < kMaxOncePasses; ++pass) {
        const int wait = runCycle();
        if (anotherCopySyncing_) {
            // Not a trouble of this PC's connection: the other copy is doing the work.
            setState(SyncState::Syncing, kAnotherCopySyncing);
            return false;
        }
        if (wait > 1) break;
    }
    const SyncState state = status().state;
    return state == SyncState::Syncing || state == SyncState::UpToDate;
}

SyncStatus SyncEngine::status() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void SyncEngine::setState(SyncState state, const std::string& message) {
    SyncStatus snapshot;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        const bool changed = state != status_.state || message != status_.message;
        if (changed && isTroubledState(state)) {
            Logger::warn(stateLine(state, message));
        }
        status_.state = state;
        status_.message = message;
        snapshot = status_;
    }
    if (listener_) listener_(snapshot);
}

int SyncEngine::backoffSeconds(int failuresBefore) {
    const int doublings = std::clamp(failuresBefore, 0, 5);
    return std::min(15 * (1 << doublings), 300);
}

std::uint32_t SyncEngine::waitMilliseconds(int seconds) {
    // The server's poll value reaches this unbounded; keep the product inside 32 bits.
    constexpr std::int64_t kMaxMs = std::numeric_limits<std::int32_t>::max();
    const std::int64_t ms = std::int64_t{std::max(seconds, 1)} * 1000;
    return static_cast<std::uint32_t>(std::min(ms, kMaxMs));
}

void SyncEngine::workerLoop() {
    Logger::info("Sync loop started");
    while (running_.load()) {
        int wait = kUnexpectedErrorWait;
        try {
            wait = runCycle();
        } catch (const std::exception& e) {
            const std::string text = e.what();
            Logger::error("Unexpected error in sync loop: " + text);
            try {
                setState(SyncState::ServerUnreachable, text);
            } catch (const std::exception&) {
                // A listener that fails again must not take the worker thread down with it.
            }
            wait = kUnexpectedErrorWait;
        }
        if (!running_.load()) break;
        signals_.waitForStopOrWake(waitMilliseconds(wait));
    }
    Logger::info("Sync loop stopped");
}

}  // namespace tsl
