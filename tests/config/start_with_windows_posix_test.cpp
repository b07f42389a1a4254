// Start at logon off Windows: the autostart desktop entry and the quoting of its Exec line.
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
    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(readFile(entry),
              tsl::desktopEntryText(std::filesystem::read_symlink("/proc/self/exe").string()));

    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_FALSE(std::filesystem::exists(entry));
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
