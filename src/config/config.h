#pragma once

#include <filesystem>
#include <mutex>

#include "config/settings.h"

namespace tsl {

// The settings of the run, from connector.ini. The file is shared: a console "--pair" or another
// copy may change it while this one runs, so a save writes only what the caller changed, over a
// fresh read of the file, and reload() takes up what others wrote.
// Thread-safe: one mutex guards the record, and save() holds it while the file is written.
// Never fails towards its callers: missing or damaged values give the defaults, write
// failures are ignored (memory keeps the new values).
class Config {
  public:
    // Uses <roaming app data>/Tessaline/Tally Connector for connector.ini and <local app
    // data>/Tessaline/Tally Connector as the state folder, creating the folders.
    Config();
    // Uses the given folder for connector.ini (created if missing) and as the state folder.
    // For tests and tools.
    explicit Config(const std::filesystem::path& folder);

    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    Settings settings() const;  // a consistent snapshot
    // Normalises the server address; writes the settings that differ from what this object
    // holds, over a fresh read of the file. The first save into a missing file writes them all.
    void save(const Settings& settings);
    void clearToken();  // empties the token and saves it, under one hold
    // Empties the token only while the file still holds `refused`: the refusal of an old token
    // must not undo a pairing made meanwhile. True when it was emptied.
    bool clearTokenIf(const std::string& refused);
    // Reads the file again; memory follows it. True when a setting changed.
    bool reload();
    bool isPaired() const;  // the token is not empty

    const std::filesystem::path& iniPath() const { return iniPath_; }
    // Where this PC's working files live (kept answers, the sync lock): never roams to another
    // PC with the user's profile, because what it holds is about this PC's Tally.
    const std::filesystem::path& stateFolder() const { return stateFolder_; }

  private:
    enum Field : unsigned {
        kUrl = 1,
        kOrganisation = 2,
        kCompany = 4,
        kHost = 8,
        kPort = 16,
        kToken = 32,
        kAll = 63
    };

    void load();
    Settings read() const;
    void write(const Settings& s, unsigned fields);  // called with mutex_ held

    std::filesystem::path iniPath_;
    std::filesystem::path stateFolder_;
    mutable std::mutex mutex_;
    Settings settings_;
};

}  // namespace tsl
