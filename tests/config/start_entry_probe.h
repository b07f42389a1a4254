#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tsl::testing {

// Points the start-at-logon entry at a scratch place while the result lives (Linux:
// XDG_CONFIG_HOME into the folder; Windows: the real per-user Run key of the Wine prefix, whose
// earlier value is put back afterwards).
std::shared_ptr<void> sandboxStartEntry(const std::filesystem::path& folder);

// The entry as stored, "" when there is none (Linux: the desktop entry's text; Windows: the
// Run value's text, or "(malformed)" unless it is a REG_SZ whose size counts one zero).
std::string storedStartEntry();
// What the entry must be for the running test program.
std::string expectedStartEntry();
// An entry of that name left by another copy of the program, at another path.
void plantForeignStartEntry();

}  // namespace tsl::testing
