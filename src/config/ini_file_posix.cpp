// A private-profile INI file written the way Windows writes one: CRLF lines, "[section]"
// headers, "key=value" entries, new sections appended, existing keys updated in place.
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "config/ini_file.h"
#include "support/posix_files.h"
#include "support/text.h"

namespace tsl {

namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    // Editors may put a UTF-8 mark in front; it would hide the first section's header.
    if (!lines.empty() && lines.front().rfind("\xEF\xBB\xBF", 0) == 0) lines.front().erase(0, 3);
    return lines;
}

// "[name]" gives name; anything else gives false.
bool sectionName(const std::string& line, std::string& name) {
    const std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = trim(t.substr(1, close - 1));
    return true;
}

// "key = value" gives both, trimmed; lines without "=" give false.
bool entry(const std::string& line, std::string& key, std::string& value) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return !key.empty();
}

// Where a section's lines are: [first, end) after its header; found false when absent.
struct SectionSpan {
    bool found = false;
    std::size_t header = 0, end = 0;
};

SectionSpan findSection(const std::vector<std::string>& lines, const std::string& section) {
    SectionSpan span;
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!sectionName(lines[i], name)) continue;
        if (span.found) {
            span.end = i;
            return span;
        }
        if (sameName(name, section)) {
            span.found = true;
            span.header = i;
        }
    }
    span.end = lines.size();
    return span;
}

// Cuts the value to what a buffer of 8192 UTF-16 units holds, on a character boundary.
std::string cutValue(const std::string& value) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        const std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const std::size_t need = len == 4 ? 2 : 1;
        if (units + need > IniFile::kMaxValueChars) return value.substr(0, i);
        units += need;
        i += len;
    }
    return value;
}

std::string unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool findValue(const std::filesystem::path& path, const std::string& section,
               const std::string& key, std::string& value) {
    const std::vector<std::string> lines = readLines(path);
    const SectionSpan span = findSection(lines, section);
    if (!span.found) return false;
    std::string k, v;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (entry(lines[i], k, v) && sameName(k, key)) {
            value = cutValue(unquote(v));
            return true;
        }
    }
    return false;
}

// An integer the way the Windows profile reader takes it: blanks, a sign, an optional "0x",
// "0o" or "0b" base prefix, then digits up to the first one that does not fit; no digits give
// 0. Beyond the 32-bit range the result saturates (Windows wraps around instead).
int profileInt(const std::string& value) {
    std::size_t i = 0;
    while (i < value.size() && static_cast<unsigned char>(value[i]) <= ' ')
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    int base = 10;
    if (i + 1 < value.size() && value[i] == '0') {
        const char prefix = value[i + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    long long n = 0;
    for (; i < value.size() && n <= INT_MAX; ++i) {
        const char c = value[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'z' ? c - 'a' + 10
                          : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                                 : base;
        if (digit >= base) break;
        n = n * base + digit;
    }
    if (negative) n = -n;
    return static_cast<int>(n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : n);
}

bool writeLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    // Written beside the file and renamed over it, so a reader never sees half a file. The
    // name is the writer's own (process and thread): a console run may save next to the tray.
    std::filesystem::path temp = path;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" +
            std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()));
    // The settings hold the server address and the token: the new file is the user's alone.
    FileDescriptor out = createPrivateFile(temp);
    if (!out.valid()) return false;
    if (!writeAll(out.get(), text.data(), text.size()) || !out.close()) {
        std::remove(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    std::string value;
    return findValue(path_, section, key, value) ? value : cutValue(def);
}

int IniFile::readInt(const std::string& section, const std::string& key, int def) const {
    std::string value;
    if (!findValue(path_, section, key, value) || value.empty()) return def;
    return profileInt(value);
}

bool IniFile::writeString(const std::string& section, const std::string& key,
                          const std::string& value) {
    std::vector<std::string> lines = readLines(path_);
    const SectionSpan span = findSection(lines, section);
    const std::string line = key + "=" + value;
    if (!span.found) {
        lines.push_back("[" + section + "]");
        lines.push_back(line);
        return writeLines(path_, lines);
    }
    std::string k, v;
    std::size_t insertAt = span.header + 1;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (entry(lines[i], k, v) && sameName(k, key)) {
            lines[i] = line;
            return writeLines(path_, lines);
        }
        if (!trim(lines[i]).empty()) insertAt = i + 1;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    return writeLines(path_, lines);
}

}  // namespace tsl
