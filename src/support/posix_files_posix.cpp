#include "support/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tsl {

namespace {

constexpr mode_t kPrivateFile = 0600;

// The mode is set on the descriptor, so it is the file this call created that gets it.
FileDescriptor madePrivate(int fd) {
    FileDescriptor owned(fd);
    if (owned.valid() && ::fchmod(fd, kPrivateFile) != 0) {
        const int error = errno;
        owned.close();
        errno = error;
        return FileDescriptor();
    }
    return owned;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool FileDescriptor::close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
}

FileDescriptor openPrivateFile(const std::filesystem::path& file, int flags) {
    flags = (flags & ~(O_CREAT | O_EXCL)) | O_CLOEXEC;
    // Created here, or opened as it is; a file removed between the two tries is created again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int created = ::open(file.c_str(), flags | O_CREAT | O_EXCL, kPrivateFile);
        if (created >= 0) return madePrivate(created);
        if (errno != EEXIST) return FileDescriptor();
        const int existing = ::open(file.c_str(), flags);
        if (existing >= 0 || errno != ENOENT) return FileDescriptor(existing);
    }
    return FileDescriptor();
}

FileDescriptor createPrivateFile(const std::filesystem::path& file) {
    ::unlink(file.c_str());
    return madePrivate(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile));
}

bool writeAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace tsl
