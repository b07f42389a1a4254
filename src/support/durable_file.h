#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tsl {

// Replaces a file so that whoever opens it (this program at its next start, after a crash or a
// power cut) finds the old content or the whole new one, never a part: the bytes go to a
// temporary file beside it, reach the disk, and one rename puts them in place. The temporary
// file is removed again unless commit() succeeded. Move-only; errors are texts, never thrown.
class DurableFileWriter {
  public:
    explicit DurableFileWriter(std::filesystem::path target);
    ~DurableFileWriter();
    DurableFileWriter(const DurableFileWriter&) = delete;
    DurableFileWriter& operator=(const DurableFileWriter&) = delete;

    bool write(std::string_view bytes);  // false once anything failed
    bool commit();                       // flush to disk, close, rename over the target
    // "" or the failed step + ": " + the system's error text.
    const std::string& error() const { return error_; }

  private:
    struct Handle;  // the platform's open file
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::unique_ptr<Handle> handle_;
    std::string error_;
};

enum class ReadOutcome { Read, Missing, Failed };

// The whole file into bytes. Missing when nothing of that name exists; Failed (with the reason in
// error) when something exists but cannot be read as a file, e.g. a folder or a locked file.
ReadOutcome readWholeFile(const std::filesystem::path& file, std::string& bytes,
                          std::string& error);

}  // namespace tsl
