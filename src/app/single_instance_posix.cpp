#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string>

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
    if (::flock(claim_->fd.get(), LOCK_EX | LOCK_NB) != 0) {
        anotherIsRunning_ = true;
        return;
    }
    // Our process id, for a console run that has to tell us about new settings.
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(claim_->fd.get(), 0) == 0) writeAll(claim_->fd.get(), pid.data(), pid.size());
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::tellRunningCopySettingsChanged() {
    const FileDescriptor fd = openPrivateFile(lockFile(), O_RDONLY);
    if (!fd.valid()) return;
    // A lock we can share is one nobody holds: no copy runs, and the number inside is stale.
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return;
    char text[32] = {};
    const ssize_t size = ::pread(fd.get(), text, sizeof text - 1, 0);
    int pid = 0;
    if (size <= 0 || std::from_chars(text, text + size, pid).ec != std::errc() || pid <= 1) return;
    ::kill(pid, SIGUSR1);
}

}  // namespace tsl
