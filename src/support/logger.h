#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tsl {

// The process-wide log: lines "YYYY-MM-DD hh:mm:ss.mmm [LEVEL] text\r\n" in local time, the
// text with its control characters escaped (escapeControls), so one call is always one line,
// appended to connector.log (one open/append/close per line, so other processes may append
// too), rotated to connector.1.log once the file is larger than 5 MiB, and echoed to stdout in
// the console modes. Before start() nothing is written anywhere. Safe from any thread; never
// fails towards the caller (lines that cannot be written are dropped).
class Logger {
  public:
    // Log into <local app data>/Tessaline/Tally Connector/logs, creating the folders.
    static void start(bool echoToConsole);
    // Log into the given folder (created if missing); used by tests and by start().
    static void startIn(const std::filesystem::path& folder, bool echoToConsole);
    // Back to the state before start(): nothing is written. For tests.
    static void reset();

    static void info(const std::string& text);
    static void warn(const std::string& text);
    static void error(const std::string& text);

    // The log folder, empty before start().
    static std::filesystem::path folder();

    static constexpr char kFileName[] = "connector.log";  // in folder()
    // Rotation threshold: a file larger than this is renamed before the next line.
    static constexpr std::uintmax_t kRotateBytes = 5u * 1024u * 1024u;
};

}  // namespace tsl
