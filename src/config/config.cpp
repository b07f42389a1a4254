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

Config::Config()
    : iniPath_(ensureAppFolder(roamingAppDataFolder()) / "connector.ini"),
      stateFolder_(ensureAppFolder(localAppDataFolder())) {
    load();
}

Config::Config(const std::filesystem::path& folder)
    : iniPath_(iniIn(folder)), stateFolder_(iniPath_.parent_path()) {
    load();
}

Settings Config::read() const {
    const IniFile ini(iniPath_);
    Settings s;
    s.serverUrl = normaliseServerUrl(ini.readString("server", "url", kDefaultServerUrl));
    s.organisation = ini.readString("server", "organisation", "");
    s.company = ini.readString("server", "company", "");
    s.tallyHost = ini.readString("tally", "host", "localhost");
    s.tallyPort = ini.readInt("tally", "port", 9000);
    s.token = unprotectToken(ini.readString("auth", "token", ""));
    return s;
}

void Config::load() {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = read();
    // A token an older version saved unbound is taken this once and saved again bound to this
    // PC; a blob roamed from another PC does not open and reads as not paired.
    const std::string stored = IniFile(iniPath_).readString("auth", "token", "");
    if (!settings_.token.empty() && isUnboundToken(stored)) write(settings_, kToken);
}

bool Config::reload() {
    std::lock_guard<std::mutex> lock(mutex_);
    Settings fresh = read();
    const bool changed =
        fresh.serverUrl != settings_.serverUrl || fresh.organisation != settings_.organisation ||
        fresh.company != settings_.company || fresh.tallyHost != settings_.tallyHost ||
        fresh.tallyPort != settings_.tallyPort || fresh.token != settings_.token;
    settings_ = std::move(fresh);
    return changed;
}

Settings Config::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

void Config::save(const Settings& settings) {
    Settings wanted = settings;
    wanted.serverUrl = normaliseServerUrl(wanted.serverUrl);
    std::lock_guard<std::mutex> lock(mutex_);
    std::error_code ec;
    if (!std::filesystem::exists(iniPath_, ec)) {
        settings_ = wanted;
        write(settings_, kAll);
        return;
    }
    // Only what the caller changed goes over what the file holds now.
    Settings merged = read();
    unsigned changed = 0;
    auto take = [&changed](auto& into, const auto& from, const auto& before, Field field) {
        if (from == before) return;
        into = from;
        changed |= field;
    };
    take(merged.serverUrl, wanted.serverUrl, settings_.serverUrl, kUrl);
    take(merged.organisation, wanted.organisation, settings_.organisation, kOrganisation);
    take(merged.company, wanted.company, settings_.company, kCompany);
    take(merged.tallyHost, wanted.tallyHost, settings_.tallyHost, kHost);
    take(merged.tallyPort, wanted.tallyPort, settings_.tallyPort, kPort);
    take(merged.token, wanted.token, settings_.token, kToken);
    settings_ = std::move(merged);
    if (changed != 0) write(settings_, changed);
}

void Config::clearToken() {
    // One hold of the mutex: a save by another thread cannot slip in between.
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = read();
    settings_.token.clear();
    write(settings_, kToken);
}

bool Config::clearTokenIf(const std::string& refused) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = read();
    if (settings_.token.empty() || settings_.token != refused) return false;
    settings_.token.clear();
    write(settings_, kToken);
    return true;
}

bool Config::isPaired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !settings_.token.empty();
}

// The keys in the order a new file lists them, written at once.
void Config::write(const Settings& s, unsigned fields) {
    std::vector<IniEntry> entries;
    if (fields & kUrl) entries.push_back({"server", "url", oneLine(s.serverUrl)});
    if (fields & kOrganisation)
        entries.push_back({"server", "organisation", oneLine(s.organisation)});
    if (fields & kCompany) entries.push_back({"server", "company", oneLine(s.company)});
    if (fields & kHost) entries.push_back({"tally", "host", oneLine(s.tallyHost)});
    if (fields & kPort) entries.push_back({"tally", "port", std::to_string(s.tallyPort)});
    if (fields & kToken) entries.push_back({"auth", "token", protectToken(s.token)});
    IniFile(iniPath_).write(entries);
}

}  // namespace tsl
