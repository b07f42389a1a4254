#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "diag/field_check.h"

namespace tsl {

class Config;

inline constexpr std::size_t kReportLogLines = 500;

// A text file for a support desk: the version and the system, the check's lines, the settings
// (never the token nor its protected form) and the last kReportLogLines lines of the log.
// Written into the log folder as diagnostics-YYYYMMDD-hhmmss.txt (local time); returns its path,
// or an empty path with `error` saying why it could not be written.
std::filesystem::path saveDiagnosticsReport(const Config& config,
                                            const std::vector<CheckLine>& lines,
                                            std::string& error);

}  // namespace tsl
