#include <windows.h>

#include "support/file_append.h"

#include <climits>

#include "support/win32_handles.h"

namespace tsl {

namespace {

// Writers of the log (the tray program and a console run next to it) take this byte-range lock
// around each append. It lies far beyond any real log data, so it never blocks a reader; it
// only serialises appenders. Append access alone is not enough: under Wine two processes
// appending at once overwrite each other's lines.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

class AppendLock {
  public:
    explicit AppendLock(HANDLE file) : file_(file) {
        at_.Offset = kLockOffsetLow;
        at_.OffsetHigh = kLockOffsetHigh;
        locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != 0;
    }
    ~AppendLock() {
        if (locked_) UnlockFileEx(file_, 0, 1, 0, &at_);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

  private:
    HANDLE file_;
    OVERLAPPED at_{};
    bool locked_ = false;
};

}  // namespace

bool appendToFile(const std::filesystem::path& file, const std::string& bytes, AppendMode mode) {
    if (bytes.size() > UINT_MAX) return false;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every WriteFile lands at the end of the file.
    // FILE_READ_DATA is there because byte-range locks need read or write-data access.
    const HANDLE raw = CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return false;
    const KernelHandle handle(raw);
    const AppendLock lock(handle.get());
    DWORD written = 0;
    const BOOL ok =
        WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (!ok || written != bytes.size()) return false;
    return mode == AppendMode::Buffered || FlushFileBuffers(handle.get());
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tsl
