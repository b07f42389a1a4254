// One sync pass: probe Tally, heartbeat, then jobs until the server has none left.
#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <utility>

#include "api/api_client.h"
#include "config/config.h"
#include "config/pairing_address.h"
#include "support/local_time.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "sync/answer_file.h"
#include "sync/kept_location.h"
#include "sync/pass_lock.h"
#include "sync/sync_engine.h"
#include "tally/tally_client.h"

namespace tsl {

namespace {

constexpr char kDisconnected[] = "This PC was disconnected in Tessaline. Pair it again.";
// Shorter texts are not taken for a token: masking them would garble ordinary words.
constexpr std::size_t kShortestMaskedToken = 8;
// Ids and kinds come from the server; a log line shows this much of each.
constexpr std::size_t kShownBytes = 100;

// A server may quote the request back in its error message; the token never goes further.
std::string hideToken(std::string text, const std::string& token) {
    if (token.size() < kShortestMaskedToken) return text;
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at))
        text.replace(at, token.size(), "[token]");
    return text;
}

std::string shown(const std::string& text) {
    return text.size() <= kShownBytes ? text : utf8Prefix(text, kShownBytes) + "...";
}

std::string describeJob(const std::string& id, const std::string& kind) {
    return shown(id) + " (" + shown(kind) + ")";
}

// A 4xx answer to a report is final, except for the statuses that ask to come back later.
bool refusedForGood(std::uint32_t status) {
    return status >= 400 && status <= 499 && status != 401 && status != 403 && status != 408 &&
           status != 425 && status != 429;
}

// The API client's sentence for an exchange that got no answer from Tessaline.
bool isConnectionProblem(const std::string& message, std::uint32_t httpStatus) {
    return httpStatus == 0 && message.rfind("Cannot reach Tessaline: ", 0) == 0;
}

Pairing pairingOf(const Settings& settings) {
    return Pairing{normaliseServerUrl(settings.serverUrl), settings.organisation};
}

std::int64_t secondsNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
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

