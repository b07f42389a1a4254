#include <gtest/gtest.h>

#include <algorithm>

#include "tray/state_icon.h"
#include "tray/status_text.h"
#include "tray/tray_texts.h"

namespace {

using tsl::IconColour;
using tsl::SyncState;

std::uint32_t alpha(std::uint32_t p) {
    return p >> 24;
}

TEST(StateIcon, ColourPerState) {
    EXPECT_EQ(tsl::iconColourFor(SyncState::Starting), IconColour::Amber);
    EXPECT_EQ(tsl::iconColourFor(SyncState::SyncOff), IconColour::Amber);
    EXPECT_EQ(tsl::iconColourFor(SyncState::TallyUnreachable), IconColour::Amber);
    EXPECT_EQ(tsl::iconColourFor(SyncState::NotConnected), IconColour::Red);
    EXPECT_EQ(tsl::iconColourFor(SyncState::ServerUnreachable), IconColour::Red);
    EXPECT_EQ(tsl::iconColourFor(SyncState::Paused), IconColour::Red);
    EXPECT_EQ(tsl::iconColourFor(SyncState::Syncing), IconColour::Green);
    EXPECT_EQ(tsl::iconColourFor(SyncState::UpToDate), IconColour::Green);
    EXPECT_EQ(tsl::iconColourFor(static_cast<SyncState>(8)), IconColour::Grey);
    EXPECT_EQ(tsl::iconColourFor(static_cast<SyncState>(-1)), IconColour::Grey);
}

TEST(StateIcon, PixelsOfTheDiscAndTheLetter) {
    // size, then where the T's bar and stem must be white: q, t, stemLeft, stemEnd.
    struct Case {
        int size, q, t, stemLeft, stemEnd;
    } cases[] = {{16, 4, 2, 7, 12}, {20, 6, 2, 9, 15}, {24, 7, 3, 11, 18}, {32, 9, 4, 14, 24}};
    for (const Case& c : cases) {
        const auto px = tsl::stateIconPixels(IconColour::Green, c.size);
        ASSERT_EQ(px.size(), static_cast<std::size_t>(c.size * c.size));
        auto at = [&](int x, int y) { return px[static_cast<std::size_t>(y * c.size + x)]; };
        EXPECT_EQ(alpha(at(0, 0)), 0u) << c.size;  // transparent corners
        EXPECT_EQ(alpha(at(c.size - 1, c.size - 1)), 0u);
        EXPECT_EQ(alpha(at(c.size / 2, c.size / 2)), 255u);  // opaque centre
        // White T, premultiplied: every component equals alpha.
        for (auto [x, y] : {std::pair{c.q, c.q},
                            {c.size - c.q - 1, c.q + c.t - 1},
                            {c.stemLeft, c.stemEnd - 1},
                            {c.stemLeft + c.t - 1, c.q}}) {
            const std::uint32_t p = at(x, y);
            const std::uint32_t a = alpha(p);
            EXPECT_EQ(p, a << 24 | a << 16 | a << 8 | a) << c.size << " at " << x << "," << y;
        }
        // Just below the stem and outside the bar: the disc's colour.
        const std::uint32_t below = at(c.stemLeft, c.stemEnd);
        EXPECT_EQ(below, 0xFF000000u | 46u << 16 | 160u << 8 | 67u) << c.size;
        const std::uint32_t beside = at(c.q - 1, c.q);
        EXPECT_NE(beside & 0xFFu, alpha(beside)) << c.size;
    }
    // Edge pixels are blended, not cut: some alpha strictly between 0 and 255.
    const auto px = tsl::stateIconPixels(IconColour::Red, 16);
    EXPECT_TRUE(std::any_of(px.begin(), px.end(),
                            [](std::uint32_t p) { return alpha(p) > 0 && alpha(p) < 255; }));
}

TEST(TrayTexts, TooltipAndBalloons) {
    EXPECT_EQ(tsl::trayTooltip(SyncState::UpToDate), "Tessaline Tally Connector\nUp to date");
    struct Step {
        SyncState from, to;
        const char* balloon;  // nullptr: none
    } steps[] = {
        {SyncState::Starting, SyncState::NotConnected, nullptr},
        {SyncState::UpToDate, SyncState::NotConnected, "Tally sync stopped"},
        {SyncState::Syncing, SyncState::Paused, "Tally sync paused"},
        {SyncState::Paused, SyncState::Paused, nullptr},
        {SyncState::Paused, SyncState::UpToDate, nullptr},
        {SyncState::NotConnected, SyncState::NotConnected, nullptr},
        {SyncState::Starting, SyncState::Paused, "Tally sync paused"},
    };
    for (const Step& s : steps) {
        const auto title = tsl::balloonTitle(s.from, s.to);
        if (s.balloon) {
            ASSERT_TRUE(title.has_value());
            EXPECT_EQ(*title, s.balloon);
        } else {
            EXPECT_FALSE(title.has_value());
        }
    }
}

// A peer's text cannot add lines to the status dialog or the balloon.
TEST(TrayTexts, PeerTextIsEscaped) {
    tsl::SyncStatus status;
    status.state = SyncState::Syncing;
    status.message = "Tally said:\r\nStatus:  Up to date";
    status.lastJob = "import\x1B[2J";
    const std::string text = tsl::statusText(status, tsl::Settings{}, "PC\n");
    EXPECT_NE(text.find("\r\n         Tally said:\\r\\nStatus:  Up to date\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nLast job:  import\\x1B[2J\r\n"), std::string::npos);
    EXPECT_NE(text.find("on PC\\n\r\n"), std::string::npos);
    EXPECT_EQ(tsl::balloonText("Disconnected\n\x07"), "Disconnected\\n\\x07");
}

TEST(TrayTexts, SettingsPage) {
    EXPECT_EQ(tsl::tallySettingsPage("https://h/tessaline/api"),
              "https://h/tessaline/web/accounting/tally");
    EXPECT_EQ(tsl::tallySettingsPage("https://h/x/API"), "https://h/x/API/web/accounting/tally");
    EXPECT_EQ(tsl::tallySettingsPage("https://h"), "https://h/web/accounting/tally");
    for (auto [address, web] : {std::pair{"https://h/x", true},
                                {"HTTP://h", true},
                                {"\\\\server\\share\\tool.exe", false},
                                {"C:\\Windows\\notepad.exe", false},
                                {"file:///C:/x", false},
                                {"http:/h", false},
                                {"", false}}) {
        EXPECT_EQ(tsl::isWebAddress(tsl::tallySettingsPage(address)), web) << address;
    }
}

TEST(TrayTexts, MenuFollowsPairingAndStartEntry) {
    const auto unpaired = tsl::trayMenu(SyncState::NotConnected, false, true);
    ASSERT_EQ(unpaired.size(), 10u);
    EXPECT_EQ(unpaired[0].text, "Not connected to Tessaline");
    EXPECT_TRUE(unpaired[0].grayed);
    EXPECT_TRUE(unpaired[1].separator && unpaired[8].separator);
    EXPECT_TRUE(unpaired[3].grayed);
    EXPECT_EQ(unpaired[4].text, "&Pair with Tessaline...");
    EXPECT_TRUE(unpaired[7].checked);
    EXPECT_EQ(unpaired[9].id, tsl::kCmdExit);

    const auto paired = tsl::trayMenu(SyncState::UpToDate, true, false);
    for (std::size_t i = 2; i < paired.size(); ++i) {
        EXPECT_FALSE(paired[i].grayed) << paired[i].text;  // every command can be used
        EXPECT_EQ(paired[i].separator, i == 8) << paired[i].text;
        if (i != 7) {
            EXPECT_FALSE(paired[i].checked) << paired[i].text;
        }
    }
    EXPECT_EQ(paired[4].text, "&Connection settings...");
    EXPECT_FALSE(paired[7].checked);
    unsigned expectedId = tsl::kCmdStatus;
    for (std::size_t i = 2; i <= 7; ++i)
        EXPECT_EQ(paired[i].id, expectedId++);
}

}  // namespace
