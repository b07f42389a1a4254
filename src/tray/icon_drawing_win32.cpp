#include "tray/icon_drawing.h"

#include <cstring>

namespace tsl {

namespace {

// Looked up by name: Windows 7 and 8.1, which the program supports, do not have them.
template <typename Function>
Function user32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

int smallIconSize(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    using DpiForSystem = UINT(WINAPI*)();
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    const auto forWindow = user32Function<DpiForWindow>("GetDpiForWindow");
    const auto forSystem = user32Function<DpiForSystem>("GetDpiForSystem");
    const auto metrics = user32Function<MetricsForDpi>("GetSystemMetricsForDpi");
    UINT dpi = 0;
    if (window && forWindow) dpi = forWindow(window);
    if (dpi == 0 && forSystem) dpi = forSystem();
    const int size = dpi != 0 && metrics ? metrics(SM_CXSMICON, dpi) : 0;
    return size > 0 ? size : GetSystemMetrics(SM_CXSMICON);
}

IconHandle makeStateIcon(IconColour colour, int size) {
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(BITMAPV5HEADER);
    header.bV5Width = size;
    header.bV5Height = -size;  // rows top-down
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;

    void* bits = nullptr;
    GdiObject<HBITMAP> colourBitmap;
    {
        WindowDc screen(nullptr);
        colourBitmap.reset(CreateDIBSection(screen.get(), reinterpret_cast<BITMAPINFO*>(&header),
                                            DIB_RGB_COLORS, &bits, nullptr, 0));
    }
    if (!colourBitmap || !bits || size <= 0) return IconHandle();

    const auto pixels = stateIconPixels(colour, size);
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(pixels[0]));

    GdiObject<HBITMAP> mask(CreateBitmap(size, size, 1, 1, nullptr));
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask.get();
    info.hbmColor = colourBitmap.get();
    return IconHandle(CreateIconIndirect(&info));
}

}  // namespace tsl
