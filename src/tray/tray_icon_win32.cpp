#include "tray/tray_icon.h"

#include <algorithm>
#include <cwchar>

#include "support/text.h"
#include "tray/icon_drawing.h"
#include "tray/tray_messages.h"

namespace tsl {

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full notify icon record");

namespace {

constexpr std::size_t kIconGrey = 0, kIconGreen = 1, kIconAmber = 2, kIconRed = 3;
constexpr IconColour kIconColours[] = {IconColour::Grey, IconColour::Green, IconColour::Amber,
                                       IconColour::Red};

// Copies as much of `text` as fits, always terminated.
template <std::size_t N>
void copyTruncated(wchar_t (&field)[N], const std::wstring& text, std::size_t limit = N - 1) {
    const std::size_t count = std::min({text.size(), limit, N - 1});
    std::wmemcpy(field, text.data(), count);
    field[count] = L'\0';
}

}  // namespace

TrayIcon::TrayIcon(int size) {
    (void)redraw(size, SyncState::Starting);
}

TrayIcon::~TrayIcon() {
    hide();
}

HICON TrayIcon::iconFor(SyncState state) const {
    std::size_t index = kIconGrey;
    switch (iconColourFor(state)) {
        case IconColour::Green:
            index = kIconGreen;
            break;
        case IconColour::Amber:
            index = kIconAmber;
            break;
        case IconColour::Red:
            index = kIconRed;
            break;
        case IconColour::Grey:
            break;
    }
    // The fallback is the system's shared icon, which is never destroyed.
    return icons_[index] ? icons_[index].get() : LoadIconW(nullptr, IDI_APPLICATION);
}

TrayIcon::Icons TrayIcon::redraw(int size, SyncState state) {
    Icons old;
    old.swap(icons_);
    for (std::size_t i = 0; i < icons_.size(); ++i)
        icons_[i] = makeStateIcon(kIconColours[i], size);
    size_ = size;
    if (record_.cbSize != 0) {
        record_.uFlags = NIF_ICON;
        record_.hIcon = iconFor(state);
        Shell_NotifyIconW(NIM_MODIFY, &record_);
    }
    return old;
}

void TrayIcon::add(HWND window, SyncState state, const std::string& tooltip) {
    record_ = NOTIFYICONDATAW{};
    record_.cbSize = sizeof(NOTIFYICONDATAW);
    record_.hWnd = window;
    record_.uID = 1;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    record_.uCallbackMessage = kTrayCallbackMessage;
    record_.hIcon = iconFor(state);
    copyTruncated(record_.szTip, fromUtf8(tooltip));
    Shell_NotifyIconW(NIM_ADD, &record_);
    record_.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &record_);
}

void TrayIcon::show(SyncState state, const std::string& tooltip) {
    if (record_.cbSize == 0) return;
    record_.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    record_.hIcon = iconFor(state);
    copyTruncated(record_.szTip, fromUtf8(tooltip), 127);
    Shell_NotifyIconW(NIM_MODIFY, &record_);
}

void TrayIcon::showBalloon(const std::string& title, const std::string& text) {
    if (record_.cbSize == 0) return;
    record_.uFlags = NIF_INFO;
    record_.dwInfoFlags = NIIF_WARNING;
    copyTruncated(record_.szInfoTitle, fromUtf8(title), 63);
    copyTruncated(record_.szInfo, fromUtf8(text), 255);
    Shell_NotifyIconW(NIM_MODIFY, &record_);
}

void TrayIcon::hide() {
    if (record_.cbSize == 0) return;
    Shell_NotifyIconW(NIM_DELETE, &record_);
    record_.cbSize = 0;
}

}  // namespace tsl
