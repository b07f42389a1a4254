#include <windows.h>

#include "net/platform_quirks.h"

namespace tsl::testing {

bool platformMissesCutChunkedBodies() {
    // Wine's ntdll exports wine_get_version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool systemProxyFollowsHttpProxyVariable() {
    return false;
}

}  // namespace tsl::testing
