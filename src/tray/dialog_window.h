#pragma once

// Windows only: what the tray's modeless dialogs share. Each dialog is an object owning its
// window; its dialog procedure finds the object again through the window.

#include <windows.h>

#include <functional>
#include <string>

#include "support/win32_handles.h"

namespace tsl {

// Opens the modeless dialog `templateId` of `instance` with `icon`, filled by `fill` after its
// WM_INITDIALOG, then shown and in front; unless `dialog` holds one already: that one is
// brought forward as it is. `owner` is what dialogOwner() gives the procedure.
void openDialog(WindowHandle& dialog, HINSTANCE instance, int templateId, DLGPROC proc, void* owner,
                HICON icon, const std::function<void(HWND)>& fill = {});

// The `owner` given to openDialog; null for the few messages before WM_INITDIALOG.
template <typename Owner>
Owner* dialogOwner(HWND dlg, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lParam);
    return reinterpret_cast<Owner*>(GetWindowLongPtrW(dlg, DWLP_USER));
}

// True when `message` was keyboard navigation in the open dialog, which has handled it.
bool passToDialog(const WindowHandle& dialog, MSG& message);

// The full text of a dialog control.
std::wstring dialogItemText(HWND dlg, int id);

}  // namespace tsl
