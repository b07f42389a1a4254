#include "config/start_entry_probe.h"
#include "common/temp_dir.h"
#include "config/desktop_entry.h"

namespace tsl::testing {

namespace {

std::filesystem::path entryFile() {
    const char* base = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(base ? base : "") / "autostart" /
           "Tessaline Tally Connector.desktop";
}

}  // namespace

std::shared_ptr<void> sandboxStartEntry(const std::filesystem::path& folder) {
    return std::make_shared<ScopedEnv>("XDG_CONFIG_HOME", folder.string());
}

std::string storedStartEntry() {
    return readFile(entryFile());
}

std::string expectedStartEntry() {
    return desktopEntryText(std::filesystem::read_symlink("/proc/self/exe").string());
}

void plantForeignStartEntry() {
    std::filesystem::create_directories(entryFile().parent_path());
    writeFile(entryFile(), desktopEntryText("/elsewhere/connector"));
}

}  // namespace tsl::testing
