#include "config/start_with_windows.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/desktop_entry.h"
#include "config/start_entry_probe.h"

namespace {

using tsl::testing::storedStartEntry;

TEST(StartWithWindows, EnableTakesAnotherCopysEntryOverOnceAndDisableRemovesIt) {
    tsl::testing::TempDir dir;
    const auto sandbox = tsl::testing::sandboxStartEntry(dir.path());
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(storedStartEntry(), "");

    tsl::testing::plantForeignStartEntry();
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());  // another copy's entry counts
    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(storedStartEntry(), tsl::testing::expectedStartEntry());

    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(storedStartEntry(), "");
}

TEST(DesktopEntry, ExecQuotesThePathForBothEscapingRules) {
    struct Case {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/opt/tsl/connector", R"(Exec="/opt/tsl/connector" --background)"},
        {"/home/a b/connector", R"(Exec="/home/a b/connector" --background)"},
        {"/opt/$HOME/x", R"(Exec="/opt/\\$HOME/x" --background)"},
        {"/opt/`id`/x", R"(Exec="/opt/\\`id\\`/x" --background)"},
        {"/opt/q\"uote/x", R"(Exec="/opt/q\\"uote/x" --background)"},
        {"/opt/back\\slash", R"(Exec="/opt/back\\\\slash" --background)"},
        {"/opt/100%/x", R"(Exec="/opt/100%%/x" --background)"},
        {"/opt/new\nline", R"(Exec="/opt/new\nline" --background)"},
    };
    for (const Case& c : cases) {
        const std::string text = tsl::desktopEntryText(c.path);
        EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
        EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
        EXPECT_NE(text.find("\n" + std::string(c.exec) + "\n"), std::string::npos) << c.path << "\n"
                                                                                   << text;
    }
}

}  // namespace
