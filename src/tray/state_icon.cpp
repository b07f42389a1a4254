#include "tray/state_icon.h"

#include <algorithm>
#include <cmath>

namespace tsl {

IconColour iconColourFor(SyncState state) {
    switch (state) {
        case SyncState::Starting:
        case SyncState::SyncOff:
        case SyncState::TallyUnreachable:
        case SyncState::AnswersNotWritten:
            return IconColour::Amber;
        case SyncState::NotConnected:
        case SyncState::ServerUnreachable:
        case SyncState::Paused:
            return IconColour::Red;
        case SyncState::Syncing:
        case SyncState::UpToDate:
            return IconColour::Green;
    }
    return IconColour::Grey;
}

std::vector<std::uint32_t> stateIconPixels(IconColour colour, int size) {
    const auto ref = static_cast<std::uint32_t>(colour);
    const std::uint32_t red = ref & 0xFF, green = (ref >> 8) & 0xFF, blue = (ref >> 16) & 0xFF;
    const int s = std::max(size, 0);
    const int t = std::max(s / 8, 2);  // stroke width of the T
    const int q = (3 * s) / 10;        // top and side inset of the T
    const int stemEnd = (3 * s) / 4;
    const int stemLeft = s / 2 - t / 2;
    const double c = s * 0.5;

    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(s) * static_cast<std::size_t>(s));
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; ++x) {
            const double d = std::clamp(c - std::hypot(x + 0.5 - c, y + 0.5 - c), 0.0, 1.0);
            const bool bar = y >= q && y < q + t && x >= q && x < s - q;
            const bool stem = x >= stemLeft && x < stemLeft + t && y >= q && y < stemEnd;
            const bool white = bar || stem;
            const std::uint32_t a = static_cast<std::uint32_t>(d * 255.0) % 256;
            const std::uint32_t r = (a * (white ? 255 : red)) / 255;
            const std::uint32_t g = (a * (white ? 255 : green)) / 255;
            const std::uint32_t b = (a * (white ? 255 : blue)) / 255;
            pixels[static_cast<std::size_t>(y) * s + x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    return pixels;
}

}  // namespace tsl
