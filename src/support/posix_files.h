#pragma once

#include <cstddef>
#include <filesystem>

// Linux only: files that are their user's alone, whatever the umask. The umask can only take
// bits away, and a tight one (0277, say) would leave a file its owner cannot write again, so a
// file created here gets mode 0600 exactly; a file that already existed keeps its mode.
namespace tsl {

// An open descriptor, closed exactly once.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool close();  // false when close(2) reported an error (a write that did not reach the file)

  private:
    int fd_ = -1;
};

// open(2) with the flags (O_CLOEXEC added); a missing file is created with mode 0600. Invalid,
// with errno set, on failure.
FileDescriptor openPrivateFile(const std::filesystem::path& file, int flags);

// A new, empty file open for writing, mode 0600, for a temporary name: whatever had that name
// (a leftover of a crash) is removed first, and O_EXCL makes sure the file is the one created
// here, never one planted in its place. Invalid, with errno set, on failure.
FileDescriptor createPrivateFile(const std::filesystem::path& file);

// Writes all the bytes, resuming after interruptions. False on failure (errno set).
bool writeAll(int fd, const char* bytes, std::size_t size);

}  // namespace tsl
