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

// An INI value is one line. A line break inside a value (a company name as Tally sends it,
// say) would cut the value there and leave the rest as stray lines, even a stray "[section]",
// in the file; each run of CR/LF becomes one blank instead. Memory keeps the value as given.
std::string oneLine(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool lineBreak = value[i] == '\r' || value[i] == '\n';
        if (!lineBreak) {
            out += value[i];
        } else if (i == 0 || (value[i - 1] != '\r' && value[i - 1] != '\n')) {
            out += ' ';
        }
    }
    return out;
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
    const std::string stored = ini.readString("auth", "token", "");
    s.token = unprotectToken(stored);
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(s);
    // A token an older version saved unbound is taken this once and saved again bound to this
    // PC; a blob roamed from another PC does not open and reads as not paired.
    if (!settings_.token.empty() && isUnboundToken(stored)) write(settings_);
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
    ini.writeString("server", "url", oneLine(s.serverUrl));
    ini.writeString("server", "organisation", oneLine(s.organisation));
    ini.writeString("server", "company", oneLine(s.company));
    ini.writeString("tally", "host", oneLine(s.tallyHost));
    ini.writeString("tally", "port", std::to_string(s.tallyPort));
    ini.writeString("auth", "token", protectToken(s.token));
}

}  // namespace tsl
