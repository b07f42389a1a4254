#include "tray/tray_app.h"

#include <commctrl.h>

#include <cwchar>

#include "app/resources/resource_ids.h"
#include "app/version.h"
#include "config/config.h"
#include "support/text.h"
#include "tray/state_icon.h"
#include "tray/tray_texts.h"

namespace tsl {

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full notify icon record");

namespace {

TrayApp* currentApp = nullptr;

constexpr std::size_t kIconGrey = 0, kIconGreen = 1, kIconAmber = 2, kIconRed = 3;

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

TrayApp::TrayApp(HINSTANCE instance, Config& config)
    : instance_(instance), config_(config), engine_(config, [](const SyncStatus&) {
          // Worker thread: only tell the main thread; it takes its own snapshot.
          TrayApp* app = currentApp;
          if (app && app->window_) PostMessageW(app->window_, kStatusChangedMessage, 0, 0);
      }) {
    currentApp = this;
    const IconColour colours[] = {IconColour::Grey, IconColour::Green, IconColour::Amber,
                                  IconColour::Red};
    for (std::size_t i = 0; i < icons_.size(); ++i) {
        icons_[i].reset(makeStateIcon(static_cast<COLORREF>(colours[i])));
    }
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
    addTrayIcon();
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
    Shell_NotifyIconW(NIM_DELETE, &notifyIcon_);
    return 0;
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
        addTrayIcon();
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            engine_.stop();
            PostQuitMessage(0);
            return 0;
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
