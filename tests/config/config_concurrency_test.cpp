// The settings are saved and read from the main thread and the sync worker at once: every
// snapshot and the file must always hold one whole record.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/temp_dir.h"
#include "config/config.h"

namespace {

using tsl::testing::TempDir;

// A record whose fields all tell which save wrote it.
tsl::Settings tagged(const std::string& tag) {
    return {"https://" + tag, tag, 9000, tag, tag, tag};
}

class ConfigConcurrency : public ::testing::Test {
  protected:
    TempDir dir;
    // Off Windows the per-user secret of the token protection lives under XDG_DATA_HOME.
    tsl::testing::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
};

TEST_F(ConfigConcurrency, SavesAndSnapshotsNeverMixTwoRecords) {
    tsl::Config config(dir.path());
    config.save(tagged("first"));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            const tsl::Settings s = config.settings();
            ASSERT_EQ(s.tallyHost, s.company);
            ASSERT_EQ(s.serverUrl, "https://" + s.organisation);
        }
    });
    auto saver = [&config](const std::string& tag) {
        for (int i = 0; i < 30; ++i)
            config.save(tagged(tag));
    };
    std::thread a(saver, "aaa"), b(saver, "bbb");
    a.join();
    b.join();
    done = true;
    reader.join();

    const tsl::Settings mem = config.settings(), file = tsl::Config(dir.path()).settings();
    for (const std::string& field : {mem.organisation, mem.token, file.company, file.token})
        EXPECT_EQ(field, mem.company);
}

// clearToken must not write back a stale snapshot over a save made by another thread.
TEST_F(ConfigConcurrency, ClearTokenNeverUndoesAnotherSave) {
    tsl::Config config(dir.path());
    std::atomic<bool> done{false};
    auto unpair = [&] {
        while (!done)
            config.clearToken();
    };
    std::thread unpairer(unpair), unpairer2(unpair);
    for (int i = 0; i < 60; ++i) {
        const std::string tag = std::string("c").append(std::to_string(i));
        config.save(tagged(tag));
        ASSERT_EQ(config.settings().company, tag) << "a stale record was saved over " << tag;
    }
    done = true;
    unpairer.join();
    unpairer2.join();
    config.clearToken();
    const tsl::Settings file = tsl::Config(dir.path()).settings();
    EXPECT_EQ(file.company, "c59");
    EXPECT_EQ(file.token, "");
}

}  // namespace
