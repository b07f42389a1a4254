#include "diag/report_run.h"

#include <exception>
#include <utility>
#include <vector>

#include "diag/diagnostics_report.h"
#include "diag/field_check.h"
#include "support/logger.h"
#include "sync/path_text.h"

namespace tsl {

ReportRun::ReportRun(const Config& config, std::function<void()> finished)
    : config_(config), finished_(std::move(finished)) {}

ReportRun::~ReportRun() {
    stop();
}

bool ReportRun::start() {
    if (stop_ || running()) return false;
    if (thread_.joinable()) thread_.join();  // it has finished: at most `finished` is left
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
        outcome_.reset();
    }
    thread_ = std::thread([this] { work(); });
    return true;
}

bool ReportRun::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::optional<ReportRun::Outcome> ReportRun::take() {
    std::optional<Outcome> outcome;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_) return std::nullopt;
        outcome.swap(outcome_);
    }
    if (outcome && thread_.joinable()) thread_.join();
    return outcome;
}

void ReportRun::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void ReportRun::work() {
    Outcome outcome;
    try {
        Logger::info("Saving a diagnostics report");
        const std::vector<CheckLine> lines = runFieldChecks(config_, &stop_);
        if (stop_) {
            outcome.error = "the connector is ending";
        } else {
            outcome.file = saveDiagnosticsReport(config_, lines, outcome.error);
        }
    } catch (const std::exception& e) {  // memory ran out: said, never thrown across threads
        outcome.error = e.what();
    }
    if (outcome.file.empty()) {
        Logger::warn("Could not save the diagnostics report: " + outcome.error);
    } else {
        Logger::info("Diagnostics report saved: " + pathText(outcome.file));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_ = std::move(outcome);
        running_ = false;
    }
    if (!stop_ && finished_) finished_();
}

}  // namespace tsl
