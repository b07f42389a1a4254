#include <windows.h>

#include <vector>

#include "config/ini_file.h"
#include "support/text.h"

namespace tsl {

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

bool IniFile::writeString(const std::string& section, const std::string& key,
                          const std::string& value) {
    return WritePrivateProfileStringW(fromUtf8(section).c_str(), fromUtf8(key).c_str(),
                                      fromUtf8(value).c_str(), path_.c_str()) != 0;
}

}  // namespace tsl
