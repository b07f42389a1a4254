#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <set>
#include <string>

#include "json/json.h"
#include "sync/set_aside_file.h"

namespace tsl {

// Whom kept answers belong to: the server address (normalised) and the organisation of the
// pairing that ran the job. Never the token nor anything made from it.
struct Pairing {
    std::string server;
    std::string organisation;
    bool operator==(const Pairing&) const = default;
};

// One job that ran in Tally but whose answers Tessaline has not taken yet.
struct KeptJob {
    std::string id;
    std::string kind;
    // The report's "results" array as it is sent, except that an answer may be in a file of
    // the answers folder, named by its item (ReportBody's form).
    Json results;
    std::string error;  // the job-level error, "" = none
    Pairing pairing;
    std::uint32_t attempts = 0;  // reports that Tessaline answered without taking them
    std::int64_t keptAt = 0;     // seconds since 1970 (UTC) by this PC's clock
    std::size_t bytes = 0;       // its size in the file and its answer files; by KeptResults
};

struct KeptLimits {
    std::size_t jobs = 100;
    // As written in the file and the answer files: room for two of the largest jobs
    // (SyncEngine::kJobAnswerBytes).
    std::size_t bytes = std::size_t{4} << 30;
    // As written in the file alone, which is held in memory (answers too small for a file).
    std::size_t held = std::size_t{256} << 20;
};

// The results kept until Tessaline accepts them, in memory and in a file in the state folder,
// so that neither a lost connection nor a restart makes a job run in Tally twice. The file
// holds job ids, kinds, answers, the pairing, the failed attempts and when each was kept (no
// token, no job XML); every change rewrites it whole through a temporary file. Files of the
// first format (no pairing recorded) load too. A damaged or unreadable file is renamed aside
// and logged, never fatal; so is the answers folder beside it, whose files a kept job names
// (an answer file named but missing, cut short or not a JSON string makes the file damaged).
// Files of the first two formats, with every answer inline, load as they are. Bounded: beyond 100
// jobs, 256 MB in the file or 4 GB in all the oldest are dropped with an ERROR line. Entries
// Tessaline will not take are moved to the set-aside file beside it (kSetAsideFileName). Used by
// one thread at a time; another process may change the file between passes, so the engine reloads
// it at the start of each (under the sync lock).
class KeptResults {
  public:
    static constexpr const char* kFileName = "kept-results.json";
    static constexpr const char* kAnswersFolder = "answers";
    static constexpr const char* kSetAsideAnswersFolder = "set-aside-answers";

    // Reads nothing yet: see reload().
    explicit KeptResults(std::filesystem::path file, KeptLimits limits = {});

    // Replaces what is in memory by what the file holds now, but for changes that could not be
    // written to it. Entries of the first format are taken as belonging to `current` and kept
    // in the current format from here on.
    void reload(const Pairing& current);
    // Reads the file like reload() but changes no file: a damaged file stays where it is and
    // reads as empty. Returns "" or why the file could not be used.
    std::string look(const Pairing& current);

    std::size_t size() const { return jobs_.size(); }
    const KeptJob* find(const std::string& id) const;  // nullptr when not kept
    const KeptJob& oldest() const { return jobs_.front(); }

    // Keeps a job (replacing one of the same id), applies the bounds (never to this newest
    // job) and saves. The job stays kept in memory even when the file cannot be written.
    void keep(KeptJob job);
    void remove(const std::string& id);  // and saves; nothing when not kept
    // Counts one more report that Tessaline answered without taking it, and saves.
    void countFailedAttempt(const std::string& id);
    // Moves the job to the set-aside file with the reason; "" or why it could not be written
    // there (it then stays kept).
    std::string setAside(const std::string& id, const std::string& reason);
    std::size_t setAsideCount() { return setAside_.count(); }

    const std::filesystem::path& file() const { return file_; }
    // Where the answers of running and kept jobs are written, when large (AnswerFile).
    std::filesystem::path answers() const;
    // Removes the files of the answers folder that no kept job names: what a process left that
    // ended while it wrote an answer. Nothing after a reload that found the file damaged.
    void removeStrayAnswers();

  private:
    bool load(const Pairing& current);        // true when the file was of the first format
    void damaged(const std::string& reason);  // renames the file aside, unless only looking
    void save();
    void removeAnswers(const KeptJob& job);  // its answer files go

    std::filesystem::path file_;
    KeptLimits limits_;
    std::deque<KeptJob> jobs_;  // oldest first
    SetAsideFile setAside_;
    bool saveFailing_ = false;
    std::set<std::string> goneUnsaved_;  // ids removed since the file could last be written
    bool looking_ = false;
    bool damagedOnLoad_ = false;
    std::string damage_;  // why the file looked at could not be used
};

}  // namespace tsl
