#include "tray/tray_menu.h"

#include "support/text.h"
#include "support/win32_handles.h"

namespace tsl {

void TrayMenu::show(HWND window, const std::vector<MenuItem>& items) {
    // A right-click brings WM_RBUTTONUP and then WM_CONTEXTMENU; the second arrives while the
    // first menu is tracked and must not open another one inside it.
    if (open_) return;
    // Built fresh each time so its texts, check mark and greyed items are those of the moment.
    MenuHandle menu(CreatePopupMenu());
    if (!menu) return;
    for (const MenuItem& item : items) {
        UINT flags = MF_STRING;
        if (item.separator) flags = MF_SEPARATOR;
        if (item.grayed) flags |= MF_GRAYED;
        if (item.checked) flags |= MF_CHECKED;
        AppendMenuW(menu.get(), flags, item.id,
                    item.separator ? nullptr : fromUtf8(item.text).c_str());
    }
    SetMenuDefaultItem(menu.get(), kCmdStatus, FALSE);

    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window);
    open_ = true;
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window,
                   nullptr);
    open_ = false;
    PostMessageW(window, WM_NULL, 0, 0);
}

}  // namespace tsl
