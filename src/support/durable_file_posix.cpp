#include "support/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/system_error.h"

namespace tsl {

namespace {

// An open descriptor, closed exactly once.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool close() {
        if (fd_ < 0) return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

  private:
    int fd_;
};

std::string failure(const std::string& step, const std::filesystem::path& file) {
    return step + " " + file.string() + ": " + systemErrorText(static_cast<std::uint32_t>(errno));
}

}  // namespace

struct DurableFileWriter::Handle {
    explicit Handle(int descriptor) : fd(descriptor) {}
    Descriptor fd;
};

DurableFileWriter::DurableFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    temporary_ = target_;
    temporary_ += ".tmp-" + std::to_string(::getpid());
    // The results of a user's jobs are theirs alone.
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = failure("Could not create", temporary_);
        return;
    }
    handle_ = std::make_unique<Handle>(fd);
}

DurableFileWriter::~DurableFileWriter() {
    if (!handle_) return;
    handle_.reset();
    ::unlink(temporary_.c_str());
}

bool DurableFileWriter::write(std::string_view bytes) {
    if (!handle_ || !error_.empty()) return false;
    while (!bytes.empty()) {
        const ssize_t written = ::write(handle_->fd.get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = failure("Could not write", temporary_);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool DurableFileWriter::commit() {
    if (!handle_ || !error_.empty()) return false;
    if (::fsync(handle_->fd.get()) != 0 || !handle_->fd.close()) {
        error_ = failure("Could not write", temporary_);
        return false;
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error_ = failure("Could not replace", target_);
        return false;
    }
    handle_.reset();
    // The rename itself lives in the folder: it reaches the disk with the folder's entry.
    Descriptor folder(::open(target_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
    return true;
}

ReadOutcome readWholeFile(const std::filesystem::path& file, std::string& bytes,
                          std::string& error) {
    bytes.clear();
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) return ReadOutcome::Missing;
        error = failure("Could not open", file);
        return ReadOutcome::Failed;
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = failure("Could not read", file);  // a folder fails here (EISDIR)
            return ReadOutcome::Failed;
        }
        if (got == 0) return ReadOutcome::Read;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace tsl
