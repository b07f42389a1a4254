#pragma once

// The tray program (Windows only): a hidden window, the notification-area icon whose colour and
// tooltip follow the sync state, its menu, and the connection and status dialogs. Everything
// runs on the main thread except the status listener and the network watch, which only post a
// message, and the diagnostics report, saved on its own thread, which posts one when done. It
// lives through the PC's day: a session that ends or an installer that asks it to close, sleep
// and resume, a network that comes back, Explorer restarting, a change of DPI.

#include <windows.h>

#include <functional>

#include "diag/report_run.h"
#include "support/win32_handles.h"
#include "sync/sync_engine.h"
#include "tray/connection_dialog.h"
#include "tray/network_watch.h"
#include "tray/status_dialog.h"
#include "tray/tray_icon.h"
#include "tray/tray_menu.h"

namespace tsl {

class Config;

class TrayApp {
  public:
    // `onEnd` is called once, on the main thread, when the program ends for good (E&xit, WM_CLOSE,
    // the end of the session): after the worker has stopped and the icon is gone, while the
    // window still exists. At the end of a session Windows may end the process as soon as the
    // handler returns, so what must be written last is written there.
    TrayApp(HINSTANCE instance, Config& config, std::function<void()> onEnd = {});
    ~TrayApp();  // stops the engine and a report before anything they could reach goes away
    TrayApp(const TrayApp&) = delete;
    TrayApp& operator=(const TrayApp&) = delete;

    // Creates the window and the icon, starts the engine and runs the message loop until the
    // program quits: 0, or 1 when the window cannot be created.
    int run(bool showStatusOnStart);

    // The one running application, or null; the window procedure reaches it here.
    static TrayApp* current();

    LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void drawIcons(int size);
    void followDpi();
    void statusChanged();
    void syncSoon();
    void runCommand(unsigned id);
    void showStartDialog();  // the status, or the connection when this PC is not paired
    void reportDone();
    void end();

    HINSTANCE instance_;
    Config& config_;
    std::function<void()> onEnd_;
    SyncEngine engine_;
    // After the engine, so that they go before it.
    TrayIcon icon_;
    TrayMenu menu_;
    StatusDialog statusDialog_;
    ConnectionDialog connectionDialog_;
    ReportRun reportRun_;
    WindowHandle window_;
    UINT taskbarCreatedMessage_ = 0;
    NetworkWatch networkWatch_;
    bool syncSoonPending_ = false;
    bool ended_ = false;
    SyncState lastState_ = SyncState::Starting;
};

}  // namespace tsl
