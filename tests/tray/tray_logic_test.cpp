#include <gtest/gtest.h>

#include <iterator>

#include "tray/state_icon.h"
#include "tray/status_text.h"
#include "tray/tray_texts.h"

namespace {

using tsl::IconColour;
using tsl::SyncState;

// The icon as a person sees it at 96 DPI: a disc in the state's colour with a centred white T,
// its edge blended ('.'), outside transparent; premultiplied, as Windows draws it.
TEST(StateIcon, DiscWithAWhiteT) {
    const char* const picture[] = {
        "     ......     ", "   ..oooooo..   ", "  ..oooooooo..  ", " ..oooooooooo.. ",
        " .oo########oo. ", ".ooo########ooo.", ".oooooo##oooooo.", ".oooooo##oooooo.",
        ".oooooo##oooooo.", ".oooooo##oooooo.", ".oooooo##oooooo.", " .ooooo##ooooo. ",
        " ..oooooooooo.. ", "  ..oooooooo..  ", "   ..oooooo..   ", "     ......     "};
    const auto px = tsl::stateIconPixels(IconColour::Red, 16);
    ASSERT_EQ(px.size(), 256u);
    for (std::uint32_t y = 0; y < 16; ++y) {
        for (std::uint32_t x = 0; x < 16; ++x) {
            const std::uint32_t p = px[y * 16 + x], a = p >> 24;
            const bool white = picture[y][x] == '#';
            const std::uint32_t r = white ? 255 : 207, g = white ? 255 : 34, b = white ? 255 : 46;
            const char seen = a == 0 ? ' ' : a < 255 ? '.' : white ? '#' : 'o';
            EXPECT_EQ(seen, picture[y][x]) << x << "," << y;
            EXPECT_EQ(p, a << 24 | (a * r / 255) << 16 | (a * g / 255) << 8 | (a * b / 255))
                << x << "," << y;
        }
    }
}

TEST(TrayTexts, TooltipAndBalloons) {
    EXPECT_EQ(tsl::trayTooltip(SyncState::UpToDate), "Tessaline Tally Connector\nUp to date");
    struct Step {
        SyncState from, to;
        const char* balloon;  // "": none
    } steps[] = {
        {SyncState::Starting, SyncState::NotConnected, ""},
        {SyncState::UpToDate, SyncState::NotConnected, "Tally sync stopped"},
        {SyncState::Syncing, SyncState::Paused, "Tally sync paused"},
        {SyncState::Paused, SyncState::Paused, ""},
        {SyncState::Paused, SyncState::UpToDate, ""},
        {SyncState::NotConnected, SyncState::NotConnected, ""},
        {SyncState::Starting, SyncState::Paused, "Tally sync paused"},
    };
    for (const Step& s : steps)
        EXPECT_EQ(tsl::balloonTitle(s.from, s.to).value_or(""), s.balloon) << s.balloon;
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

// The state line is only read; unpaired there is nothing to sync; a report being saved is not
// started again; every other command can be used, each item giving its own command.
TEST(TrayTexts, MenuFollowsPairingStartEntryAndReport) {
    const auto unpaired = tsl::trayMenu(SyncState::NotConnected, false, true, true);
    const auto paired = tsl::trayMenu(SyncState::UpToDate, true, false, false);
    const unsigned ids[] = {0,
                            0,
                            tsl::kCmdStatus,
                            tsl::kCmdSyncNow,
                            tsl::kCmdConnection,
                            tsl::kCmdOpenTallyPage,
                            tsl::kCmdOpenLogFolder,
                            tsl::kCmdSaveReport,
                            tsl::kCmdStartWithWindows,
                            0,
                            tsl::kCmdExit};
    ASSERT_EQ(unpaired.size(), std::size(ids));
    ASSERT_EQ(paired.size(), std::size(ids));
    EXPECT_EQ(unpaired[0].text, "Not connected to Tessaline");
    EXPECT_EQ(unpaired[4].text, "&Pair with Tessaline...");
    EXPECT_EQ(paired[4].text, "&Connection settings...");
    EXPECT_EQ(paired[7].text, "Save &diagnostics report...");
    for (std::size_t i = 0; i < std::size(ids); ++i) {
        EXPECT_EQ(unpaired[i].grayed, i == 0 || i == 3 || i == 7) << unpaired[i].text;
        EXPECT_EQ(paired[i].grayed, i == 0) << paired[i].text;
        EXPECT_EQ(paired[i].separator, i == 1 || i == 9) << paired[i].text;
        EXPECT_EQ(unpaired[i].checked, i == 8) << unpaired[i].text;  // "Start with Windows"
        EXPECT_FALSE(paired[i].checked) << paired[i].text;
        EXPECT_EQ(paired[i].id, ids[i]) << paired[i].text;
    }
}

}  // namespace
