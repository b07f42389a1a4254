// The state icon as Windows holds it: the colour bitmap read back from the icon carries the
// premultiplied pixels at the size asked for (16 at 96 DPI, 24 at 144, 32 at 192).

#include <gtest/gtest.h>

#include <utility>

#include "support/win32_handles.h"
#include "tray/icon_drawing.h"

namespace {

TEST(StateIconWin32, BitmapHoldsThePixels) {
    const std::pair<tsl::IconColour, int> cases[] = {
        {tsl::IconColour::Green, 16}, {tsl::IconColour::Red, 24}, {tsl::IconColour::Amber, 32}};
    for (const auto& [colour, size] : cases) {
        SCOPED_TRACE(size);
        const tsl::IconHandle icon = tsl::makeStateIcon(colour, size);
        ASSERT_TRUE(icon) << "not drawn";
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        tsl::GdiObject<HBITMAP> colourBits(info.hbmColor), mask(info.hbmMask);
        EXPECT_TRUE(info.fIcon);
        BITMAP bitmap{};
        ASSERT_TRUE(GetObjectW(colourBits.get(), sizeof bitmap, &bitmap));
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmHeight, size);
        // Read back top-down: drawn upside down, the rows would differ.
        BITMAPINFO header{{sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
                          {}};
        std::vector<std::uint32_t> got(static_cast<std::size_t>(size * size));
        {
            tsl::WindowDc screen(nullptr);
            ASSERT_EQ(GetDIBits(screen.get(), colourBits.get(), 0, size, got.data(), &header,
                                DIB_RGB_COLORS),
                      size);
        }
        EXPECT_EQ(got, tsl::stateIconPixels(colour, size));
    }
}

}  // namespace
