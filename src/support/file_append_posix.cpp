#include "support/file_append.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/posix_files.h"

namespace tsl {

bool appendToFile(const std::filesystem::path& file, const std::string& bytes, AppendMode mode) {
    // O_APPEND makes each write land at the end as one piece, also with other processes. The
    // log tells what the user's PC did: a new file is theirs alone (0600).
    const FileDescriptor fd = openPrivateFile(file, O_WRONLY | O_APPEND);
    if (!fd.valid()) return false;
    ssize_t written;
    do {
        written = ::write(fd.get(), bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(bytes.size())) return false;
    return mode == AppendMode::Buffered || ::fsync(fd.get()) == 0;
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace tsl
