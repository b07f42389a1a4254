#include "tray/status_dialog.h"

#include "config/config.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "sync/sync_engine.h"
#include "tray/dialog_window.h"
#include "tray/resource_ids.h"
#include "tray/shell_open.h"
#include "tray/status_text.h"

namespace tsl {

StatusDialog::StatusDialog(HINSTANCE instance, const Config& config, SyncEngine& engine)
    : instance_(instance), config_(config), engine_(engine) {}

void StatusDialog::open(HICON icon) {
    openDialog(dialog_, instance_, IDD_STATUS, procedure, this, icon,
               [this](HWND dlg) { showText(dlg); });
}

void StatusDialog::refresh() {
    if (dialog_) showText(dialog_.get());
}

void StatusDialog::close() {
    dialog_.reset();
}

bool StatusDialog::takesMessage(MSG& message) const {
    return passToDialog(dialog_, message);
}

void StatusDialog::showText(HWND dlg) const {
    const std::string text = statusText(engine_.status(), config_.settings(), machineName());
    SetDlgItemTextW(dlg, IDC_STATUS_TEXT, fromUtf8(text).c_str());
}

INT_PTR CALLBACK StatusDialog::procedure(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    StatusDialog* self = dialogOwner<StatusDialog>(dlg, message, lParam);
    return self ? self->handle(dlg, message, wParam) : FALSE;
}

INT_PTR StatusDialog::handle(HWND dlg, UINT message, WPARAM wParam) {
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
            (void)dialog_.release();  // going already
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace tsl
