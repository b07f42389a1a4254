#pragma once

#include <filesystem>
#include <string>

namespace tsl {

// Opens the file for appending (creating it, shared with other writers and readers), writes
// the bytes in one call and closes it. False when it could not be opened or written.
bool appendToFile(const std::filesystem::path& file, const std::string& bytes);

// Renames from over to, replacing an existing to. False on failure.
bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tsl
