#include "config/start_with_windows.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/desktop_entry.h"
#include "config/start_entry_probe.h"

namespace {

using tsl::testing::readStartEntry;

TEST(StartWithWindows, EnableIsIdempotentAndDisableRemoves) {
    tsl::testing::TempDir dir;
    tsl::testing::StartEntrySandbox sandbox(dir.path());
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
    EXPECT_EQ(readStartEntry().command, "");

    tsl::setStartWithWindows(true);
    tsl::setStartWithWindows(true);
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    const tsl::testing::StartEntry entry = readStartEntry();
    EXPECT_TRUE(entry.wellFormed);
    EXPECT_EQ(entry.command, "\"" + tsl::testing::ownExecutablePath() + "\" --background");

    tsl::setStartWithWindows(false);
    tsl::setStartWithWindows(false);
    EXPECT_FALSE(tsl::isStartWithWindowsEnabled());
}

TEST(StartWithWindows, AnotherCopysEntryCountsAndIsTakenOver) {
    tsl::testing::TempDir dir;
    tsl::testing::StartEntrySandbox sandbox(dir.path());
    tsl::testing::plantForeignStartEntry();
    EXPECT_TRUE(tsl::isStartWithWindowsEnabled());
    tsl::setStartWithWindows(true);
    EXPECT_EQ(readStartEntry().command,
              "\"" + tsl::testing::ownExecutablePath() + "\" --background");
    tsl::setStartWithWindows(false);
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
