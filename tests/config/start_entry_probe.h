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

// The command the entry starts ("" when there is none).
std::string startEntryCommand();

}  // namespace tsl::testing
