#include "tray/tray_app.h"

#include <commctrl.h>

#include <cwchar>
#include <utility>

#include "config/config.h"
#include "support/text.h"
#include "support/version.h"
#include "tray/resource_ids.h"
#include "tray/state_icon.h"
#include "tray/tray_texts.h"

namespace tsl {

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full notify icon record");

namespace {

TrayApp* currentApp = nullptr;

constexpr std::size_t kIconGrey = 0, kIconGreen = 1, kIconAmber = 2, kIconRed = 3;
constexpr IconColour kIconColours[] = {IconColour::Grey, IconColour::Green, IconColour::Amber,
                                       IconColour::Red};

// A resume or a network that comes back brings a burst of notices: one pass a second after the
// first notice of a burst. (A pass that comes too early for the network retries on its own.)
constexpr UINT_PTR kSyncSoonTimer = 1;
constexpr UINT kSyncSoonMs = 1000;

LRESULT CALLBACK trayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (TrayApp* app = TrayApp::current()) return app->windowProc(window, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

// Copies as much of `text` as fits, always terminated.
template <std::size_t N>
void copyTruncated(wchar_t (&field)[N], const std::wstring& text, std::size_t limit = N - 1) {
    const std::size_t count = std::min({text.size(), limit, N - 1});
    std::wmemcpy(field, text.data(), count);
    field[count] = L'\0';
}

}  // namespace

void TrayApp::IconDestroyer::operator()(HICON icon) const {
    // The fallback is the system's shared icon, which must not be destroyed.
    if (icon != LoadIconW(nullptr, IDI_APPLICATION)) DestroyIcon(icon);
}

TrayApp::TrayApp(HINSTANCE instance, Config& config, std::function<void()> onEnd)
    : instance_(instance),
      config_(config),
      onEnd_(std::move(onEnd)),
      engine_(config, [](const SyncStatus&) {
          // Worker thread: only tell the main thread; it takes its own snapshot.
          TrayApp* app = currentApp;
          if (app && app->window_) PostMessageW(app->window_, kStatusChangedMessage, 0, 0);
      }) {
    currentApp = this;
    drawIcons(smallIconSize(nullptr));
}

TrayApp::~TrayApp() {
    engine_.stop();  // joined: the listener can no longer reach this object
    for (OwnedIcon& icon : icons_)
        icon.reset();
    currentApp = nullptr;
}

TrayApp* TrayApp::current() {
    return currentApp;
}

// Draws the four icons at `size` and hands the new ones to everything that shows one before the
// old ones are destroyed: a window keeps only the handle it was given.
void TrayApp::drawIcons(int size) {
    std::array<OwnedIcon, 4> old;
    old.swap(icons_);
    for (std::size_t i = 0; i < icons_.size(); ++i) {
        icons_[i].reset(makeStateIcon(static_cast<COLORREF>(kIconColours[i]), size));
    }
    iconSize_ = size;
    if (!window_ || ended_) return;
    HICON green = icons_[kIconGreen].get();
    SetClassLongPtrW(window_, GCLP_HICON, reinterpret_cast<LONG_PTR>(green));
    for (HWND dialog : {statusDialog_, connectionDialog_}) {
        if (dialog) SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(green));
    }
    if (notifyIcon_.cbSize == 0) return;  // not added yet
    notifyIcon_.uFlags = NIF_ICON;
    notifyIcon_.hIcon = iconFor(engine_.status().state);
    Shell_NotifyIconW(NIM_MODIFY, &notifyIcon_);
}

// The notification area shows small icons at the DPI of the screen it is on; after a change of
// scale the icons are drawn again at the new size rather than stretched by the shell.
void TrayApp::followDpi() {
    const int size = smallIconSize(window_);
    if (size != iconSize_) drawIcons(size);
}

HICON TrayApp::iconFor(SyncState state) const {
    switch (iconColourFor(state)) {
        case IconColour::Green:
            return icons_[kIconGreen].get();
        case IconColour::Amber:
            return icons_[kIconAmber].get();
        case IconColour::Red:
            return icons_[kIconRed].get();
        case IconColour::Grey:
            break;
    }
    return icons_[kIconGrey].get();
}

int TrayApp::run(bool showStatusOnStart) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = trayWindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icons_[kIconGreen].get();
    windowClass.lpszClassName = kTrayWindowClass;
    RegisterClassExW(&windowClass);

