// Start at logon off Windows: the autostart desktop entry, the desktop's switch that turns it
// off, and the quoting of its Exec line.
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/desktop_entry.h"
#include "config/start_with_windows.h"

namespace {

using tsl::testing::readFile;

TEST(StartWithWindows, EnableTakesAnotherCopysEntryOverOnceAndDisableRemovesIt) {
    tsl::testing::TempDir dir;
    tsl::testing::ScopedEnv configHome("XDG_CONFIG_HOME", dir.path().string());
    const auto entry = dir.path() / "autostart" / "Tessaline Tally Connector.desktop";
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());

    std::filesystem::create_directories(entry.parent_path());
    tsl::testing::writeFile(entry, tsl::desktopEntryText("/elsewhere/connector"));
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());  // another copy's entry counts
    tsl::testing::writeFile(entry, tsl::desktopEntryText("/elsewhere/connector") + "Hidden=true\n");
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());  // the desktop skips it: set again, it is on
    EXPECT_TRUE(tsl::isStartTurnedOffByUser());
    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(readFile(entry),
              tsl::desktopEntryText(std::filesystem::read_symlink("/proc/self/exe").string()));

    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_FALSE(std::filesystem::exists(entry));
    // Its user enabled the systemd unit: that starts it at logon too.
    const auto unit = dir.path() / "systemd/user/default.target.wants";
    std::filesystem::create_directories(unit);
    tsl::testing::writeFile(unit / "tessaline-tally-connector.service", "");
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
}

TEST(DesktopEntry, TurnedOffByHiddenOrGnomesSwitchInItsOwnGroupOnly) {
    const std::pair<const char*, bool> cases[] = {
        {"[Desktop Entry]\nHidden=true\n", true},
        {"[Desktop Entry]\r\nName=x\r\n  Hidden = 1\r\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false", true},
        {"[Desktop Entry]\nHidden=false\nX-GNOME-Autostart-enabled=true\n", false},
        {"[Desktop Entry]\nName=x\n[Desktop Action a]\nHidden=true\n", false},
        {"Hidden=true\n[Desktop Entry]\nHiddenX=true\nNoDisplay=true\n", false},
    };
    for (const auto& [text, off] : cases)
        EXPECT_EQ(tsl::isAutostartEntryTurnedOff(text), off) << text;
    EXPECT_FALSE(tsl::isAutostartEntryTurnedOff(tsl::desktopEntryText("/opt/tsl/connector")));
}

TEST(DesktopEntry, ExecQuotesThePathForBothEscapingRules) {
    const std::pair<const char*, std::string> cases[] = {
        {"/opt/tsl/connector", R"(Exec="/opt/tsl/connector" --background)"},
        {"/home/a b/connector", R"(Exec="/home/a b/connector" --background)"},
        {"/opt/$HOME/x", R"(Exec="/opt/\\$HOME/x" --background)"},
        {"/opt/`id`/x", R"(Exec="/opt/\\`id\\`/x" --background)"},
        {"/opt/q\"uote/x", R"(Exec="/opt/q\\"uote/x" --background)"},
        {"/opt/back\\slash", R"(Exec="/opt/back\\\\slash" --background)"},
        {"/opt/100%/x", R"(Exec="/opt/100%%/x" --background)"},
        {"/opt/new\nline", R"(Exec="/opt/new\nline" --background)"},
    };
    for (const auto& [path, exec] : cases) {
        const std::string text = tsl::desktopEntryText(path);
        EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
        EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
        EXPECT_NE(text.find("\n" + exec + "\n"), std::string::npos) << path << "\n" << text;
    }
}

}  // namespace
