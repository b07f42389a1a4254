#pragma once

// Windows only: the program's icon in the notification area. It owns the four state icons
// (grey, green, amber, red) and the record the shell was given, so that the icon can be added
// again after Explorer restarts and changed in place as the sync state changes.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <string>

#include "support/win32_handles.h"
#include "sync/sync_status.h"

namespace tsl {

class TrayIcon {
  public:
    using Icons = std::array<IconHandle, 4>;

    explicit TrayIcon(int size);  // the state icons drawn at `size` pixels
    ~TrayIcon();                  // removes the icon from the notification area
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // The icon of a state; the system's application icon where it could not be drawn.
    HICON iconFor(SyncState state) const;
    // The icon of the program's windows and dialogs: the one of a sync that works.
    HICON programIcon() const { return iconFor(SyncState::UpToDate); }
    int size() const { return size_; }

    // Draws the icons at `size` and shows the new one of `state` if the icon is in the
    // notification area. The old icons are given back: a window keeps only the handle it was
    // given, so they may go only once every window has the new ones.
    [[nodiscard]] Icons redraw(int size, SyncState state);

    // Adds the icon for `window` (again, after Explorer restarted) with the program's name as
    // its tooltip; its notices come as kTrayCallbackMessage.
    void add(HWND window, SyncState state, const std::string& tooltip);
    // Shows the state's icon and tooltip (at most 127 characters are shown).
    void show(SyncState state, const std::string& tooltip);
    // A warning balloon (title cut at 63 characters, text at 255).
    void showBalloon(const std::string& title, const std::string& text);
    void hide();  // takes it out of the notification area; nothing when it is not there

  private:
    Icons icons_;
    int size_ = 0;
    NOTIFYICONDATAW record_{};  // cbSize 0 while the icon is not in the notification area
};

}  // namespace tsl
