#include "sync/kept_results.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <limits>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "api/report_body.h"

#include "support/durable_file.h"
#include "support/logger.h"
#include "sync/answer_file.h"
#include "sync/path_text.h"
#include "sync/sync_status.h"

namespace tsl {

namespace {

// 1: id, kind, results, error. 2: also the pairing, the failed attempts and when it was kept.
// 3: answers may be in files of the answers folder.
constexpr int kFormatVersion = 3;
constexpr char kWhat[] = "The kept results file";

std::string describe(const KeptJob& job) {
    return job.id + " (" + job.kind + ")";
}

std::int64_t secondsNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// "YYYY-MM-DDThh:mm:ssZ": readable by a person who opens the file, and wider than the 32-bit
// numbers the JSON reader gives back.
std::string utcText(std::int64_t secondsSince1970) {
    using namespace std::chrono;
    const sys_seconds at{seconds(secondsSince1970)};
    const sys_days day = floor<days>(at);
    const year_month_day date(day);
    const hh_mm_ss<seconds> time(at - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

bool readUtcText(const std::string& text, std::int64_t& secondsSince1970) {
    using namespace std::chrono;
    int y = 0;
    unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &end) !=
            7 ||
        end != 'Z' || text.size() != 20 || h > 23 || mi > 59 || s > 59) {
        return false;
    }
    const year_month_day date{year(y), month(mo), day(d)};
    if (!date.ok()) return false;
    secondsSince1970 =
        (sys_days(date).time_since_epoch() + hours(h) + minutes(mi) + seconds(s)).count();
    return true;
}

// The recorded lengths of the job's answer files.
std::size_t answerBytes(const Json& results) {
    std::size_t total = 0;
    std::string name;
    std::uint64_t bytes = 0;
    for (const Json& item : results.items()) {
        if (answerFileOf(item, name, bytes)) total += static_cast<std::size_t>(bytes);
    }
    return total;
}

// An item's answer as this program wrote it: a file of the recorded length holding a JSON
// string (its first and last bytes are quotes; the rest is checked as it is sent).
bool answerIntact(const std::filesystem::path& folder, const Json& item) {
    if (item.get(ReportBody::kBodyFile).isNull()) return true;  // inline
    std::string name;
    std::uint64_t bytes = 0;
    if (!answerFileOf(item, name, bytes)) return false;
    std::error_code ec;
    if (std::filesystem::file_size(folder / name, ec) != bytes || ec) return false;
    std::ifstream in(folder / name, std::ios::binary);
    char first = 0, last = 0;
    in.get(first);
    in.seekg(static_cast<std::streamoff>(bytes - 1));
    in.get(last);
    return in && first == '"' && last == '"';
}

Json entryJson(const KeptJob& job) {
    Json entry;
    entry.set("id", Json(job.id)).set("kind", Json(job.kind)).set("results", job.results);
    entry.set("error", job.error.empty() ? Json() : Json(job.error));
    entry.set("server", Json(job.pairing.server));
    entry.set("organisation", Json(job.pairing.organisation));
    entry.set("attempts", Json(static_cast<double>(job.attempts)));
    entry.set("keptAt", Json(utcText(job.keptAt)));
    return entry;
}

// The entry as read back; false when it is not one this program wrote.
bool readEntry(const Json& entry, int version, const std::filesystem::path& answers, KeptJob& job) {
    const Json& id = entry.get("id");
    const Json& kind = entry.get("kind");
    const Json& results = entry.get("results");
    const Json& error = entry.get("error");
    if (!id.isString() || !kind.isString() || !results.isArray()) return false;
    if (!error.isString() && !error.isNull()) return false;
    for (const Json& item : results.items()) {
        if (!item.isObject() || !answerIntact(answers, item)) return false;
    }
    if (version >= 2) {
        const Json& server = entry.get("server");
        const Json& organisation = entry.get("organisation");
        const Json& attempts = entry.get("attempts");
        const Json& keptAt = entry.get("keptAt");
        if (!server.isString() || !organisation.isString() || !attempts.isNumber() ||
            !readUtcText(keptAt.stringOr(""), job.keptAt)) {
            return false;
        }
        job.pairing = {server.stringOr(""), organisation.stringOr("")};
        job.attempts = static_cast<std::uint32_t>(std::max(attempts.intOr(0), 0));
    }
    job.id = id.stringOr("");
    job.kind = kind.stringOr("");
    job.results = results;
    job.error = error.stringOr("");
    return true;  // an empty id too: the server's ids are kept as it sent them
}

}  // namespace

KeptResults::KeptResults(std::filesystem::path file, KeptLimits limits)
    : file_(std::move(file)), limits_(limits), setAside_(file_.parent_path() / kSetAsideFileName) {}

void KeptResults::reload(const Pairing& current) {
    // While the file could not be written it is behind: jobs kept since are only here and join
    // what it holds, and jobs gone since are not read back from it.
    std::deque<KeptJob> unsaved;
    if (saveFailing_) unsaved.swap(jobs_);
    jobs_.clear();
    damagedOnLoad_ = false;
    bool firstFormat = false;
    try {
        firstFormat = load(current);
    } catch (const std::exception& e) {
        // Syncing goes on whatever the file holds; what was read so far is not trusted.
        jobs_.clear();
        damaged(e.what());
    }
    if (saveFailing_) {
        jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                                   [&](const KeptJob& k) { return goneUnsaved_.count(k.id) > 0; }),
                    jobs_.end());
    }
    for (KeptJob& job : unsaved) {
        const bool inFile = std::any_of(jobs_.begin(), jobs_.end(),
                                        [&](const KeptJob& k) { return k.id == job.id; });
        if (!inFile) jobs_.push_back(std::move(job));
    }
    // Written in the current format at once, so the pairing they were taken for stays theirs.
    if (firstFormat || !unsaved.empty()) save();
}

