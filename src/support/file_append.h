#pragma once

#include <filesystem>
#include <string>

namespace tsl {

enum class AppendMode {
    Buffered,  // the system writes it out in its own time (the log)
    Flushed,   // on the disk before the call returns: survives a power cut
};

// Opens the file for appending (creating it, shared with other writers and readers), writes
// the bytes in one call and closes it. False when it could not be opened, written or flushed.
bool appendToFile(const std::filesystem::path& file, const std::string& bytes,
                  AppendMode mode = AppendMode::Buffered);

// Renames from over to, replacing an existing to. False on failure.
bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tsl
