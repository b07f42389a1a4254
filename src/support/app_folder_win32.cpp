#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>

#include "support/app_folder.h"

namespace tsl {

namespace {

struct CoTaskMemDeleter {
    void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

std::filesystem::path knownFolder(REFKNOWNFOLDERID id) {
    wchar_t* raw = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &raw);
    std::unique_ptr<wchar_t, CoTaskMemDeleter> text(raw);
    if (FAILED(hr) || !text) return std::filesystem::path();
    return std::filesystem::path(text.get());
}

}  // namespace

std::filesystem::path roamingAppDataFolder() {
    return knownFolder(FOLDERID_RoamingAppData);
}
std::filesystem::path localAppDataFolder() {
    return knownFolder(FOLDERID_LocalAppData);
}

bool createPrivateFolder(const std::filesystem::path& folder) {
    // No security attributes: the folder inherits the profile's ACL (the user, SYSTEM and
    // Administrators), which is what keeps other users out.
    return CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
}

}  // namespace tsl
