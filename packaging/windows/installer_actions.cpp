// Custom actions of the Windows installer; Windows Installer loads this DLL from the package.
//
// The start-at-logon value is written by the program when the user asks for it, not by the
// installer, so no component owns it and an uninstall would leave it behind: a Run entry that
// points at a deleted exe and fails at every logon.
//
// A running tray program holds its exe open. Windows' Restart Manager would close it and bring
// it back after the upgrade (the program registers for that); installers without one, Wine's
// among them, would leave the old copy running or fail to replace the file. So the installer
// closes it itself, the way the Restart Manager does, and starts the new one afterwards.

#include <windows.h>
// After windows.h, whose types it uses.
#include <msi.h>
#include <msiquery.h>

#include "support/win32_handles.h"

namespace {

// The entry the program writes (src/config/start_with_windows_win32.cpp).
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kValueName[] = L"Tessaline Tally Connector";

// The tray program's window (src/tray/tray_app.h), one per session.
constexpr wchar_t kTrayWindowClass[] = L"TessalineTallyConnectorTray";
// The program lets go of an exchange in flight within a second or two; past this the install
// goes on and Windows Installer deals with the file in use as it always does.
constexpr DWORD kCloseWaitMs = 15000;

}  // namespace

// Always reports success: a value that is already gone, or cannot be deleted, is no reason to
// fail an uninstall that has already removed the program.
extern "C" __declspec(dllexport) UINT __stdcall RemoveStartAtLogon(MSIHANDLE) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName);
    return ERROR_SUCCESS;
}

// Asks a running tray program to close (WM_CLOSE, as E&xit) and waits for it to end; sets
// CONNECTOR_WAS_RUNNING to 1 when there was one, for the action that starts it again. Never
// fails the install: at worst the file is in use, which Windows Installer handles.
extern "C" __declspec(dllexport) UINT __stdcall CloseRunningConnector(MSIHANDLE install) {
    HWND window = FindWindowW(kTrayWindowClass, nullptr);
    if (!window) return ERROR_SUCCESS;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    tsl::KernelHandle process(processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr);
    if (!PostMessageW(window, WM_CLOSE, 0, 0)) return ERROR_SUCCESS;
    MsiSetPropertyW(install, L"CONNECTOR_WAS_RUNNING", L"1");
    if (process) WaitForSingleObject(process.get(), kCloseWaitMs);
    return ERROR_SUCCESS;
}
