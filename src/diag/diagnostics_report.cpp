#include "diag/diagnostics_report.h"

#include <cstdio>

#include "config/config.h"
#include "support/durable_file.h"
#include "support/local_time.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "support/version.h"

namespace tsl {

namespace {

constexpr char kEnd[] = "\r\n";

// The last `count` lines of the log, each ending in CRLF; what the file does not hold is left out.
std::string lastLines(const std::filesystem::path& file, std::size_t count) {
    std::string text, error;
    if (readWholeFile(file, text, error) != ReadOutcome::Read) return {};
    std::size_t start = text.size();
    for (std::size_t found = 0; start > 0; --start) {
        if (text[start - 1] == '\n' && start != text.size() && ++found == count) break;
    }
    std::string out;
    for (std::size_t at = start; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out += escapeControls(line) + kEnd;
        at = end + 1;
    }
    return out;
}

}  // namespace

std::filesystem::path saveDiagnosticsReport(const Config& config,
                                            const std::vector<CheckLine>& lines,
                                            std::string& error) {
    const LocalTime now = localTimeNow();
    char name[64];
    std::snprintf(name, sizeof(name), "diagnostics-%04u%02u%02u-%02u%02u%02u.txt", now.year,
                  now.month, now.day, now.hour, now.minute, now.second);
    const std::filesystem::path folder = Logger::folder();
    if (folder.empty()) {
        error = "the log folder is not known";
        return {};
    }
    const Settings s = config.settings();
    std::string text = std::string(kDisplayName) + " " + kVersion + ", diagnostics report of " +
                       formatLogStamp(now) + kEnd + "System: " + operatingSystem() + kEnd + kEnd;
    for (const CheckLine& line : lines)
        text += formatCheckLine(line) + kEnd;
    text += std::string(kEnd) + "Settings (the token is never shown):" + kEnd;
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"server", s.serverUrl},
                                     {"organisation", s.organisation},
                                     {"company", s.company},
                                     {"tally host", s.tallyHost},
                                     {"tally port", std::to_string(s.tallyPort)},
                                     {"token", s.token.empty() ? "none" : "stored"}}) {
        text += std::string("  ") + key + ": " + escapeControls(value) + kEnd;
    }
    text += std::string(kEnd) + "The last " + std::to_string(kReportLogLines) + " lines of " +
            Logger::kFileName + ":" + kEnd + lastLines(folder / Logger::kFileName, kReportLogLines);

    const std::filesystem::path file = folder / name;
    DurableFileWriter out(file);
    out.write(text);
    if (!out.commit()) {
        error = out.error();
        return {};
    }
    return file;
}

}  // namespace tsl