std::string KeptResults::look(const Pairing& current) {
    looking_ = true;
    damage_.clear();
    jobs_.clear();
    try {
        load(current);
    } catch (const std::exception& e) {
        jobs_.clear();
        damage_ = e.what();
    }
    looking_ = false;
    return damage_;
}

void KeptResults::damaged(const std::string& reason) {
    if (looking_) {
        damage_ = reason;
    } else {
        renameDamagedFile(file_, kWhat, reason);
        // The answers it named go aside with it, for the person who looks into it.
        const std::filesystem::path folder = file_.parent_path() / kAnswersFolder;
        std::error_code ec;
        if (!std::filesystem::is_empty(folder, ec) && !ec) {
            renameDamagedFile(folder, "The kept answers folder", reason);
        }
        damagedOnLoad_ = true;
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

    const auto heldBy = [](const KeptJob& k) { return k.bytes - answerBytes(k.results); };
    std::size_t total = 0;
    std::size_t held = 0;
    for (const KeptJob& k : jobs_) {
        total += k.bytes;
        held += heldBy(k);
    }
    std::vector<KeptJob> dropped;
    while (jobs_.size() > 1 &&
           (jobs_.size() > limits_.jobs || total > limits_.bytes || held > limits_.held)) {
        Logger::error("Dropped the kept results of job " + describe(jobs_.front()) +
                      ": more than " + std::to_string(limits_.jobs) + " jobs, " +
                      std::to_string(limits_.held >> 20) + " MB in " + kFileName + " or " +
                      std::to_string(limits_.bytes >> 20) +
                      " MB in all were waiting to be reported");
        total -= jobs_.front().bytes;
        held -= heldBy(jobs_.front());
        dropped.push_back(std::move(jobs_.front()));
        jobs_.pop_front();
    }
    if (dropped.empty()) return;
    save();
    for (const KeptJob& k : dropped) {
        if (saveFailing_)
            goneUnsaved_.insert(k.id);  // the file still names their answers
        else
            removeAnswers(k);
    }
}

void KeptResults::remove(const std::string& id) {
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const KeptJob& job) { return job.id == id; });
    if (it == jobs_.end()) return;
    const KeptJob gone = std::move(*it);
    jobs_.erase(it);
    save();  // before its answers go: a process ended in between leaves strays, not a gap
    if (saveFailing_)
        goneUnsaved_.insert(gone.id);  // the file still names its answers
    else
        removeAnswers(gone);
}

std::filesystem::path KeptResults::answers() const {
    return file_.parent_path() / kAnswersFolder;
}

void KeptResults::removeAnswers(const KeptJob& job) {
    const std::filesystem::path folder = file_.parent_path() / kAnswersFolder;
    std::string name;
    std::uint64_t bytes = 0;
    for (const Json& item : job.results.items()) {
        std::error_code ec;
        if (answerFileOf(item, name, bytes)) std::filesystem::remove(folder / name, ec);
    }
}

