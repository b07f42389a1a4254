#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <string>

#include "json/json.h"

namespace tsl {

// One job that ran in Tally but whose answers Tessaline has not taken yet.
struct KeptJob {
    std::string id;
    std::string kind;
    Json results;           // the report's "results" array, exactly as it is sent
    std::string error;      // the job-level error, "" = none
    std::size_t bytes = 0;  // its size in the file; filled in by KeptResults
};

struct KeptLimits {
    std::size_t jobs = 100;
    std::size_t bytes = std::size_t{256} << 20;  // as written in the file
};

// The results kept until Tessaline accepts them, in memory and in a file beside connector.ini,
// so that neither a lost connection nor a restart makes a job run in Tally twice. The file holds
// job ids, kinds and answers only (no token, no job XML); every change rewrites it whole through
// a temporary file. A damaged or unreadable file is renamed aside and logged, never fatal.
// Bounded: beyond 100 jobs or 256 MB the oldest are dropped with an ERROR line.
// Used by one thread at a time.
class KeptResults {
  public:
    static constexpr const char* kFileName = "kept-results.json";

    // Loads the file if there is one (the limits apply from the next keep).
    explicit KeptResults(std::filesystem::path file, KeptLimits limits = {});

    std::size_t size() const { return jobs_.size(); }
    const KeptJob* find(const std::string& id) const;  // nullptr when not kept
    const KeptJob& oldest() const { return jobs_.front(); }

    // Keeps a job (replacing one of the same id), applies the bounds (never to this newest
    // job) and saves. The job stays kept in memory even when the file cannot be written.
    void keep(KeptJob job);
    void remove(const std::string& id);  // and saves; nothing when not kept

    const std::filesystem::path& file() const { return file_; }

  private:
    void load();
    void setAside(const std::string& reason);
    void save();

    std::filesystem::path file_;
    KeptLimits limits_;
    std::deque<KeptJob> jobs_;  // oldest first
    bool saveFailing_ = false;
};

}  // namespace tsl
