#pragma once

#include <filesystem>
#include <memory>

namespace tsl {

// A claim on a lock file that every process of this user shares: at most one holder at a
// time, across processes and within one. Taken without waiting; released by the destructor,
// and by the system when the process ends however it ends (Linux: flock on the open file;
// Windows: LockFileEx on its first byte). A lock file that cannot be opened at all (a folder
// that cannot be written) counts as taken: syncing goes on as it would without the lock rather
// than never again. Neither copyable nor movable.
class PassLock {
  public:
    explicit PassLock(const std::filesystem::path& file);
    ~PassLock();
    PassLock(const PassLock&) = delete;
    PassLock& operator=(const PassLock&) = delete;

    bool taken() const { return taken_; }  // false: another holder has it

  private:
    struct Handle;  // the platform's open lock file
    std::unique_ptr<Handle> handle_;
    bool taken_ = false;
};

}  // namespace tsl
