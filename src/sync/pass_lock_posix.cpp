#include "sync/pass_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tsl {

struct PassLock::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    ~Handle() { ::close(fd); }  // closing the last descriptor releases the lock
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    int fd;
};

PassLock::PassLock(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        taken_ = true;
        return;
    }
    handle_ = std::make_unique<Handle>(fd);
    // Each open file has its own flock, so a second claim in this process is refused too.
    taken_ = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

PassLock::~PassLock() = default;

}  // namespace tsl
