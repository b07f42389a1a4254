// Whatever the umask, what the connector creates on Linux is its user's alone: another local
// user must not be able to change what starts at logon, where the token goes, or the log.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/config.h"
#include "config/start_with_windows.h"
#include "support/logger.h"

namespace {

using tsl::testing::ScopedEnv;
using tsl::testing::TempDir;

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Settings with the token, the autostart entry, the log before and after a rotation: every
// file 0600 and every folder the program made 0700, while ~/.config (not ours) keeps its mode.
TEST(PrivateFiles, ModesDoNotFollowTheUmask) {
    for (const mode_t mask : {mode_t{0000}, mode_t{0022}, mode_t{0277}}) {
        TempDir dir;
        const auto home = dir.path() / "home";
        ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((home / ".config").c_str(), 0755), 0);
        ::chmod((home / ".config").c_str(), 0755);
        // XDG_CONFIG_HOME where it is set, ~/.config where it is empty.
        const auto configHome = mask == 0 ? home / "xdg-config" : home / ".config";
        ScopedEnv homeEnv("HOME", home.string()),
            config("XDG_CONFIG_HOME", mask == 0 ? configHome.string() : ""),
            state("XDG_STATE_HOME", ""), data("XDG_DATA_HOME", "");
        const mode_t previous = ::umask(mask);
        {
            tsl::Config settings;  // makes its folder, but writes no file before a save
            EXPECT_FALSE(std::filesystem::exists(settings.iniPath()));
            settings.save({.token = "tok", .organisation = "", .company = ""});
            tsl::setStartWithWindows(true);
            tsl::Logger::start(false);
            tsl::Logger::info("first");
            const auto log = tsl::Logger::folder() / "connector.log";
            std::filesystem::resize_file(log, tsl::Logger::kRotateBytes + 1);
            tsl::Logger::info("after rotation");
            tsl::Logger::reset();
        }
        ::umask(previous);

        const auto app = std::filesystem::path("Tessaline") / "Tally Connector";
        for (const auto& file :
             {configHome / app / "connector.ini", home / ".local/share" / app / "token.key",
              configHome / "autostart/Tessaline Tally Connector.desktop",
              home / ".local/state" / app / "logs/connector.log",
              home / ".local/state" / app / "logs/connector.1.log"})
            EXPECT_TRUE(std::filesystem::is_regular_file(file)) << file;
        EXPECT_EQ(modeOf(home / ".config"), 0755u);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
            if (entry.path() == home / ".config") continue;
            const mode_t expected = entry.is_directory() ? 0700 : 0600;
            EXPECT_EQ(modeOf(entry.path()), expected)
                << entry.path() << " umask " << std::oct << mask;
        }
    }
}

}  // namespace
