#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "support/durable_file.h"
#include "tally/answer_encoder.h"

namespace tsl {

// One Tally answer as the encoder makes it (the answer's JSON string text, quotes included):
// held in memory while it stays within inlineBytes, and past that written to a file of its own
// in the folder (created when needed), so that no large answer is held in memory. A small
// answer thus costs no file, as before; a large one is in memory only a buffer at a time.
// Until commit() the file's bytes are in a temporary file beside it, which is removed again
// when the object goes without a commit (a failed exchange): a file of that name is always
// whole. write() throws std::runtime_error with the failure's sentence when the disk refuses it,
// and std::length_error when the answer would grow past maxBytes.
class AnswerFile : public AnswerSink {
  public:
    AnswerFile(std::filesystem::path folder, std::size_t inlineBytes,
               std::uint64_t maxBytes = UINT64_MAX);

    void write(std::string_view text) override;
    void restart(const std::function<void(std::string_view)>& replay) override;
    // A file's bytes all on the disk under its name; false (see error()) when they could not
    // be. Nothing to do for an answer held in memory.
    bool commit();

    bool inFile() const { return writer_ != nullptr; }
    // The answer held in memory, decoded again (the escaping undone): the text of the answer.
    std::string takeText();
    const std::string& name() const { return name_; }  // "" while in memory
    std::uint64_t bytes() const { return bytes_; }     // written since the start or restart
    const std::string& error() const { return error_; }

  private:
    void spill();  // from memory into a new file
    void flush();

    std::filesystem::path folder_;
    std::size_t inlineBytes_;
    std::uint64_t maxBytes_;
    std::string name_;
    std::unique_ptr<DurableFileWriter> writer_;
    std::string buffer_;
    std::uint64_t bytes_ = 0;
    std::string error_;
};

// A name for a new answer file in folder: one more than the highest number in use there (a
// leftover temporary file's too). Names are never made from what the server or Tally sent.
std::string newAnswerFileName(const std::filesystem::path& folder);

}  // namespace tsl
