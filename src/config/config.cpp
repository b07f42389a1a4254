#include "config/config.h"

#include <system_error>

#include "config/ini_file.h"
#include "config/token_protection.h"
#include "support/app_folder.h"

namespace tsl {

namespace {

std::filesystem::path iniIn(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder / "connector.ini";
}

}  // namespace

Config::Config() : iniPath_(ensureAppFolder(roamingAppDataFolder()) / "connector.ini") {
    load();
}

Config::Config(const std::filesystem::path& folder) : iniPath_(iniIn(folder)) {
    load();
}

void Config::load() {
    const IniFile ini(iniPath_);
    Settings s;
    s.serverUrl = normaliseServerUrl(ini.readString("server", "url", kDefaultServerUrl));
    s.organisation = ini.readString("server", "organisation", "");
    s.company = ini.readString("server", "company", "");
    s.tallyHost = ini.readString("tally", "host", "localhost");
    s.tallyPort = ini.readInt("tally", "port", 9000);
    s.token = unprotectToken(ini.readString("auth", "token", ""));
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(s);
}

Settings Config::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void Config::save(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
    settings_.serverUrl = normaliseServerUrl(settings_.serverUrl);
    write(settings_);
}

void Config::clearToken() {
    // One hold of the mutex: a save by another thread cannot slip in between.
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.token.clear();
    write(settings_);
}

bool Config::isPaired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !settings_.token.empty();
}

void Config::write(const Settings& s) {
    IniFile ini(iniPath_);
    ini.writeString("server", "url", s.serverUrl);
    ini.writeString("server", "organisation", s.organisation);
    ini.writeString("server", "company", s.company);
    ini.writeString("tally", "host", s.tallyHost);
    ini.writeString("tally", "port", std::to_string(s.tallyPort));
    ini.writeString("auth", "token", protectToken(s.token));
}

}  // namespace tsl
