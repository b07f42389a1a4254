#pragma once

// The tray program (Windows only): a hidden window, the notification-area icon whose colour and
// tooltip follow the sync state, its menu, and the connection and status dialogs. Everything
// runs on the main thread except the status listener, which only posts a message.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <memory>
#include <string>

#include "support/win32_handles.h"
#include "sync/sync_engine.h"

namespace tsl {

class Config;

inline constexpr wchar_t kTrayWindowClass[] = L"TessalineTallyConnectorTray";
inline constexpr UINT kTrayCallbackMessage = WM_APP + 1;
inline constexpr UINT kActivateMessage = WM_APP + 2;
inline constexpr UINT kStatusChangedMessage = WM_APP + 3;

// One state icon drawn in `colour` (a COLORREF) at the small-icon size; the system's
// application icon when drawing fails.
HICON makeStateIcon(COLORREF colour);

class TrayApp {
  public:
    TrayApp(HINSTANCE instance, Config& config);
    ~TrayApp();  // stops the engine before anything it could reach goes away
    TrayApp(const TrayApp&) = delete;
    TrayApp& operator=(const TrayApp&) = delete;

    // Creates the window and the icon, starts the engine and runs the message loop until the
    // program quits: 0, or 1 when the window cannot be created.
    int run(bool showStatusOnStart);

    // The one running application, or null; the window and dialog procedures reach it here.
    static TrayApp* current();

    LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR connectionDialogProc(HWND dlg, UINT message, WPARAM wParam);
    INT_PTR statusDialogProc(HWND dlg, UINT message, WPARAM wParam);

  private:
    void addTrayIcon();
    void updateTrayIcon();
    HICON iconFor(SyncState state) const;

    void showMenu();
    void runCommand(unsigned id);
    void openTallySettingsPage();
    void openLogFolder();

    void showStatusDialog();
    void showConnectionDialog();
    void refreshStatusDialog();
    std::wstring statusText(const SyncStatus& status);

    void fillConnectionDialog(HWND dlg);
    void pairFromDialog(HWND dlg);
    void unpairFromDialog(HWND dlg);
    bool saveConnectionSettings(HWND dlg);
    void testTally(HWND dlg);

    struct IconDestroyer {
        void operator()(HICON icon) const;
    };
    using OwnedIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;

    HINSTANCE instance_;
    Config& config_;
    SyncEngine engine_;
    HWND window_ = nullptr;
    HWND statusDialog_ = nullptr;
    HWND connectionDialog_ = nullptr;
    NOTIFYICONDATAW notifyIcon_{};
    std::array<OwnedIcon, 4> icons_;  // grey, green, amber, red
    UINT taskbarCreatedMessage_ = 0;
    bool menuOpen_ = false;
    SyncState lastState_ = SyncState::Starting;
};

// The full text of a dialog control.
std::wstring dialogItemText(HWND dlg, int id);

}  // namespace tsl
