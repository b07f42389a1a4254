#include "sync/pass_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include "support/posix_files.h"

namespace tsl {

struct PassLock::Handle {
    FileDescriptor fd;  // closing the last descriptor releases the lock
};

PassLock::PassLock(const std::filesystem::path& file) {
    FileDescriptor fd = openPrivateFile(file, O_RDWR);
    if (!fd.valid()) {
        taken_ = true;
        return;
    }
    // Each open file has its own flock, so a second claim in this process is refused too.
    taken_ = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
    handle_ = std::make_unique<Handle>(Handle{std::move(fd)});
}

PassLock::~PassLock() = default;

}  // namespace tsl
