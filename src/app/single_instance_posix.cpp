#include <fcntl.h>
#include <sys/file.h>

#include <cstdlib>
#include <filesystem>

#include "app/single_instance.h"
#include "support/app_folder.h"
#include "support/posix_files.h"

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
    FileDescriptor fd;  // closing releases the lock
};

SingleInstance::SingleInstance() : claim_(std::make_unique<Claim>()) {
    claim_->fd = openPrivateFile(lockFile(), O_RDWR);
    // Without a lock file the run goes on as the first instance, like a failed mutex.
    if (!claim_->fd.valid()) return;
    if (::flock(claim_->fd.get(), LOCK_EX | LOCK_NB) != 0) anotherIsRunning_ = true;
}

SingleInstance::~SingleInstance() = default;

}  // namespace tsl
