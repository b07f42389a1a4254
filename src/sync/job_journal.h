#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "api/api_records.h"
#include "sync/kept_results.h"

namespace tsl {

// The job being run in Tally, written down as it goes: which request is about to be sent and
// each answer as it arrives, every line on the disk before the next request goes out. A
// process that ends in the middle of a job (log-off, power cut, killed) thus loses no answer,
// and at its next start recover() turns what it wrote into a kept job: the answers as they
// came, the request that was on its way reported as perhaps carried out, the rest as not sent.
// Nothing is sent twice to Tally. The file holds no job XML and no token. One JSON value per
// line; a last line cut short by the end of the process is ignored. Used by one thread at a
// time, under the sync lock.
class JobJournal {
  public:
    static constexpr const char* kFileName = "job-in-progress.jsonl";

    explicit JobJournal(std::filesystem::path file) : file_(std::move(file)) {}

    // Starts the journal of a job (replacing any earlier one); false when it cannot be
    // written, in which case the job is run all the same, as before journals existed.
    bool begin(const Job& job, const Pairing& pairing, std::int64_t keptAt);
    void sending(std::size_t index);
    // Writes the answer down; the result is given back as it was (its body is lent, not copied).
    // A result whose body is in an answer file is written down by the file's name: the file
    // must be committed first.
    void answered(std::size_t index, JobResult& result);
    void finish();  // the job is kept whole elsewhere: the journal goes

    // A journal left by a process that ended during a job, as the job to keep and report;
    // nothing when there is none or when it cannot be read (then it is renamed aside). The
    // file is removed once read.
    std::optional<KeptJob> recover();

    static constexpr const char* kStoppedInFlight =
        "The connector ended before Tally answered; Tally may have carried out this request";
    static constexpr const char* kNotSent = "Not sent to Tally: the connector ended";

  private:
    bool append(const Json& line);

    std::filesystem::path file_;
    bool writing_ = false;
};

}  // namespace tsl
