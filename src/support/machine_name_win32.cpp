#include <windows.h>

#include "support/machine_name.h"

#include <string>

#include "support/text.h"

namespace tsl {

std::string machineName() {
    wchar_t name[16] = {};
    DWORD size = 16;
    if (!GetComputerNameW(name, &size) || size == 0) return "Unknown PC";
    return toUtf8(std::wstring(name, size));
}

std::string operatingSystem() {
    // GetVersionEx answers what the manifest declares; ntdll tells the version that runs.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<GetVersion>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!get || get(&info) != 0) return "Unknown system";
    return "Windows " + std::to_string(info.dwMajorVersion) + "." +
           std::to_string(info.dwMinorVersion) + " (build " + std::to_string(info.dwBuildNumber) +
           ")";
}

}  // namespace tsl
