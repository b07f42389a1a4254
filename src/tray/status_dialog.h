#pragma once

// Windows only: the status dialog, a read-only text with the state of sync (status_text.h) and
// the buttons "Sync now" and "Open log folder". Modeless; at most one is open.

#include <windows.h>

#include "support/win32_handles.h"

namespace tsl {

class Config;
class SyncEngine;

class StatusDialog {
  public:
    // Both are kept: the dialog shows the engine's status and the saved settings.
    StatusDialog(HINSTANCE instance, const Config& config, SyncEngine& engine);

    void open(HICON icon);  // or brings the open one forward without refreshing it
    void refresh();         // the text of the status now, when the dialog is open
    void close();
    HWND window() const { return dialog_.get(); }  // null while closed
    bool takesMessage(MSG& message) const;         // true: its keyboard navigation, handled

  private:
    static INT_PTR CALLBACK procedure(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(HWND dlg, UINT message, WPARAM wParam);
    void showText(HWND dlg) const;

    HINSTANCE instance_;
    const Config& config_;
    SyncEngine& engine_;
    WindowHandle dialog_;
};

}  // namespace tsl
