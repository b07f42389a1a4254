#include "sync/kept_results.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "support/durable_file.h"
#include "support/local_time.h"
#include "support/logger.h"

namespace tsl {

namespace {

constexpr int kFormatVersion = 1;

std::string describe(const KeptJob& job) {
    return job.id + " (" + job.kind + ")";
}

Json entryJson(const KeptJob& job) {
    Json entry;
    entry.set("id", Json(job.id)).set("kind", Json(job.kind)).set("results", job.results);
    entry.set("error", job.error.empty() ? Json() : Json(job.error));
    return entry;
}

// The entry as read back; false when it is not one this program wrote.
bool readEntry(const Json& entry, KeptJob& job) {
    const Json& id = entry.get("id");
    const Json& kind = entry.get("kind");
    const Json& results = entry.get("results");
    const Json& error = entry.get("error");
    if (!id.isString() || !kind.isString() || !results.isArray()) return false;
    if (!error.isString() && !error.isNull()) return false;
    for (const Json& item : results.items()) {
        if (!item.isObject()) return false;
    }
    job.id = id.stringOr("");
    job.kind = kind.stringOr("");
    job.results = results;
    job.error = error.stringOr("");
    return true;  // an empty id too: the server's ids are kept as it sent them
}

std::string stampForFileName() {
    const LocalTime t = localTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

}  // namespace

KeptResults::KeptResults(std::filesystem::path file, KeptLimits limits)
    : file_(std::move(file)), limits_(limits) {
    try {
        load();
    } catch (const std::exception& e) {
        // Start-up goes on whatever the file holds; what was read so far is not trusted.
        jobs_.clear();
        setAside(e.what());
    }
}

const KeptJob* KeptResults::find(const std::string& id) const {
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const KeptJob& job) { return job.id == id; });
    return it == jobs_.end() ? nullptr : &*it;
}

void KeptResults::keep(KeptJob job) {
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                               [&](const KeptJob& k) { return k.id == job.id; }),
                jobs_.end());
    jobs_.push_back(std::move(job));
    save();  // measures every entry on the way

    std::size_t total = 0;
    for (const KeptJob& k : jobs_)
        total += k.bytes;
    bool dropped = false;
    while (jobs_.size() > 1 && (jobs_.size() > limits_.jobs || total > limits_.bytes)) {
        Logger::error("Dropped the kept results of job " + describe(jobs_.front()) +
                      ": more than " + std::to_string(limits_.jobs) + " jobs or " +
                      std::to_string(limits_.bytes >> 20) +
                      " MB of results were waiting to be reported");
        total -= jobs_.front().bytes;
        jobs_.pop_front();
        dropped = true;
    }
    if (dropped) save();
}

void KeptResults::remove(const std::string& id) {
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const KeptJob& job) { return job.id == id; });
    if (it == jobs_.end()) return;
    jobs_.erase(it);
    save();
}

void KeptResults::load() {
    std::string text, error;
    switch (readWholeFile(file_, text, error)) {
        case ReadOutcome::Missing:
            return;
        case ReadOutcome::Failed:
            setAside(error);
            return;
        case ReadOutcome::Read:
            break;
    }
    Json root;
    try {
        root = Json::parse(text);
    } catch (const JsonError& e) {
        setAside(e.what());
        return;
    }
    text = std::string();  // the parsed copy is enough from here on
    if (root.get("version").intOr(0) != kFormatVersion || !root.get("jobs").isArray()) {
        setAside("not a file of kept results");
        return;
    }
    for (const Json& entry : root.get("jobs").items()) {
        KeptJob job;
        if (!readEntry(entry, job)) {
            jobs_.clear();
            setAside("an entry is damaged");
            return;
        }
        job.bytes = entry.dump().size();
        jobs_.push_back(std::move(job));
    }
    if (!jobs_.empty()) {
        Logger::info("Results of " + std::to_string(jobs_.size()) +
                     " job(s) are waiting to be reported to Tessaline");
    }
}

// The file is renamed, not deleted: a person can still recover the answers it holds.
void KeptResults::setAside(const std::string& reason) {
    std::filesystem::path aside = file_;
    aside += ".damaged-" + stampForFileName();
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(aside, ec) && n < 100; ++n) {
        aside = file_;
        aside += ".damaged-" + stampForFileName() + "-" + std::to_string(n);
    }
    std::filesystem::rename(file_, aside, ec);
    if (ec) {
        Logger::error("The kept results file " + file_.string() + " cannot be used (" + reason +
                      ") nor set aside (" + ec.message() + ")");
        return;
    }
    Logger::error("The kept results file cannot be used (" + reason + "); it was set aside as " +
                  aside.filename().string());
}

void KeptResults::save() {
    std::string error;
    if (jobs_.empty()) {
        std::error_code ec;
        std::filesystem::remove(file_, ec);
        if (ec) error = "Could not remove " + file_.string() + ": " + ec.message();
    } else {
        // Entry by entry, so that only one answer is held twice at a time.
        DurableFileWriter out(file_);
        out.write("{\"jobs\":[");
        for (std::size_t i = 0; i < jobs_.size(); ++i) {
            if (i > 0) out.write(",");
            const std::string text = entryJson(jobs_[i]).dump();
            jobs_[i].bytes = text.size();
            out.write(text);
        }
        out.write("],\"version\":" + std::to_string(kFormatVersion) + "}");
        if (!out.commit()) error = out.error();
    }
    // One line when saving starts to fail and one when it works again, not one per job.
    if (!error.empty() && !saveFailing_) {
        Logger::error("Kept results are only in memory until the file can be written: " + error);
    } else if (error.empty() && saveFailing_) {
        Logger::info("The kept results file can be written again");
    }
    saveFailing_ = !error.empty();
}

}  // namespace tsl
