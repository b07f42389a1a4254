#include "sync/set_aside_file.h"

#include <cstdio>
#include <string_view>
#include <system_error>
#include <utility>

#include "support/durable_file.h"
#include "support/local_time.h"
#include "support/logger.h"
#include "sync/path_text.h"

namespace tsl {

namespace {

constexpr std::string_view kHead = "{\"jobs\":[";
constexpr std::string_view kTail = "],\"version\":2}";

std::string stampForFileName() {
    const LocalTime t = localTimeNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

}  // namespace

long countSetAsideEntries(const std::string& text) {
    const std::string_view all(text);
    if (all.size() < kHead.size() + kTail.size() || all.substr(0, kHead.size()) != kHead ||
        all.substr(all.size() - kTail.size()) != kTail) {
        return -1;
    }
    long count = 0;
    std::size_t depth = 0;
    bool inString = false, escaped = false;
    for (const char c : all) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (depth == 2 && c == '{') ++count;
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0) return -1;
            --depth;
        }
    }
    return depth == 0 && !inString ? count : -1;
}

void renameDamagedFile(const std::filesystem::path& file, const std::string& what,
                       const std::string& reason) {
    std::filesystem::path aside = file;
    aside += ".damaged-" + stampForFileName();
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(aside, ec) && n < 100; ++n) {
        aside = file;
        aside += ".damaged-" + stampForFileName() + "-" + std::to_string(n);
    }
    std::filesystem::rename(file, aside, ec);
    if (ec) {
        Logger::error(what + " " + pathText(file) + " cannot be used (" + reason +
                      ") nor set aside (" + ec.message() + ")");
        return;
    }
    Logger::error(what + " cannot be used (" + reason + "); it was set aside as " +
                  pathText(aside.filename()));
}

SetAsideFile::SetAsideFile(std::filesystem::path file) : file_(std::move(file)) {}

std::string SetAsideFile::add(const std::string& entry) {
    std::string old, error;
    switch (readWholeFile(file_, old, error)) {
        case ReadOutcome::Failed:
            return error;
        case ReadOutcome::Missing:
            old.clear();
            break;
        case ReadOutcome::Read:
            if (countSetAsideEntries(old) < 0) {
                renameDamagedFile(file_, "The file of results set aside",
                                  "not a file this program wrote");
                old.clear();
            }
            break;
    }
    DurableFileWriter out(file_);
    if (old.empty()) {
        out.write(kHead);
    } else {
        out.write(std::string_view(old).substr(0, old.size() - kTail.size()));
        // An empty list ends in "[" right before the tail.
        if (old.size() > kHead.size() + kTail.size()) out.write(",");
    }
    out.write(entry);
    out.write(kTail);
    if (!out.commit()) return out.error();
    countedSize_ = 0;  // counted again on the next call
    return "";
}

std::size_t SetAsideFile::count() {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file_, ec);
    if (ec) {
        countedSize_ = 0;
        count_ = 0;
        return 0;
    }
    if (size == countedSize_) return count_;
    std::string text, error;
    const long counted =
        readWholeFile(file_, text, error) == ReadOutcome::Read ? countSetAsideEntries(text) : -1;
    // A file of another shape is renamed by the next add; until then nothing in it counts.
    count_ = counted < 0 ? 0 : static_cast<std::size_t>(counted);
    countedSize_ = size;
    return count_;
}

}  // namespace tsl
