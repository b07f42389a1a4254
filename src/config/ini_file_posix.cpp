// A private-profile INI file written the way Windows writes one: CRLF lines, "[section]"
// headers, "key=value" entries, new sections appended, existing keys updated in place.
#include <strings.h>

#include <climits>
#include <fstream>
#include <vector>

#include "config/ini_file.h"
#include "support/durable_file.h"
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

// Sets key=value in the lines: in place when the section has the key, after the section's last
// entry when it has not, in a new section at the end when there is none.
void setEntry(std::vector<std::string>& lines, const IniEntry& e) {
    const SectionSpan span = findSection(lines, e.section);
    const std::string line = e.key + "=" + e.value;
    if (!span.found) {
        lines.push_back("[" + e.section + "]");
        lines.push_back(line);
        return;
    }
    std::string k, v;
    std::size_t insertAt = span.header + 1;
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (entry(lines[i], k, v) && sameName(k, e.key)) {
            lines[i] = line;
            return;
        }
        if (!trim(lines[i]).empty()) insertAt = i + 1;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
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

bool IniFile::write(const std::vector<IniEntry>& entries) {
    if (entries.empty()) return true;
    std::vector<std::string> lines = readLines(path_);
    for (const IniEntry& e : entries)
        setEntry(lines, e);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    // A reader (the next start, another copy) finds the old file or the whole new one, and the
    // new one is the user's alone: it holds the server address and the token.
    DurableFileWriter file(path_);
    return file.write(text) && file.commit();
}

}  // namespace tsl
