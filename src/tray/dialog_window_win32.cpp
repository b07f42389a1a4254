#include "tray/dialog_window.h"

namespace tsl {

void openDialog(WindowHandle& dialog, HINSTANCE instance, int templateId, DLGPROC proc, void* owner,
                HICON icon, const std::function<void(HWND)>& fill) {
    if (dialog) {
        SetForegroundWindow(dialog.get());
        return;
    }
    dialog.reset(CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), nullptr, proc,
                                    reinterpret_cast<LPARAM>(owner)));
    if (!dialog) return;
    SendMessageW(dialog.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    if (fill) fill(dialog.get());
    ShowWindow(dialog.get(), SW_SHOW);
    SetForegroundWindow(dialog.get());
}

bool passToDialog(const WindowHandle& dialog, MSG& message) {
    return dialog && IsDialogMessageW(dialog.get(), &message);
}

std::wstring dialogItemText(HWND dlg, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dlg, id));
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied = GetDlgItemTextW(dlg, id, text.data(), length + 1);
    text.resize(copied);
    return text;
}

}  // namespace tsl
