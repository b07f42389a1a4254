#include "tray/tray_app.h"

#include <commctrl.h>

#include <utility>

#include "config/config.h"
#include "config/start_with_windows.h"
#include "support/text.h"
#include "support/version.h"
#include "tray/icon_drawing.h"
#include "tray/shell_open.h"
#include "tray/tray_messages.h"
#include "tray/tray_texts.h"

namespace tsl {

namespace {

TrayApp* currentApp = nullptr;

// A resume or a network that comes back brings a burst of notices: one pass a second after the
// first notice of a burst. (A pass that comes too early for the network retries on its own.)
constexpr UINT_PTR kSyncSoonTimer = 1;
constexpr UINT kSyncSoonMs = 1000;

LRESULT CALLBACK trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (TrayApp* app = TrayApp::current()) return app->windowProc(window, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TrayApp::TrayApp(HINSTANCE instance, Config& config, std::function<void()> onEnd)
    : instance_(instance),
      config_(config),
      onEnd_(std::move(onEnd)),
      engine_(config,
              [](const SyncStatus&) {
                  // Worker thread: only tell the main thread; it takes its own snapshot.
                  TrayApp* app = currentApp;
                  if (app && app->window_) {
                      PostMessageW(app->window_.get(), kStatusChangedMessage, 0, 0);
                  }
              }),
      icon_(smallIconSize(nullptr)),
      statusDialog_(instance, config, engine_),
      connectionDialog_(instance, config, engine_),
      reportRun_(config, [this] {
          // The report's thread, which end() waits for before the window goes.
          PostMessageW(window_.get(), kReportDoneMessage, 0, 0);
      }) {
    currentApp = this;
}

TrayApp::~TrayApp() {
    engine_.stop();  // joined: the listener can no longer reach this object
    reportRun_.stop();
    currentApp = nullptr;
}

TrayApp* TrayApp::current() {
    return currentApp;
}

// Draws the icons at `size` and hands the new ones to everything that shows one before the
// old ones are destroyed: a window keeps only the handle it was given.
void TrayApp::drawIcons(int size) {
    const TrayIcon::Icons old = icon_.redraw(size, engine_.status().state);
    if (!window_ || ended_) return;
    HICON program = icon_.programIcon();
    SetClassLongPtrW(window_.get(), GCLP_HICON, reinterpret_cast<LONG_PTR>(program));
    for (HWND dialog : {statusDialog_.window(), connectionDialog_.window()}) {
        if (dialog) SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(program));
    }
}

// The notification area shows small icons at the DPI of the screen it is on; after a change of
// scale the icons are drawn again at the new size rather than stretched by the shell.
void TrayApp::followDpi() {
    const int size = smallIconSize(window_.get());
    if (size != icon_.size()) drawIcons(size);
}

int TrayApp::run(bool showStatusOnStart) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = trayWindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon_.programIcon();
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassExW(&windowClass);

