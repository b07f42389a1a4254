#include <windows.h>

#include <vector>

#include "config/ini_file.h"
#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

namespace {

// The profile functions write a new file in the ANSI code page, which turns every character
// outside it (an organisation named in Devanagari, say) into "?" for good. A file that starts
// with a UTF-16LE byte-order mark is kept in UTF-16 by them, so a missing file is created as
// just that mark before the first write. CREATE_NEW leaves an existing file alone.
void createAsUnicode(const std::filesystem::path& path) {
    const HANDLE raw = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return;
    const KernelHandle file(raw);
    const unsigned char mark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file.get(), mark, sizeof(mark), &written, nullptr);
}

}  // namespace

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    std::vector<wchar_t> buffer(kMaxValueChars + 1, L'\0');
    const DWORD length = GetPrivateProfileStringW(fromUtf8(section).c_str(), fromUtf8(key).c_str(),
                                                  fromUtf8(def).c_str(), buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), path_.c_str());
    return toUtf8(std::wstring(buffer.data(), length));
}

int IniFile::readInt(const std::string& section, const std::string& key, int def) const {
    return static_cast<int>(GetPrivateProfileIntW(fromUtf8(section).c_str(), fromUtf8(key).c_str(),
                                                  def, path_.c_str()));
}

bool IniFile::write(const std::vector<IniEntry>& entries) {
    if (entries.empty()) return true;
    createAsUnicode(path_);
    bool written = true;
    for (const IniEntry& e : entries)
        written = WritePrivateProfileStringW(fromUtf8(e.section).c_str(), fromUtf8(e.key).c_str(),
                                             fromUtf8(e.value).c_str(), path_.c_str()) != 0 &&
                  written;
    return written;
}

}  // namespace tsl
