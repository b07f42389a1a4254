// One sync pass: probe Tally, heartbeat, then jobs until the server has none left.
#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "api/api_client.h"
#include "config/config.h"
#include "support/local_time.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "sync/sync_engine.h"
#include "tally/tally_client.h"

namespace tsl {

namespace {

constexpr char kDisconnected[] = "This PC was disconnected in Tessaline. Pair it again.";

std::uint32_t tickMilliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

template <typename Update>
void SyncEngine::updateStatus(Update&& update) {
    std::lock_guard<std::mutex> lock(statusMutex_);
    update(status_);
}

int SyncEngine::tokenRefused() {
    config_.clearToken();
    setState(SyncState::NotConnected, kDisconnected);
    return kRetrySeconds;
}

void SyncEngine::saveCompany(const std::string& company) {
    // A fresh snapshot, so that settings saved by the user during this pass survive.
    Settings fresh = config_.settings();
    if (fresh.company == company) return;
    fresh.company = company;
    config_.save(fresh);
}

int SyncEngine::runCycle() {
    const Settings settings = config_.settings();
    if (settings.token.empty()) {
        setState(SyncState::NotConnected, "Pair this PC with Tessaline to start syncing");
        return kRetrySeconds;
    }

    TallyClient tally(settings.tallyHost, settings.tallyPort);
    const TallyProbe probe = tally.probe();
    updateStatus([&](SyncStatus& s) { s.tallyInfo = probe.info; });

    ApiClient api(settings.serverUrl, settings.token);
    HeartbeatReply reply;
    try {
        reply = api.heartbeat(machineName(), probe.running, probe.info);
    } catch (const NotPaired&) {
        Logger::warn("Tessaline rejected the connector token; pairing is required again");
        return tokenRefused();
    } catch (const ApiError& e) {
        const int failuresBefore = failureCount_.fetch_add(1);
        setState(SyncState::ServerUnreachable, e.message);
        return backoffSeconds(failuresBefore);
    }

    failureCount_.store(0);
    const int interval = std::clamp(reply.pollSeconds, kMinInterval, kMaxInterval);
    updateStatus([&](SyncStatus& s) { s.company = reply.companyName; });
    if (reply.companyName != settings.company) saveCompany(reply.companyName);

    if (!reply.enabled) {
        setState(SyncState::SyncOff, "Turn on Tally sync in Tessaline (Accounting > Tally Sync)");
        return interval;
    }
    if (!probe.running) {
        setState(SyncState::TallyUnreachable, probe.info);
        return std::min(interval, kRetrySeconds);
    }
    if (!reply.syncError.empty()) {
        setState(SyncState::Paused, reply.syncError);
        return interval;
    }
    setState(SyncState::Syncing, reply.companyName.empty()
                                     ? std::string("Reading company list from Tally")
                                     : "Syncing with " + reply.companyName);
    return runJobs(api, tally, reply.companyName, interval);
}

int SyncEngine::runJobs(ApiClient& api, TallyClient& tally, const std::string& company,
                        int interval) {
    for (int done = 0; done < kMaxJobsPerPass; ++done) {
        if (signals_.stopRequested()) return 1;

        std::optional<Job> job;
        try {
            job = api.nextJob(&interval);
        } catch (const NotPaired&) {
            return tokenRefused();
        } catch (const ApiError& e) {
            setState(SyncState::ServerUnreachable, e.message);
            return kRetrySeconds;
        }

        if (!job) {
            const std::string stamp = formatLastSync(localTimeNow());
            updateStatus([&](SyncStatus& s) { s.lastSync = stamp; });
            setState(
                SyncState::UpToDate,
                company.empty()
                    ? std::string("Choose the Tally company in Tessaline (Accounting > Tally Sync)")
                    : "Synced with " + company);
            return interval;
        }

        Logger::info("Job " + job->id + " (" + job->kind +
                     "): " + std::to_string(job->requests.size()) + " Tally request(s)");
        std::string tallyError;
        std::vector<JobResult> results = runRequests(tally, *job, tallyError);

        try {
            // The bodies (possibly tens of MB each) are handed over, not copied; a job is
            // reported whole or not at all, so nothing needs them after this call.
            const std::string summary = api.postResult(job->id, std::move(results), tallyError);
            Logger::info("  Tessaline: " + summary);
            updateStatus([&](SyncStatus& s) {
                s.lastJob = job->kind + ": " + summary;
                ++s.jobsThisSession;
            });
        } catch (const NotPaired&) {
            return tokenRefused();
        } catch (const ApiError& e) {
            Logger::warn("Could not report job " + job->id + ": " + e.message);
            setState(SyncState::ServerUnreachable, e.message);
            return kRetrySeconds;
        }

        if (!tallyError.empty()) {
            setState(SyncState::TallyUnreachable, tallyError);
            return kRetrySeconds;
        }
    }
    return 1;
}

std::vector<JobResult> SyncEngine::runRequests(TallyClient& tally, const Job& job,
                                               std::string& tallyError) {
    std::vector<JobResult> results;
    results.reserve(job.requests.size());
    for (const JobRequest& request : job.requests) {
        JobResult result;
        result.ref = request.ref;
        if (!tallyError.empty()) {
            // Tally already failed in this job: the rest is reported as failed, not sent.
            result.error = tallyError;
            results.push_back(std::move(result));
            continue;
        }
        const std::uint32_t started = tickMilliseconds();
        HttpResponse answer = tally.postXml(request.xml);
        const std::uint32_t elapsed = tickMilliseconds() - started;
        result.ok = answer.ok;
        result.httpStatus = answer.status;
        result.body = std::move(answer.body);
        if (!answer.ok) {
            result.error = "Tally stopped responding: " + answer.error;
            tallyError = result.error;
        }
        Logger::info("  " + result.ref + " -> " +
                     (result.ok ? "HTTP " + std::to_string(result.httpStatus) : result.error) +
                     ", " + std::to_string(result.body.size()) + " bytes in " +
                     std::to_string(elapsed) + " ms");
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace tsl
