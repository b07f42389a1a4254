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
// Shorter texts are not taken for a token: masking them would garble ordinary words.
constexpr std::size_t kShortestMaskedToken = 8;

// A server may quote the request back in its error message; the token never goes further.
std::string hideToken(std::string text, const std::string& token) {
    if (token.size() < kShortestMaskedToken) return text;
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at))
        text.replace(at, token.size(), "[token]");
    return text;
}

// A 4xx answer to a report is final, except for the statuses that ask to come back later.
bool refusedForGood(std::uint32_t status) {
    return status >= 400 && status <= 499 && status != 401 && status != 403 && status != 408 &&
           status != 425 && status != 429;
}

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
        setState(SyncState::ServerUnreachable, hideToken(e.message, settings.token));
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
    return runJobs(api, tally, reply.companyName, interval, settings.token);
}

int SyncEngine::runJobs(ApiClient& api, TallyClient& tally, const std::string& company,
                        int interval, const std::string& token) {
    // Answers Tessaline has not taken yet go first, oldest first. Until they are in, no new job
    // is asked for: a job that the server hands out again cannot reach Tally a second time.
    while (kept_.size() > 0) {
        if (signals_.stopRequested()) return 1;
        const KeptJob job = kept_.oldest();
        Logger::info("Job " + job.id + " (" + job.kind +
                     "): reporting the results kept from before");
        if (const auto wait = deliver(api, job, true, token)) return *wait;
    }

    for (int done = 0; done < kMaxJobsPerPass; ++done) {
        if (signals_.stopRequested()) return 1;

        std::optional<Job> job;
        try {
            job = api.nextJob(&interval);
        } catch (const NotPaired&) {
            return tokenRefused();
        } catch (const ApiError& e) {
            setState(SyncState::ServerUnreachable, hideToken(e.message, token));
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

        // Kept, in the file as well, before the report: whether the report fails or the program
        // ends right now, the answers are reported later and the job never runs in Tally again.
        // The bodies (possibly tens of MB each) are handed over, not copied.
        KeptJob kept{job->id, job->kind, ApiClient::resultsArray(std::move(results)), tallyError};
        kept_.keep(kept);
        if (const auto wait = deliver(api, kept, false, token)) return *wait;

        if (!tallyError.empty()) {
            setState(SyncState::TallyUnreachable, tallyError);
            return kRetrySeconds;
        }
    }
    return 1;
}

std::optional<int> SyncEngine::deliver(ApiClient& api, const KeptJob& job, bool again,
                                       const std::string& token) {
    std::string summary;
    try {
        summary = hideToken(api.postResults(job.id, job.results, job.error), token);
    } catch (const NotPaired&) {
        noteKeptCount();
        return tokenRefused();
    } catch (const ApiError& e) {
        const std::string message = hideToken(e.message, token);
        if (again && refusedForGood(e.httpStatus)) {
            // Kept any longer, they would block every later job for nothing.
            Logger::warn("Tessaline refused the results of job " + job.id +
                         " for good; they are dropped: " + message);
            kept_.remove(job.id);
            noteKeptCount();
            return std::nullopt;
        }
        Logger::warn("Could not report job " + job.id + ": " + message);
        noteKeptCount();
        setState(SyncState::ServerUnreachable, message);
        return kRetrySeconds;
    }
    Logger::info("  Tessaline: " + summary);
    kept_.remove(job.id);
    updateStatus([&](SyncStatus& s) {
        s.lastJob = job.kind + ": " + summary;
        ++s.jobsThisSession;
        s.resultsWaiting = kept_.size();
    });
    return std::nullopt;
}

void SyncEngine::noteKeptCount() {
    updateStatus([&](SyncStatus& s) { s.resultsWaiting = kept_.size(); });
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
