#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/durable_file.h"
#include "tally/answer_encoder.h"

namespace tsl {

// One Tally answer written to its own file in the answers folder as the encoder makes it (the
// answer's JSON string text, quotes included), so that no answer needs to be held in memory.
// Until commit() the bytes are in a temporary file beside it, which is removed again when the
// object goes without a commit (a failed exchange): a file of that name is always whole.
// write() throws std::runtime_error with the failure's sentence when the disk refuses it.
class AnswerFile : public AnswerSink {
  public:
    AnswerFile(std::filesystem::path folder, std::string name);

    void write(std::string_view text) override;
    void restart(const std::function<void(std::string_view)>& replay) override;
    // Everything on the disk under its name; false (see error()) when it could not be.
    bool commit();

    const std::string& name() const { return name_; }
    std::uint64_t bytes() const { return bytes_; }  // written since the start or last restart
    const std::string& error() const { return writer_->error(); }

  private:
    void flush();

    std::filesystem::path folder_;
    std::string name_;
    std::unique_ptr<DurableFileWriter> writer_;
    std::string buffer_;
    std::uint64_t bytes_ = 0;
};

// A name for a new answer file in folder: one more than the highest number in use there (a
// leftover temporary file's too). Names are never made from what the server or Tally sent.
std::string newAnswerFileName(const std::filesystem::path& folder);

}  // namespace tsl
