// The state icon as Windows holds it: the colour bitmap read back from the icon carries the
// premultiplied pixels, and the icon is as large as the small-icon metric.

#include <gtest/gtest.h>

#include "support/win32_handles.h"
#include "tray/state_icon.h"
#include "tray/tray_app.h"

namespace {

TEST(StateIconWin32, BitmapHoldsThePixels) {
    const int size = GetSystemMetrics(SM_CXSMICON);
    ASSERT_GT(size, 0);
    for (tsl::IconColour colour : {tsl::IconColour::Green, tsl::IconColour::Red}) {
        HICON icon = tsl::makeStateIcon(static_cast<COLORREF>(colour));
        ASSERT_NE(icon, LoadIconW(nullptr, IDI_APPLICATION)) << "fell back to the system icon";
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        tsl::GdiObject<HBITMAP> colourBits(info.hbmColor), mask(info.hbmMask);
        EXPECT_TRUE(info.fIcon);

        BITMAPINFO header{};
        header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        header.bmiHeader.biWidth = size;
        header.bmiHeader.biHeight = -size;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        header.bmiHeader.biCompression = BI_RGB;
        std::vector<std::uint32_t> got(static_cast<std::size_t>(size * size));
        {
            tsl::WindowDc screen(nullptr);
            ASSERT_EQ(GetDIBits(screen.get(), colourBits.get(), 0, size, got.data(), &header,
                                DIB_RGB_COLORS),
                      size);
        }
        EXPECT_EQ(got, tsl::stateIconPixels(colour, size));
        DestroyIcon(icon);
    }
}

}  // namespace
