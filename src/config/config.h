#pragma once

#include <filesystem>
#include <mutex>

#include "config/settings.h"

namespace tsl {

// The settings of the run, loaded once from connector.ini and saved back on every save().
// Thread-safe: one mutex guards the record, and save() holds it while the file is written.
// Never fails towards its callers: missing or damaged values give the defaults, write
// failures are ignored (memory keeps the new values).
class Config {
  public:
    // Uses <roaming app data>/Tessaline/Tally Connector, creating the folders.
    Config();
    // Uses the given folder for connector.ini (created if missing). For tests and tools.
    explicit Config(const std::filesystem::path& folder);

    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    Settings settings() const;            // a consistent snapshot
    void save(const Settings& settings);  // normalises the server address, writes all keys
    void clearToken();                    // empties the token and saves, under one hold
    bool isPaired() const;                // the token is not empty

    const std::filesystem::path& iniPath() const { return iniPath_; }

  private:
    void load();
    void write(const Settings& s);  // called with mutex_ held

    std::filesystem::path iniPath_;
    mutable std::mutex mutex_;
    Settings settings_;
};

}  // namespace tsl
