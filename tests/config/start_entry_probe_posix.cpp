#include <sstream>

#include "common/temp_dir.h"
#include "config/start_entry_probe.h"

namespace tsl::testing {

namespace {

std::filesystem::path entryFile() {
    const char* base = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(base ? base : "") / "autostart" /
           "Tessaline Tally Connector.desktop";
}

}  // namespace

struct StartEntrySandbox::Saved {
    ScopedEnv env;
};

StartEntrySandbox::StartEntrySandbox(const std::filesystem::path& folder)
    : saved_(new Saved{ScopedEnv("XDG_CONFIG_HOME", folder.string())}) {}

StartEntrySandbox::~StartEntrySandbox() = default;

StartEntry readStartEntry() {
    std::istringstream in(readFile(entryFile()));
    StartEntry entry;
    std::string line;
    bool header = false, application = false;
    while (std::getline(in, line)) {
        if (line == "[Desktop Entry]") header = true;
        if (line == "Type=Application") application = true;
        if (line.rfind("Exec=", 0) == 0) entry.command = line.substr(5);
    }
    entry.wellFormed = header && application;
    return entry;
}

void plantForeignStartEntry() {
    std::filesystem::create_directories(entryFile().parent_path());
    writeFile(entryFile(),
              "[Desktop Entry]\nType=Application\nExec=\"/elsewhere/connector\" --background\n");
}

std::string ownExecutablePath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

}  // namespace tsl::testing
