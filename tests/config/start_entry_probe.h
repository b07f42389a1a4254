#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tsl::testing {

// Points the start-at-logon entry at a scratch place for a test (Linux: XDG_CONFIG_HOME into
// the folder; Windows: the real per-user Run key of the Wine prefix, whose earlier value is
// put back afterwards).
class StartEntrySandbox {
  public:
    explicit StartEntrySandbox(const std::filesystem::path& folder);
    ~StartEntrySandbox();

  private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

struct StartEntry {
    std::string command;      // what the entry starts ("" when there is none)
    bool wellFormed = false;  // Windows: REG_SZ whose size counts one terminating zero;
                              // Linux: a [Desktop Entry] of Type=Application
};
StartEntry readStartEntry();

// An entry of that name left by another copy of the program, at another path.
void plantForeignStartEntry();

// The full path of the running test program, as the platform reports it.
std::string ownExecutablePath();

}  // namespace tsl::testing
