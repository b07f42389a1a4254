#include "tray/tray_app.h"

#include "support/text.h"
#include "tray/resource_ids.h"

namespace tsl {

namespace {

INT_PTR CALLBACK statusProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    TrayApp* app = TrayApp::current();
    return app ? app->statusDialogProc(dlg, message, wParam) : FALSE;
}

INT_PTR CALLBACK connectionProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    TrayApp* app = TrayApp::current();
    return app ? app->connectionDialogProc(dlg, message, wParam) : FALSE;
}

// Opens a modeless dialog, or brings the open one forward without refreshing it.
template <typename Fill>
void openDialog(HWND& handle, HINSTANCE instance, int templateId, DLGPROC proc, HICON icon,
                Fill fill) {
    if (handle) {
        SetForegroundWindow(handle);
        return;
    }
    handle = CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), nullptr, proc, 0);
    if (!handle) return;
    SendMessageW(handle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    fill(handle);
    ShowWindow(handle, SW_SHOW);
    SetForegroundWindow(handle);
}

}  // namespace

void TrayApp::showStatusDialog() {
    openDialog(statusDialog_, instance_, IDD_STATUS, statusProc, iconFor(SyncState::UpToDate),
               [this](HWND dlg) {
                   SetDlgItemTextW(dlg, IDC_STATUS_TEXT, statusText(engine_.status()).c_str());
               });
}

void TrayApp::showConnectionDialog() {
    // The dialog fills itself on WM_INITDIALOG.
    openDialog(connectionDialog_, instance_, IDD_CONNECTION, connectionProc,
               iconFor(SyncState::UpToDate), [](HWND) {});
}

}  // namespace tsl
