#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tsl {

// One "key=value" line of a "[section]".
struct IniEntry {
    std::string section, key, value;
};

// The private-profile INI file of the settings. Windows: the system's profile functions, on a
// file created in UTF-16 so that every character survives.
// Elsewhere: a reader/writer with the same observable behaviour (section and key names
// matched without regard to case, values trimmed, values cut at 8191 characters, unknown
// lines kept, a missing section appended at the end, an existing key updated in place).
// Nothing here fails towards the caller.
class IniFile {
  public:
    explicit IniFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The value, or def when the key is missing.
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // The value read like atoi (0 for text without digits), or def when the key is missing.
    int readInt(const std::string& section, const std::string& key, int def) const;
    // Sets every entry, in order, creating the file, sections and keys as needed: elsewhere in
    // one replacement of the whole file (support/durable_file), on Windows by the profile
    // functions one key at a time. False when the file could not be written. Values are one line.
    bool write(const std::vector<IniEntry>& entries);

    static constexpr std::size_t kMaxValueChars = 8191;

  private:
    std::filesystem::path path_;
};

}  // namespace tsl
