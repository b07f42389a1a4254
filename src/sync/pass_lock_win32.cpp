#include <windows.h>

#include "support/win32_handles.h"
#include "sync/pass_lock.h"

namespace tsl {

struct PassLock::Handle {
    explicit Handle(HANDLE file) : file(file) {}
    ~Handle() {
        // Released explicitly: the release that closing implies may come later.
        if (!locked) return;
        OVERLAPPED at{};
        UnlockFileEx(file.get(), 0, 1, 0, &at);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    KernelHandle file;
    bool locked = false;
};

PassLock::PassLock(const std::filesystem::path& file) {
    const HANDLE raw = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        taken_ = true;
        return;
    }
    handle_ = std::make_unique<Handle>(raw);
    // A lock belongs to the handle, so a second claim in this process is refused too.
    OVERLAPPED at{};
    handle_->locked =
        LockFileEx(raw, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
    taken_ = handle_->locked;
}

PassLock::~PassLock() = default;

}  // namespace tsl
