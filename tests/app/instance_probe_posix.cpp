#include "app/instance_probe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "app/single_instance.h"
#include "common/temp_dir.h"

namespace tsl::testing {

namespace {

// Whether another open of the file could take its flock now.
bool lockIsFree(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return true;  // no lock file, nobody holds it
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

}  // namespace

struct InstanceProbe::Scratch {
    TempDir dir;
    ScopedEnv runtime{"XDG_RUNTIME_DIR", (dir.path() / "run").string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    Scratch() { std::filesystem::create_directories(dir.path() / "run"); }
};

InstanceProbe::InstanceProbe() : scratch_(std::make_unique<Scratch>()) {}
InstanceProbe::~InstanceProbe() = default;

bool InstanceProbe::claimIsFree() const {
    return lockIsFree(scratch_->dir.path() / "run" / "tessaline-tally-connector.lock");
}

namespace {

// Without a usable runtime folder the lock lives in the settings folder, which is per user too.
TEST(SingleInstance, LockFallsBackToTheSettingsFolder) {
    for (const char* runtime : {"", "relative/run"}) {
        TempDir dir;
        ScopedEnv noRuntime("XDG_RUNTIME_DIR", runtime);
        ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").string());
        const auto lock =
            dir.path() / "config" / "Tessaline" / "Tally Connector" / "connector.lock";
        std::optional<SingleInstance> first(std::in_place);
        ASSERT_FALSE(first->anotherIsRunning()) << runtime;
        EXPECT_FALSE(lockIsFree(lock)) << runtime;
        EXPECT_TRUE(SingleInstance().anotherIsRunning()) << runtime;
        first.reset();
        EXPECT_TRUE(lockIsFree(lock)) << runtime;
    }
}

}  // namespace

}  // namespace tsl::testing
