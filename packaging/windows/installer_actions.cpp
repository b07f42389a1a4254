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

#include <string>

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

// Closes an installer handle on every path.
class MsiRecord {
  public:
    MsiRecord() : handle_(MsiCreateRecord(0)) {}
    ~MsiRecord() {
        if (handle_) MsiCloseHandle(handle_);
    }
    MsiRecord(const MsiRecord&) = delete;
    MsiRecord& operator=(const MsiRecord&) = delete;
    MSIHANDLE get() const { return handle_; }

  private:
    MSIHANDLE handle_;
};

// An upgrade removes the old version, and with it (where the installer does not say that it is
// an upgrade, as Wine's does not) the start-at-logon value. So the new version notes the user's
// choice before the old one goes (START_AT_LOGON_WAS_SET) and writes it again, for the new
// program's path, once its files are in.
extern "C" __declspec(dllexport) UINT __stdcall RememberStartAtLogon(MSIHANDLE install) {
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                     nullptr) == ERROR_SUCCESS) {
        MsiSetPropertyW(install, L"START_AT_LOGON_WAS_SET", L"1");
    }
    return ERROR_SUCCESS;
}

// Writes the entry as the program does: the quoted path of the installed exe and --background.
extern "C" __declspec(dllexport) UINT __stdcall RestoreStartAtLogon(MSIHANDLE install) {
    const MsiRecord record;
    if (!record.get() ||
        MsiRecordSetStringW(record.get(), 0, L"[#ConnectorExe]") != ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    wchar_t path[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    if (MsiFormatRecordW(install, record.get(), path, &length) != ERROR_SUCCESS || length == 0) {
        return ERROR_SUCCESS;
    }
    const std::wstring data = L"\"" + std::wstring(path, length) + L"\" --background";
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    return ERROR_SUCCESS;
}

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
