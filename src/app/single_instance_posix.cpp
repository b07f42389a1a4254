#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/single_instance.h"
#include "support/app_folder.h"

namespace tsl {

namespace {

std::filesystem::path lockFile() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        return std::filesystem::path(runtime) / "tessaline-tally-connector.lock";
    }
    return ensureAppFolder(roamingAppDataFolder()) / "connector.lock";
}

}  // namespace

struct SingleInstance::Claim {
    int fd = -1;
    ~Claim() {
        if (fd >= 0) ::close(fd);  // closing releases the lock
    }
};

SingleInstance::SingleInstance() : claim_(std::make_unique<Claim>()) {
    claim_->fd = ::open(lockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    // Without a lock file the run goes on as the first instance, like a failed mutex.
    if (claim_->fd < 0) return;
    if (::flock(claim_->fd, LOCK_EX | LOCK_NB) != 0) anotherIsRunning_ = true;
}

SingleInstance::~SingleInstance() = default;

}  // namespace tsl
