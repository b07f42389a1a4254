#include <windows.h>

#include "support/file_append.h"

#include <climits>

namespace tsl {

bool appendToFile(const std::filesystem::path& file, const std::string& bytes) {
    if (bytes.size() > UINT_MAX) return false;
    // FILE_APPEND_DATA alone: every WriteFile lands at the end of the file as one piece.
    const HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tsl
