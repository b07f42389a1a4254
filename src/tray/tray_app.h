#pragma once

// The tray program (Windows only): a hidden window, the notification-area icon whose colour and
// tooltip follow the sync state, its menu, and the connection and status dialogs. Everything
// runs on the main thread except the status listener and the network watch, which only post a
// message. It lives through the PC's day: a session that ends or an installer that asks it to
// close, sleep and resume, a network that comes back, Explorer restarting, a change of DPI.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <functional>
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
inline constexpr UINT kNetworkChangedMessage = WM_APP + 4;
// From a console "--pair": the settings file changed under us.
inline constexpr UINT kSettingsChangedMessage = WM_APP + 5;

// One state icon drawn in `colour` (a COLORREF), `size` pixels square; the system's application
// icon when drawing fails.
HICON makeStateIcon(COLORREF colour, int size);

// The small-icon size in pixels at the DPI of `window` (the system's DPI for null, and on
// Windows before 10 version 1607, which cannot tell a window's DPI).
int smallIconSize(HWND window);

// A registration for notices of network changes (NotifyIpInterfaceChange), cancelled once.
struct NetworkWatchCanceller {
    void operator()(HANDLE handle) const;
};
using NetworkWatch = std::unique_ptr<void, NetworkWatchCanceller>;

// Posts kNetworkChangedMessage (0, 0) to `window` whenever an IP interface of this PC changes (an
// adapter comes up, gets an address, goes away). Windows calls back on a thread of its own and
// nothing but the message crosses. Null when Windows refuses. Reset it before the window goes:
// cancelling waits for a callback in progress.
NetworkWatch watchNetworkChanges(HWND window);

class TrayApp {
  public:
    // `onEnd` is called once, on the main thread, when the program ends for good (E&xit, WM_CLOSE,
    // the end of the session): after the worker has stopped and the icon is gone, while the
    // window still exists. At the end of a session Windows may end the process as soon as the
    // handler returns, so what must be written last is written there.
    TrayApp(HINSTANCE instance, Config& config, std::function<void()> onEnd = {});
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
    void drawIcons(int size);
    void followDpi();
    void syncSoon();
    void end();

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
    std::function<void()> onEnd_;
    SyncEngine engine_;
    HWND window_ = nullptr;
    HWND statusDialog_ = nullptr;
    HWND connectionDialog_ = nullptr;
    NOTIFYICONDATAW notifyIcon_{};
    std::array<OwnedIcon, 4> icons_;  // grey, green, amber, red
    int iconSize_ = 0;
    UINT taskbarCreatedMessage_ = 0;
    NetworkWatch networkWatch_;
    bool menuOpen_ = false;
    bool syncSoonPending_ = false;
    bool ended_ = false;
    SyncState lastState_ = SyncState::Starting;
};

// The full text of a dialog control.
std::wstring dialogItemText(HWND dlg, int id);

}  // namespace tsl
