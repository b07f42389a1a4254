#include "support/logger.h"

#include <cstdio>
#include <mutex>
#include <system_error>

#include "support/app_folder.h"
#include "support/file_append.h"
#include "support/local_time.h"
#include "support/text.h"

namespace tsl {

namespace {

// The one log of the process. Lines are rare (a handful per sync pass), so every line opens,
// appends and closes: the file may be read, copied or deleted at any time.
struct LogState {
    std::mutex mutex;
    bool echo = false;
    std::filesystem::path folder;
    std::filesystem::path file;
};

LogState& state() {
    static LogState instance;
    return instance;
}

void writeLine(const char* level, const std::string& text) {
    // The stamp is taken before the lock, so lines of two threads may be a few ms out of order.
    // Texts carry what peers sent; escaped, none of them can end a line early, forge another
    // line or reach the console as a terminal command.
    const std::string escaped = escapeControls(text);
    std::string line = formatLogStamp(localTimeNow());
    line.reserve(line.size() + escaped.size() + 12);
    line += " [";
    line += level;
    line += "] ";
    line += escaped;
    line += "\r\n";

    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.echo) {
        // The console gets "\n": on Windows stdout is in text mode and adds the "\r" itself,
        // so writing the file's "\r\n" there would end lines in "\r\r\n".
        std::fwrite(line.data(), 1, line.size() - 2, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (s.file.empty()) return;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(s.file, ec);
    if (!ec && size > Logger::kRotateBytes) {
        renameReplacing(s.file, s.folder / "connector.1.log");
    }
    appendToFile(s.file, line);
}

}  // namespace

void Logger::start(bool echoToConsole) {
    startIn(ensureAppFolder(localAppDataFolder()) / "logs", echoToConsole);
}

void Logger::startIn(const std::filesystem::path& folder, bool echoToConsole) {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.echo = echoToConsole;
    s.folder = folder;
    createPrivateFolder(folder);
    s.file = folder / kFileName;
}

void Logger::reset() {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.echo = false;
    s.folder.clear();
    s.file.clear();
}

void Logger::info(const std::string& text) {
    writeLine("INFO", text);
}
void Logger::warn(const std::string& text) {
    writeLine("WARN", text);
}
void Logger::error(const std::string& text) {
    writeLine("ERROR", text);
}

std::filesystem::path Logger::folder() {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.folder;
}

}  // namespace tsl