    // A normal top-level window, never shown, so that it hears the "TaskbarCreated" broadcast.
    window_.reset(CreateWindowExW(0, kTrayWindowClass, fromUtf8(kDisplayName).c_str(), 0, 0, 0, 0,
                                  0, nullptr, nullptr, instance_, nullptr));
    if (!window_) return 1;
    taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated");
    followDpi();
    icon_.add(window_.get(), engine_.status().state, kDisplayName);
    networkWatch_ = watchNetworkChanges(window_.get());
    // Closed by an installer (Restart Manager), the program comes back when it is done. Not
    // after a crash or a hang, and not after a reboot: the Run entry starts it at logon.
    RegisterApplicationRestart(L"--background",
                               RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
    // Adding the icon waits on the shell, and meanwhile messages sent to the window are
    // handled: the session may already have ended, and with it this program.
    if (ended_) return 0;
    engine_.start();

    if (!config_.isPaired()) {
        connectionDialog_.open(icon_.programIcon());
    } else if (showStatusOnStart) {
        statusDialog_.open(icon_.programIcon());
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (statusDialog_.takesMessage(message)) continue;
        if (connectionDialog_.takesMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    end();  // already done when the window went; here for a loop that failed
    return 0;
}

// The one way the program ends: E&xit, WM_CLOSE and the end of the session all destroy the
// window, and its WM_DESTROY comes here. Everything happens before the handler returns, because
// at the end of a session the process may be ended right after.
void TrayApp::end() {
    if (ended_) return;
    ended_ = true;
    networkWatch_.reset();
    KillTimer(window_.get(), kSyncSoonTimer);
    // What the user sees goes first; the worker may need a moment to let go of an exchange.
    statusDialog_.close();
    connectionDialog_.close();
    icon_.hide();
    engine_.stop();
    reportRun_.stop();
    if (onEnd_) onEnd_();
}

// Several notices in a row make one pass; the first one of a burst decides when.
void TrayApp::syncSoon() {
    if (syncSoonPending_) return;
    syncSoonPending_ = SetTimer(window_.get(), kSyncSoonTimer, kSyncSoonMs, nullptr) != 0;
    if (!syncSoonPending_) engine_.syncNow();
}

void TrayApp::statusChanged() {
    const SyncStatus status = engine_.status();
    icon_.show(status.state, trayTooltip(status.state));
    if (status.state != lastState_) {
        if (const auto title = balloonTitle(lastState_, status.state)) {
            icon_.showBalloon(*title, balloonText(status.message));
        }
        lastState_ = status.state;
    }
    statusDialog_.refresh();
}

void TrayApp::runCommand(unsigned id) {
    switch (id) {
        case kCmdStatus:
            statusDialog_.open(icon_.programIcon());
            break;
        case kCmdSyncNow:
            engine_.syncNow();
            break;
        case kCmdConnection:
            connectionDialog_.open(icon_.programIcon());
            break;
        case kCmdOpenTallyPage:
            openTallySettingsPage(config_.settings().serverUrl);
            break;
        case kCmdOpenLogFolder:
            openLogFolder();
            break;
        case kCmdStartWithWindows:
            setStartWithWindows(!isStartWithWindowsEnabled());
            break;
        case kCmdSaveReport:
            reportRun_.start();  // once at a time: chosen again meanwhile, nothing happens
            break;
        case kCmdExit:
            DestroyWindow(window_.get());
            break;
        default:
            break;
    }
}

void TrayApp::showStartDialog() {
    if (config_.isPaired()) {
        statusDialog_.open(icon_.programIcon());
    } else {
        connectionDialog_.open(icon_.programIcon());
    }
}

// Back on the main thread: the saved report is shown in its folder, or the user is told why
// there is none.
void TrayApp::reportDone() {
    const auto outcome = reportRun_.take();
    if (!outcome) return;
    if (!outcome->file.empty()) {
        showFileInFolder(outcome->file);
        return;
    }
    const std::wstring text =
        fromUtf8("The diagnostics report could not be saved: " + escapeControls(outcome->error));
    MessageBoxW(nullptr, text.c_str(), fromUtf8(kDisplayName).c_str(),
                MB_ICONWARNING | MB_SETFOREGROUND);
}

LRESULT TrayApp::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window_ || window != window_.get()) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (taskbarCreatedMessage_ != 0 && message == taskbarCreatedMessage_) {
        followDpi();  // Explorer restarts after a change of scale, among other times
        icon_.add(window_.get(), engine_.status().state, kDisplayName);
        return 0;
    }
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;  // nothing to save first: settings are written as they change
        case WM_ENDSESSION:
            // TRUE: log-off, shutdown, or an installer closing us (ENDSESSION_CLOSEAPP).
            if (wParam) DestroyWindow(window_.get());
            return 0;
        case WM_CLOSE:
            DestroyWindow(window_.get());
            return 0;
        case WM_DESTROY:
            end();
            (void)window_.release();  // going already
            PostQuitMessage(0);
            return 0;
        case WM_POWERBROADCAST:
            // Back from sleep, the wait for the next pass was counted while the PC stood still.
            if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) syncSoon();
            return TRUE;
        case kNetworkChangedMessage:
            syncSoon();
            return 0;
        case kSettingsChangedMessage:
            // Another process paired or changed the settings: show and use what it saved.
            config_.reload();
            engine_.settingsChanged();
            connectionDialog_.refill();
            statusDialog_.refresh();
            return 0;
        case WM_TIMER:
            if (wParam == kSyncSoonTimer) {
                KillTimer(window_.get(), kSyncSoonTimer);
                syncSoonPending_ = false;
                engine_.syncNow();
            }
            return 0;
        case WM_DPICHANGED:
        case WM_SETTINGCHANGE:
        case WM_DISPLAYCHANGE:
            followDpi();
            return DefWindowProcW(window, message, wParam, lParam);
        case WM_COMMAND:
            runCommand(LOWORD(wParam));
            return 0;
        case kTrayCallbackMessage:
            switch (LOWORD(lParam)) {
                case WM_CONTEXTMENU:
                case WM_RBUTTONUP:
                    menu_.show(window_.get(),
                               trayMenu(engine_.status().state, config_.isPaired(),
                                        isStartWithWindowsEnabled(), reportRun_.running()));
                    break;
                case WM_LBUTTONDBLCLK:
                case NIN_SELECT:
                case NIN_KEYSELECT:
                    statusDialog_.open(icon_.programIcon());
                    break;
                default:
                    break;
            }
            return 0;
        case kActivateMessage:
            showStartDialog();
            return 0;
        case kStatusChangedMessage:
            statusChanged();
            return 0;
        case kReportDoneMessage:
            reportDone();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace tsl