    // A normal top-level window, never shown, so that it hears the "TaskbarCreated" broadcast.
    HWND window = CreateWindowExW(0, kTrayWindowClass, fromUtf8(kDisplayName).c_str(), 0, 0, 0, 0,
                                  0, nullptr, nullptr, instance_, nullptr);
    if (!window) return 1;
    window_ = window;
    taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated");
    followDpi();
    addTrayIcon();
    networkWatch_ = watchNetworkChanges(window_);
    // Closed by an installer (Restart Manager), the program comes back when it is done. Not
    // after a crash or a hang, and not after a reboot: the Run entry starts it at logon.
    RegisterApplicationRestart(L"--background",
                               RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
    engine_.start();

    if (!config_.isPaired()) {
        showConnectionDialog();
    } else if (showStatusOnStart) {
        showStatusDialog();
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (statusDialog_ && IsDialogMessageW(statusDialog_, &message)) continue;
        if (connectionDialog_ && IsDialogMessageW(connectionDialog_, &message)) continue;
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
    KillTimer(window_, kSyncSoonTimer);
    // What the user sees goes first; the worker may need a moment to let go of an exchange.
    for (HWND dialog : {statusDialog_, connectionDialog_}) {
        if (dialog) DestroyWindow(dialog);
    }
    Shell_NotifyIconW(NIM_DELETE, &notifyIcon_);
    engine_.stop();
    if (onEnd_) onEnd_();
}

// Several notices in a row make one pass; the first one of a burst decides when.
void TrayApp::syncSoon() {
    if (syncSoonPending_) return;
    syncSoonPending_ = SetTimer(window_, kSyncSoonTimer, kSyncSoonMs, nullptr) != 0;
    if (!syncSoonPending_) engine_.syncNow();
}

void TrayApp::addTrayIcon() {
    notifyIcon_ = NOTIFYICONDATAW{};
    notifyIcon_.cbSize = sizeof(NOTIFYICONDATAW);
    notifyIcon_.hWnd = window_;
    notifyIcon_.uID = 1;
    notifyIcon_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    notifyIcon_.uCallbackMessage = kTrayCallbackMessage;
    notifyIcon_.hIcon = iconFor(engine_.status().state);
    copyTruncated(notifyIcon_.szTip, fromUtf8(kDisplayName));
    Shell_NotifyIconW(NIM_ADD, &notifyIcon_);
    notifyIcon_.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &notifyIcon_);
}

void TrayApp::updateTrayIcon() {
    const SyncStatus status = engine_.status();
    notifyIcon_.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    notifyIcon_.hIcon = iconFor(status.state);
    copyTruncated(notifyIcon_.szTip, fromUtf8(trayTooltip(status.state)), 127);
    Shell_NotifyIconW(NIM_MODIFY, &notifyIcon_);

    if (status.state != lastState_) {
        if (const auto title = balloonTitle(lastState_, status.state)) {
            notifyIcon_.uFlags = NIF_INFO;
            notifyIcon_.dwInfoFlags = NIIF_WARNING;
            copyTruncated(notifyIcon_.szInfoTitle, fromUtf8(*title), 63);
            copyTruncated(notifyIcon_.szInfo, fromUtf8(balloonText(status.message)), 255);
            Shell_NotifyIconW(NIM_MODIFY, &notifyIcon_);
        }
        lastState_ = status.state;
    }
    refreshStatusDialog();
}

LRESULT TrayApp::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != window_ || !window_) return DefWindowProcW(window, message, wParam, lParam);
    if (taskbarCreatedMessage_ != 0 && message == taskbarCreatedMessage_) {
        followDpi();  // Explorer restarts after a change of scale, among other times
        addTrayIcon();
        return 0;
    }
    switch (message) {
        case WM_QUERYENDSESSION:
            return TRUE;  // nothing to save first: settings are written as they change
        case WM_ENDSESSION:
            // TRUE: log-off, shutdown, or an installer closing us (ENDSESSION_CLOSEAPP).
            if (wParam) DestroyWindow(window_);
            return 0;
        case WM_CLOSE:
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            end();
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
            if (connectionDialog_) fillConnectionDialog(connectionDialog_);
            refreshStatusDialog();
            return 0;
        case WM_TIMER:
            if (wParam == kSyncSoonTimer) {
                KillTimer(window_, kSyncSoonTimer);
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
                    showMenu();
                    break;
                case WM_LBUTTONDBLCLK:
                case NIN_SELECT:
                case NIN_KEYSELECT:
                    showStatusDialog();
                    break;
                default:
                    break;
            }
            return 0;
        case kActivateMessage:
            if (config_.isPaired()) {
                showStatusDialog();
            } else {
                showConnectionDialog();
            }
            return 0;
        case kStatusChangedMessage:
            updateTrayIcon();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace tsl
