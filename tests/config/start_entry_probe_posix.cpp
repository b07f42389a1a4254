#include <sstream>

#include "common/temp_dir.h"
#include "config/start_entry_probe.h"

namespace tsl::testing {

struct StartEntrySandbox::Saved {
    ScopedEnv env;
};

StartEntrySandbox::StartEntrySandbox(const std::filesystem::path& folder)
    : saved_(new Saved{ScopedEnv("XDG_CONFIG_HOME", folder.string())}) {}

StartEntrySandbox::~StartEntrySandbox() = default;

std::string startEntryCommand() {
    const char* base = std::getenv("XDG_CONFIG_HOME");
    std::istringstream in(
        readFile(std::filesystem::path(base) / "autostart" / "Tessaline Tally Connector.desktop"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Exec=", 0) == 0) return line.substr(5);
    }
    return "";
}

}  // namespace tsl::testing