// Only the refused token is forgotten: a pairing made meanwhile by another process (a console
// "--pair" while this copy runs) stays.
int SyncEngine::tokenRefused(const std::string& token) {
    config_.clearTokenIf(token);
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

void SyncEngine::takeUpKeptResults(const Settings& settings) {
    if (!keptFilesMoved_) {
        moveKeptFiles(config_.iniPath().parent_path(), config_.stateFolder());
        keptFilesMoved_ = true;
    }
    kept_.reload(pairingOf(settings));
    // A job this program (or another copy) was running when it ended: what Tally answered is
    // reported, and nothing of it goes to Tally again.
    if (std::optional<KeptJob> cut = journal_.recover()) {
        Logger::info("Job " + describeJob(cut->id, cut->kind) +
                     ": the connector ended while Tally ran it; the answers it received are kept");
        kept_.keep(std::move(*cut));
    }
    kept_.removeStrayAnswers();
    if (!keptAnnounced_ && kept_.size() > 0) {
        Logger::info("Results of " + std::to_string(kept_.size()) +
                     " job(s) are waiting to be reported to Tessaline");
    }
    keptAnnounced_ = true;
    noteKeptCount();
}

std::optional<int> SyncEngine::refuseUnpaired(const Settings& settings) {
    if (settings.token.empty()) {
        setState(SyncState::NotConnected, "Pair this PC with Tessaline to start syncing");
        return kRetrySeconds;
    }
    // Checked here too, before anything goes out: the settings file may have been edited.
    if (!isPairingAddressAllowed(settings.serverUrl)) {
        setState(SyncState::NotConnected,
                 std::string(kPairingAddressRefused) +
                     " (plain http only to this PC); the connector token is not sent to " +
                     settings.serverUrl);
        return kRetrySeconds;
    }
    if (!isUsableToken(settings.token)) {
        setState(SyncState::NotConnected,
                 "The saved connector token cannot be used; pair this PC again");
        return kRetrySeconds;
    }
    return std::nullopt;
}

int SyncEngine::runCycle() {
    anotherCopySyncing_ = false;
    // The settings file is shared: a pairing made by the console while this copy runs is taken
    // up here, at the latest one pass later.
    config_.reload();
    const Settings settings = config_.settings();
    if (const auto wait = refuseUnpaired(settings)) return *wait;

    const PassLock lock(config_.stateFolder() / kLockFileName);
    if (!lock.taken()) {
        anotherCopySyncing_ = true;
        return kAnotherCopyWaitSeconds;
    }
    takeUpKeptResults(settings);

    TallyClient tally(settings.tallyHost, settings.tallyPort, &signals_.stopFlag());
    const TallyProbe probe = tally.probe();
    if (stopping()) return 1;  // the probe may have been cut short: it says nothing about Tally
    updateStatus([&](SyncStatus& s) { s.tallyInfo = probe.info; });

    ApiClient api(settings.serverUrl, settings.token, &signals_.stopFlag());
    HeartbeatReply reply;
    try {
        reply = api.heartbeat(machineName(), probe.running, probe.info);
    } catch (const NotPaired&) {
        Logger::warn("Tessaline rejected the connector token; pairing is required again");
        return tokenRefused(settings.token);
    } catch (const ApiError& e) {
        if (stopping()) return 1;
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
    return runJobs(api, tally, reply.companyName, interval, settings);
}

std::optional<int> SyncEngine::deliverKept(ApiClient& api, const Settings& settings) {
    // Until they are in, no new job is asked for: a job that the server hands out again cannot
    // reach Tally a second time.
    const Pairing pairing = pairingOf(settings);
    while (kept_.size() > 0) {
        if (stopping()) return 1;
        const KeptJob job = kept_.oldest();  // the results are shared, not copied
        if (job.pairing != pairing) {
            // Sent with this pairing's token they would land in another organisation's books.
            const std::string reason = "they belong to another pairing (" + job.pairing.server +
                                       ", " + job.pairing.organisation + ")";
            if (!setAside(job, reason, AsideLine::OtherPairing)) return kRetrySeconds;
            continue;
        }
        if (!api.canReport(job.id)) {
            if (!setAside(job, "its id cannot be part of an address", AsideLine::Error)) {
                return kRetrySeconds;
            }
            continue;
        }
        Logger::info("Job " + describeJob(job.id, job.kind) +
                     ": reporting the results kept from before");
        if (const auto wait = deliver(api, job, Answers::EarlierPass, settings.token)) return wait;
    }
    return std::nullopt;
}

int SyncEngine::runJobs(ApiClient& api, TallyClient& tally, const std::string& company,
                        int interval, const Settings& settings) {
    if (const auto wait = deliverKept(api, settings)) return *wait;

    for (int done = 0; done < kMaxJobsPerPass; ++done) {
        if (stopping()) return 1;

        std::optional<Job> job;
        try {
            job = api.nextJob(&interval);
        } catch (const NotPaired&) {
            return tokenRefused(settings.token);
        } catch (const ApiError& e) {
            if (stopping()) return 1;
            setState(SyncState::ServerUnreachable, hideToken(e.message, settings.token));
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

        // Its answers could never be reported; run in Tally, the job would be done unseen.
        if (!api.canReport(job->id)) {
            Logger::error("Job " + describeJob(job->id, job->kind) +
                          " was not run in Tally: its id cannot be part of an address");
            continue;
        }

        Logger::info("Job " + describeJob(job->id, job->kind) + ": " +
                     std::to_string(job->requests.size()) + " Tally request(s)");
        std::string tallyError;
        journal_.begin(*job, pairingOf(settings), secondsNow());
        std::vector<JobResult> results = runRequests(tally, *job, tallyError);

        // Kept, in the file as well, before the report: whether the report fails or the program
        // ends right now, the answers are reported later and the job never runs in Tally again.
        // The bodies (possibly tens of MB each) are handed over, not copied.
        KeptJob kept{job->id,
                     job->kind,
                     ApiClient::resultsArray(std::move(results)),
                     tallyError,
                     pairingOf(settings),
                     0,
                     secondsNow(),
                     0};
        kept_.keep(kept);
        journal_.finish();
        if (const auto wait = deliver(api, kept, Answers::ThisPass, settings.token)) return *wait;

        if (stopping()) return 1;
        const std::string_view notWritten = kAnswerNotWritten;
        if (tallyError.rfind(notWritten, 0) == 0) {
            setState(SyncState::AnswersNotWritten, tallyError.substr(notWritten.size()));
            return kRetrySeconds;
        }
        if (!tallyError.empty()) {
            setState(SyncState::TallyUnreachable, tallyError);
            return kRetrySeconds;
        }
    }
    return 1;
}

std::optional<int> SyncEngine::deliver(ApiClient& api, const KeptJob& job, Answers answers,
                                       const std::string& token) {
    std::string summary;
    try {
        const ReportBody report(job.results, job.error, kept_.answers());
        summary = hideToken(api.postReport(job.id, report), token);
    } catch (const NotPaired& refusal) {
        // A 401 says the token itself is no longer valid (the PC was disconnected since this
        // pass's heartbeat, say): the answers wait for the next pairing. A 403 for kept answers
        // whose pass's heartbeat went through with the same token is about these answers (a
        // job of another organisation), not the pairing: kept, they would block every later job.
        if (answers == Answers::ThisPass || refusal.httpStatus != 403) {
            noteKeptCount();
            return tokenRefused(token);
        }
        if (!setAside(job, "Tessaline refused them with the token it accepts from this PC",
                      AsideLine::Error)) {
            return kRetrySeconds;
        }
        return std::nullopt;
    } catch (const ApiError& e) {
        return reportFailed(job, answers, hideToken(e.message, token), e.httpStatus);
    }
    Logger::info("  Tessaline: " + summary);
    kept_.remove(job.id);
    updateStatus([&](SyncStatus& s) {
        s.lastJob = job.kind + ": " + summary;
        ++s.jobsThisSession;
    });
    noteKeptCount();
    return std::nullopt;
}

std::optional<int> SyncEngine::reportFailed(const KeptJob& job, Answers answers,
                                            const std::string& message, std::uint32_t httpStatus) {
    if (stopping()) {
        // Not a trouble to show: the report goes out at the next start.
        Logger::info("Job " + describeJob(job.id, job.kind) +
                     ": the connector stopped before Tessaline took the results; they are kept");
        noteKeptCount();
        return 1;
    }
    if (!isConnectionProblem(message, httpStatus)) {
        if (answers == Answers::EarlierPass && refusedForGood(httpStatus)) {
            // Kept any longer, they would block every later job for nothing.
            if (!setAside(job, message, AsideLine::Error)) return kRetrySeconds;
            return std::nullopt;
        }
        kept_.countFailedAttempt(job.id);
        const KeptJob* now = kept_.find(job.id);
        if (now && now->attempts >= kSetAsideAfterAttempts &&
            secondsNow() - now->keptAt >= kSetAsideAfterSeconds) {
            const std::string reason = message + " (refused " + std::to_string(now->attempts) +
                                       " times since it was kept)";
            if (!setAside(job, reason, AsideLine::Error)) {
                return kRetrySeconds;
            }
            return std::nullopt;
        }
    }
    Logger::warn("Could not report job " + shown(job.id) + ": " + message);
    noteKeptCount();
    setState(SyncState::ServerUnreachable, message);
    return kRetrySeconds;
}

bool SyncEngine::setAside(const KeptJob& job, const std::string& reason, AsideLine line) {
    const std::string error = kept_.setAside(job.id, reason);
    noteKeptCount();
    const std::string results = "The results of job " + describeJob(job.id, job.kind);
    if (!error.empty()) {
        Logger::error(results + " could not be set aside (" + reason +
                      "); they stay kept: " + error);
        return false;
    }
    if (line == AsideLine::OtherPairing) {
        // Nobody's fault: the PC was paired anew.
        Logger::warn(results + " belong to another pairing (" + job.pairing.server + ", " +
                     job.pairing.organisation + ") and were set aside in " + kSetAsideFileName);
    } else {
        Logger::error(results + " were set aside in " + kSetAsideFileName + ": " + reason);
    }
    return true;
}

void SyncEngine::noteKeptCount() {
    const std::size_t aside = kept_.setAsideCount();
    updateStatus([&](SyncStatus& s) {
        s.resultsWaiting = kept_.size();
        s.resultsSetAside = aside;
    });
}

std::vector<JobResult> SyncEngine::runRequests(TallyClient& tally, const Job& job,
                                               std::string& tallyError) {
    std::vector<JobResult> results;
    results.reserve(job.requests.size());
    std::size_t inlineLeft = kInlineJobBytes;
    std::uint64_t roomLeft = kJobAnswerBytes;
    for (const JobRequest& request : job.requests) {
        JobResult result;
        result.ref = request.ref;
        if (tallyError.empty() && stopping()) tallyError = kNotSentStopped;
        if (!tallyError.empty()) {
            // Tally already failed in this job, or the connector is closing: the rest is
            // reported as failed, not sent.
            result.error = tallyError == kStoppedInFlight ? kNotSentStopped : tallyError;
            results.push_back(std::move(result));
            continue;
        }
        const std::size_t index = results.size();
        journal_.sending(index);
        const std::uint32_t started = tickMilliseconds();
        // A large answer goes from Tally straight into a file of its own, never whole into
        // memory; small ones are held as they always were.
        AnswerFile file(kept_.answers(), std::min(kInlineAnswerBytes, inlineLeft), roomLeft);
        std::uint64_t decoded = 0;
        std::string diskError;
        HttpResponse answer;
        try {
            answer = tally.postXmlTo(request.xml, file, &decoded);
            if (answer.ok && !file.commit()) diskError = file.error();
        } catch (const std::runtime_error& e) {
            diskError = e.what();
        } catch (const std::length_error&) {
            diskError = "the answers of one job may take at most " +
                        std::to_string(kJobAnswerBytes >> 20) + " MB";
        }
        const std::uint32_t elapsed = tickMilliseconds() - started;
        result.ok = answer.ok && diskError.empty();
        result.httpStatus = answer.status;
        if (result.ok) roomLeft -= file.bytes();
        if (result.ok && file.inFile()) {
            result.bodyFile = file.name();
            result.bodyBytes = file.bytes();
        } else if (result.ok) {
            inlineLeft -= std::min<std::size_t>(inlineLeft, file.bytes());
            result.body = file.takeText();
        } else if (!diskError.empty()) {
            // Tally has carried it out; what it said is lost, and so would the next answers be.
            result.error = kAnswerNotWritten + diskError;
            tallyError = result.error;
            decoded = 0;
        } else {
            // Cut short by the stop, it may still have been carried out: say so, not "failed".
            result.error =
                stopping() ? kStoppedInFlight : "Tally stopped responding: " + answer.error;
            tallyError = result.error;
            decoded = 0;
        }
        Logger::info("  " + shown(result.ref) + " -> " +
                     (result.ok ? "HTTP " + std::to_string(result.httpStatus) : result.error) +
                     ", " + std::to_string(decoded) + " bytes in " + std::to_string(elapsed) +
                     " ms");
        journal_.answered(index, result);
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace tsl
