#include "support/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>

#include "support/posix_files.h"
#include "support/system_error.h"

namespace tsl {

namespace {

std::string failure(const std::string& step, const std::filesystem::path& file) {
    return step + " " + file.string() + ": " + systemErrorText(static_cast<std::uint32_t>(errno));
}

}  // namespace

struct DurableFileWriter::Handle {
    explicit Handle(FileDescriptor descriptor) : fd(std::move(descriptor)) {}
    FileDescriptor fd;
};

DurableFileWriter::DurableFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    temporary_ = target_;
    // The name is the writer's own (process and thread): two threads, or a console run beside
    // the tray, may replace the same file at once.
    temporary_ += ".tmp-" + std::to_string(::getpid()) + "-" +
                  std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
    // The results of a user's jobs are theirs alone: 0600, whatever the umask.
    FileDescriptor fd = createPrivateFile(temporary_);
    if (!fd.valid()) {
        error_ = failure("Could not create", temporary_);
        return;
    }
    handle_ = std::make_unique<Handle>(std::move(fd));
}

DurableFileWriter::~DurableFileWriter() {
    if (!handle_) return;
    handle_.reset();
    ::unlink(temporary_.c_str());
}

bool DurableFileWriter::write(std::string_view bytes) {
    if (!handle_ || !error_.empty()) return false;
    if (!writeAll(handle_->fd.get(), bytes.data(), bytes.size())) {
        error_ = failure("Could not write", temporary_);
        return false;
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
    FileDescriptor folder(
        ::open(target_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
    return true;
}

ReadOutcome readWholeFile(const std::filesystem::path& file, std::string& bytes,
                          std::string& error) {
    bytes.clear();
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
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
