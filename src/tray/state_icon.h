#pragma once

#include <cstdint>
#include <vector>

#include "sync/sync_status.h"

namespace tsl {

// The four colours of the tray icon, as COLORREF values (red in the low byte).
enum class IconColour : std::uint32_t {
    Grey = 9211020,   // 140, 140, 140
    Green = 4431918,  // 46, 160, 67
    Amber = 37339,    // 219, 145, 0
    Red = 3023567,    // 207, 34, 46
};

// Amber while starting or blocked on the user's side, red when Tessaline is out of reach or
// refuses, green when syncing, grey for anything unknown.
IconColour iconColourFor(SyncState state);

// The pixels of a state icon of size x size: an anti-aliased disc in the colour with a white
// "T", premultiplied alpha, each pixel A << 24 | R << 16 | G << 8 | B, rows top-down.
std::vector<std::uint32_t> stateIconPixels(IconColour colour, int size);

}  // namespace tsl
