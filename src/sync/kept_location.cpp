#include "sync/kept_location.h"

#include <string>
#include <system_error>
#include <vector>

#include "support/logger.h"
#include "sync/path_text.h"

namespace tsl {

namespace {

bool isKeptFile(const std::filesystem::directory_entry& entry) {
    std::error_code ec;
    return entry.is_regular_file(ec) &&
           pathText(entry.path().filename()).rfind("kept-results", 0) == 0;
}

std::filesystem::path freeName(const std::filesystem::path& wanted) {
    std::error_code ec;
    if (!std::filesystem::exists(wanted, ec)) return wanted;
    std::filesystem::path candidate = wanted;
    candidate += ".earlier";
    for (int n = 2; std::filesystem::exists(candidate, ec); ++n) {
        candidate = wanted;
        candidate += ".earlier-" + std::to_string(n);
    }
    return candidate;
}

// A rename, or a copy and a removal when the folders lie on different drives.
bool moveFile(const std::filesystem::path& from, const std::filesystem::path& to,
              std::error_code& ec) {
    std::filesystem::rename(from, to, ec);
    if (!ec) return true;
    ec.clear();
    if (!std::filesystem::copy_file(from, to, ec)) return false;
    std::filesystem::remove(from, ec);
    return !ec;
}

}  // namespace

void moveKeptFiles(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    if (from.empty() || to.empty() || std::filesystem::equivalent(from, to, ec)) return;
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(from, ec)) {
        if (isKeptFile(entry)) found.push_back(entry.path());
    }
    int moved = 0;
    for (const std::filesystem::path& file : found) {
        const std::filesystem::path target = freeName(to / file.filename());
        if (!moveFile(file, target, ec)) {
            Logger::error("Could not move " + pathText(file) + " to " + pathText(to) + ": " +
                          ec.message());
            continue;
        }
        ++moved;
        if (target.filename() != file.filename()) {
            Logger::warn("Kept results " + pathText(file.filename()) + " from " + pathText(from) +
                         " were moved beside newer ones as " + pathText(target.filename()));
        }
    }
    if (moved > 0) {
        Logger::info("Moved " + std::to_string(moved) + " file(s) of kept results from " +
                     pathText(from) + " to " + pathText(to));
    }
}

}  // namespace tsl
