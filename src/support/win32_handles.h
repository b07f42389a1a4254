#pragma once

// Owners of Windows handles, one line each: a move-only std::unique_ptr whose deleter calls the
// right close function, so a handle is closed exactly once on every path. Windows-only.

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <type_traits>

namespace tsl {

// WinHTTP session, connection and request handles (HINTERNET).
struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// Kernel object handles (files, events, processes). Wrap only a valid handle: CreateFileW
// reports failure as INVALID_HANDLE_VALUE, which must never reach CloseHandle.
struct KernelHandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using KernelHandle = std::unique_ptr<void, KernelHandleCloser>;

// Memory that a Windows function allocated with LocalAlloc for its caller (CommandLineToArgvW,
// FormatMessageW, CryptProtectData). LocalFree(nullptr) is harmless.
struct LocalMemoryFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalMemoryFreer>;

// GDI objects (bitmaps, fonts); DeleteObject.
struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
template <typename T>
using GdiObject = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// Icons made at run time (CreateIconIndirect); DestroyIcon. Never a shared icon of the system
// (LoadIcon), which must not be destroyed.
struct IconDestroyer {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDestroyer>;

// Windows and modeless dialogs (CreateWindowEx, CreateDialogParam); DestroyWindow. A window
// whose WM_DESTROY is under way is released from its owner, not destroyed a second time.
struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using WindowHandle = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Menus from CreatePopupMenu; DestroyMenu.
struct MenuDestroyer {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

}  // namespace tsl
