// Custom actions of the Windows installer; Windows Installer loads this DLL from the package.
//
// The start-at-logon value is written by the program when the user asks for it, not by the
// installer, so no component owns it and an uninstall would leave it behind: a Run entry that
// points at a deleted exe and fails at every logon.

#include <windows.h>
// After windows.h, whose types it uses.
#include <msi.h>

namespace {

// The entry the program writes (src/config/start_with_windows_win32.cpp).
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

}  // namespace

// Always reports success: a value that is already gone, or cannot be deleted, is no reason to
// fail an uninstall that has already removed the program.
extern "C" __declspec(dllexport) UINT __stdcall RemoveStartAtLogon(MSIHANDLE) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
    return ERROR_SUCCESS;
}