void KeptResults::removeStrayAnswers() {
    if (damagedOnLoad_ || looking_) return;
    std::set<std::string> named;
    std::string name;
    std::uint64_t bytes = 0;
    for (const KeptJob& job : jobs_) {
        for (const Json& item : job.results.items()) {
            if (answerFileOf(item, name, bytes)) named.insert(name);
        }
    }
    const std::filesystem::path folder = file_.parent_path() / kAnswersFolder;
    std::error_code ec;
    std::vector<std::filesystem::path> strays;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_regular_file() && !named.count(pathText(it->path().filename()))) {
            strays.push_back(it->path());
        }
    }
    for (const std::filesystem::path& stray : strays)
        std::filesystem::remove(stray, ec);
}

void KeptResults::countFailedAttempt(const std::string& id) {
    const auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const KeptJob& job) { return job.id == id; });
    if (it == jobs_.end()) return;
    if (it->attempts < std::numeric_limits<std::uint32_t>::max()) ++it->attempts;
    save();
}

std::string KeptResults::setAside(const std::string& id, const std::string& reason) {
    const KeptJob* job = find(id);
    if (!job) return "";
    // Its answer files go to a folder beside the set-aside file, under names new there, which
    // the entry gives; until the entry is written they can be moved back.
    const std::filesystem::path from = file_.parent_path() / kAnswersFolder;
    const std::filesystem::path to = file_.parent_path() / kSetAsideAnswersFolder;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> moved;
    Json results(Json::Array{});
    std::string error, name;
    std::uint64_t bytes = 0;
    for (const Json& item : job->results.items()) {
        if (!answerFileOf(item, name, bytes)) {
            results.push(item);
            continue;
        }
        std::error_code ec;
        std::filesystem::create_directories(to, ec);
        const std::string newName = newAnswerFileName(to);
        std::filesystem::rename(from / name, to / newName, ec);
        if (ec) {
            error = "Could not move " + pathText(from / name) + ": " + ec.message();
            break;
        }
        moved.emplace_back(from / name, to / newName);
        Json copy;
        for (const char* key : {"error", "httpStatus", "ok", "ref", ReportBody::kBodyBytes})
            copy.set(key, item.get(key));
        results.push(copy.set(ReportBody::kBodyFile, Json(newName)));
    }
    if (error.empty()) {
        Json entry = entryJson(*job);
        entry.set("results", std::move(results)).set("reason", Json(reason));
        error = setAside_.add(entry.dump());
    }
    if (error.empty()) {
        remove(id);
        return "";
    }
    for (const auto& [old, now] : moved) {
        std::error_code ec;
        std::filesystem::rename(now, old, ec);
    }
    return error;
}

bool KeptResults::load(const Pairing& current) {
    std::string text, error;
    switch (readWholeFile(file_, text, error)) {
        case ReadOutcome::Missing:
            return false;
        case ReadOutcome::Failed:
            damaged(error);
            return false;
        case ReadOutcome::Read:
            break;
    }
    Json root;
    try {
        root = Json::parse(text);
    } catch (const JsonError& e) {
        damaged(e.what());
        return false;
    }
    text = std::string();  // the parsed copy is enough from here on
    const int version = root.get("version").intOr(0);
    if (version < 1 || version > kFormatVersion || !root.get("jobs").isArray()) {
        damaged("not a file of kept results");
        return false;
    }
    const std::int64_t now = secondsNow();
    for (const Json& entry : root.get("jobs").items()) {
        KeptJob job{"", "", Json(), "", current, 0, now, 0};
        if (!readEntry(entry, version, file_.parent_path() / kAnswersFolder, job)) {
            jobs_.clear();
            damaged("an entry is damaged");
            return false;
        }
        job.bytes = entry.dump().size() + answerBytes(job.results);
        jobs_.push_back(std::move(job));
    }
    return version == 1 && !jobs_.empty();
}

void KeptResults::save() {
    std::string error;
    if (jobs_.empty()) {
        std::error_code ec;
        std::filesystem::remove(file_, ec);
        if (ec) error = "Could not remove " + pathText(file_) + ": " + ec.message();
    } else {
        // Entry by entry, so that only one answer is held twice at a time.
        DurableFileWriter out(file_);
        out.write("{\"jobs\":[");
        for (std::size_t i = 0; i < jobs_.size(); ++i) {
            if (i > 0) out.write(",");
            const std::string text = entryJson(jobs_[i]).dump();
            jobs_[i].bytes = text.size() + answerBytes(jobs_[i].results);
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
    if (!saveFailing_) goneUnsaved_.clear();
}

}  // namespace tsl
