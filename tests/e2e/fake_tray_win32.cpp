// Stands in for a running tray program: holds the single-instance mutex and a hidden window of
// the tray class, prints "ready", and reports the first activation message it receives as
// "activated <wParam> <lParam>" (exit 0). Gives up after 20 s (exit 3).

#include <windows.h>

#include <cstdio>

namespace {

constexpr UINT kActivateMessage = WM_APP + 2;
constexpr UINT_PTR kGiveUpTimer = 1;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kActivateMessage) {
        std::printf("activated %llu %lld\n", static_cast<unsigned long long>(wParam),
                    static_cast<long long>(lParam));
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER && wParam == kGiveUpTimer) {
        std::printf("no activation\n");
        PostQuitMessage(3);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main() {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\TessalineTallyConnector");
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::printf("mutex not taken\n");
        return 2;
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TessalineTallyConnectorTray";
    HWND window = RegisterClassW(&windowClass)
                      ? CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0,
                                        0, nullptr, nullptr, windowClass.hInstance, nullptr)
                      : nullptr;
    if (!window) {
        std::printf("no window (error %lu)\n", GetLastError());
        return 2;
    }
    SetTimer(window, kGiveUpTimer, 20000, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    std::fflush(stdout);
    DestroyWindow(window);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return static_cast<int>(message.wParam);
}
