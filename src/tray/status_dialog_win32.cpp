#include "tray/tray_app.h"

#include "config/config.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "tray/resource_ids.h"
#include "tray/status_text.h"

namespace tsl {

std::wstring TrayApp::statusText(const SyncStatus& status) {
    return fromUtf8(tsl::statusText(status, config_.settings(), machineName()));
}

void TrayApp::refreshStatusDialog() {
    if (!statusDialog_) return;
    SetDlgItemTextW(statusDialog_, IDC_STATUS_TEXT, statusText(engine_.status()).c_str());
}

INT_PTR TrayApp::statusDialogProc(HWND dlg, UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDCANCEL:
                    DestroyWindow(dlg);
                    return TRUE;
                case IDC_SYNC_NOW:
                    engine_.syncNow();
                    return TRUE;
                case IDC_OPEN_LOG_FOLDER:
                    openLogFolder();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            DestroyWindow(dlg);
            return TRUE;
        case WM_DESTROY:
            statusDialog_ = nullptr;
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace tsl
