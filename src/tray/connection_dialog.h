#pragma once

// Windows only: the connection dialog, where the user pairs this PC with Tessaline (or unpairs
// it), sets Tally's address and tests it. Modeless; at most one is open. Its decisions are
// those of connection_form.h; what it saves goes through Config, and the engine is told.

#include <windows.h>

#include "support/win32_handles.h"

namespace tsl {

class Config;
class SyncEngine;

class ConnectionDialog {
  public:
    // Both are kept: the dialog saves into the one and tells the other.
    ConnectionDialog(HINSTANCE instance, Config& config, SyncEngine& engine);

    void open(HICON icon);  // or brings the open one forward without refreshing it
    void refill();          // the saved settings again, when the dialog is open
    void close();
    HWND window() const { return dialog_.get(); }  // null while closed
    bool takesMessage(MSG& message) const;         // true: its keyboard navigation, handled

  private:
    static INT_PTR CALLBACK procedure(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(HWND dlg, UINT message, WPARAM wParam);
    void fill(HWND dlg);
    void pair(HWND dlg);
    void unpair(HWND dlg);
    bool save(HWND dlg);  // false when the user has to correct or confirm something first
    void testTally(HWND dlg);

    HINSTANCE instance_;
    Config& config_;
    SyncEngine& engine_;
    WindowHandle dialog_;
};

}  // namespace tsl
