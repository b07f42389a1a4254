#include "config/config.h"

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/base64.h"
#include "config/pairing_address.h"
#include "config/token_protection.h"
#include "support/text.h"

namespace {

using tsl::testing::readFile;
using tsl::testing::TempDir;
using tsl::testing::writeFile;

// Lines of a file, without their CR/LF endings.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

TEST(ServerAddress, Normalisation) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"https://h/api/ ", "https://h/api"},        {"https://h/api/v1/", "https://h/api"},
        {"https://h/api/v1/v1", "https://h/api/v1"}, {"https://h/api/V1", "https://h/api/V1"},
        {"https://h/api/v1//", "https://h/api"},     {"///", ""},
        {"\t https://h \r\n", "https://h"},          {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::normaliseServerUrl(c.in), c.out) << c.in;
}

TEST(PairingAddress, OnlyHttpsOrThisMachine) {
    struct Case {
        const char* address;
        bool allowed;
    } cases[] = {
        {"https://app.example.com/api", true},
        {"http://localhost", true},
        {"http://localhost:8080/api", true},
        {"http://127.0.0.1:8000", true},
        {"http://192.168.1.10", false},
        {"HTTPS://app.example.com", false},
        {"http://localhost.example.com", false},
        {"http://127.0.0.1.example.com/api", false},
        {"ftp://x", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tsl::isPairingAddressAllowed(c.address), c.allowed) << c.address;
    }
}

TEST(Base64, KnownAnswersAndRefusals) {
    EXPECT_EQ(tsl::base64Encode(""), "");
    EXPECT_EQ(tsl::base64Encode("f"), "Zg==");
    EXPECT_EQ(tsl::base64Encode("fo"), "Zm8=");
    EXPECT_EQ(tsl::base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(tsl::base64Decode("Zm9v\r\nYmFy"), "foobar");
    for (const char* bad : {"Zm9", "Zm=v", "Zm9v!", "Z===", "not base64 at all"}) {
        EXPECT_EQ(tsl::base64Decode(bad), "") << bad;
    }
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(tsl::base64Decode(tsl::base64Encode(all)), all);
    EXPECT_EQ(tsl::base64Encode(std::string(3000, 'x')).find('\n'), std::string::npos);
}

class ConfigTest : public ::testing::Test {
  protected:
    TempDir dir;
#ifndef _WIN32
    // The per-user secret of the token protection lives under XDG_DATA_HOME.
    tsl::testing::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
#endif
};

TEST_F(ConfigTest, DefaultsWithoutFileAndNoFileWritten) {
    tsl::Config config(dir.path() / "cfg");
    const tsl::Settings s = config.settings();
    EXPECT_EQ(s.serverUrl, tsl::kDefaultServerUrl);
    EXPECT_EQ(s.tallyHost, "localhost");
    EXPECT_EQ(s.tallyPort, 9000);
    EXPECT_TRUE(s.token.empty() && s.organisation.empty() && s.company.empty());
    EXPECT_FALSE(config.isPaired());
    EXPECT_FALSE(std::filesystem::exists(config.iniPath()));
}

#ifndef _WIN32
TEST_F(ConfigTest, FirstStartCreatesTheProgramFolderUnderTheConfigFolder) {
    tsl::testing::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    const tsl::Config first;
    const auto folder = dir.path() / "config" / "Tessaline" / "Tally Connector";
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(first.iniPath(), folder / "connector.ini");
    EXPECT_FALSE(std::filesystem::exists(first.iniPath()));
}
#endif

// The value of "token=" in the file's text ("" when the key is missing).
std::string storedToken(const std::string& text) {
    const std::size_t key = text.find("token=");
    if (key == std::string::npos) return "";
    const std::size_t at = key + 6;
    return text.substr(at, text.find_first_of("\r\n", at) - at);
}

TEST_F(ConfigTest, FirstSaveWritesTheLayoutExactlyWithATokenOnlyThisUserCanRead) {
    tsl::Settings s;
    s.serverUrl = "https://h/api/v1/";
    s.tallyHost = "tally-pc";
    s.tallyPort = -1;
    s.token = "secret-token";
    s.organisation = "Org";
    s.company = "Co";
    tsl::Config(dir.path()).save(s);

    // Windows keeps the file in UTF-16 (byte-order mark first); here it is plain UTF-8.
    const std::string bytes = readFile(dir.path() / "connector.ini");
    const std::string text = tsl::decodeText(bytes);
#ifndef _WIN32
    EXPECT_EQ(bytes, text);
#endif
    const std::string stored = storedToken(text);
    EXPECT_EQ(text,
              "[server]\r\nurl=https://h/api\r\norganisation=Org\r\ncompany=Co\r\n"
              "[tally]\r\nhost=tally-pc\r\nport=-1\r\n[auth]\r\ntoken=" +
                  stored + "\r\n");
    EXPECT_EQ(tsl::unprotectToken(stored), "secret-token");

    // Foreign or damaged blobs read as no token.
    std::string tampered = tsl::base64Decode(stored);
    for (std::size_t i = tampered.size() / 2; i < tampered.size(); ++i)
        tampered[i] ^= 0x5A;
    EXPECT_EQ(tsl::unprotectToken(tsl::base64Encode(tampered)), "");
    EXPECT_EQ(tsl::unprotectToken(tsl::base64Encode("not a protected blob at all")), "");
    EXPECT_EQ(tsl::unprotectToken("***"), "");
    EXPECT_EQ(tsl::protectToken(""), "");
#ifndef _WIN32
    // Another user: another secret.
    tsl::testing::ScopedEnv other("XDG_DATA_HOME", (dir.path() / "other-user").string());
    EXPECT_EQ(tsl::unprotectToken(stored), "");
#endif
}

TEST_F(ConfigTest, SavedValuesComeBackAfterARestart) {
    tsl::Settings s;
    s.serverUrl = "https://h/api/v1/";
    s.tallyHost = " host with blanks ";
    s.tallyPort = -1;
    s.token = "secret-token-\xC3\xA9";
    // Outside every ANSI code page: Devanagari and an emoji (a surrogate pair in UTF-16).
    s.organisation =
        "Caf\xC3\xA9 \xE0\xA4\xB6\xE0\xA4\xB0\xE0\xA5\x8D\xE0\xA4\xAE\xE0\xA4\xBE \xF0\x9F\x98\x80";
    s.company = "Line one\r\n[tally]\r\nhost=elsewhere\nend";
    {
        tsl::Config config(dir.path());
        config.save(s);
        const tsl::Settings mem = config.settings();
        EXPECT_EQ(mem.serverUrl, "https://h/api");
        EXPECT_EQ(mem.tallyHost, s.tallyHost);  // memory keeps blanks and line breaks
        EXPECT_EQ(mem.company, s.company);
    }
    const std::string text = tsl::decodeText(readFile(dir.path() / "connector.ini"));
    EXPECT_EQ(text.find("secret-token"), std::string::npos);

    const tsl::Settings r = tsl::Config(dir.path()).settings();
    EXPECT_EQ(r.serverUrl, "https://h/api");
    EXPECT_EQ(r.token, s.token);
    EXPECT_EQ(r.tallyPort, -1);
    EXPECT_EQ(r.organisation, s.organisation);
    // A line break cannot live in an INI value: it must not cut the value or add a section.
    EXPECT_EQ(r.company, "Line one [tally] host=elsewhere end");
    EXPECT_EQ(r.tallyHost, "host with blanks");  // the reader trims, like the Windows one
}

TEST_F(ConfigTest, LaterSavesUpdateInPlaceAndClearTokenKeepsTheKey) {
    tsl::Config config(dir.path());
    tsl::Settings s = config.settings();
    s.token = "t";
    config.save(s);
    s.company = "Second";
    config.save(s);
    config.clearToken();
    EXPECT_FALSE(config.isPaired());
    const std::vector<std::string> l =
        lines(tsl::decodeText(readFile(dir.path() / "connector.ini")));
    ASSERT_EQ(l.size(), 9u);
    EXPECT_EQ(l[3], "company=Second");
    EXPECT_EQ(l[8], "token=");
    EXPECT_EQ(tsl::Config(dir.path()).settings().token, "");
}

TEST_F(ConfigTest, DamagedFileGivesDefinedValues) {
    writeFile(dir.path() / "connector.ini",
              "garbage line\r\n=\r\n[server\r\n[server]\r\nurl=\r\nnoequals\r\n"
              "[tally]\r\nport=abc\r\nhost=" +
                  std::string(9000, 'h') + "\r\n[auth]\r\ntoken=%%%not base64%%%\r\n");
    tsl::Config config(dir.path());
    const tsl::Settings s = config.settings();
    EXPECT_EQ(s.serverUrl, "");  // present but empty: not the default
    EXPECT_EQ(s.tallyPort, 0);
    EXPECT_EQ(s.tallyHost.size(), 8191u);
    EXPECT_EQ(s.token, "");
}

TEST_F(ConfigTest, FileSavedByAnEditorWithAUtf8MarkIsRead) {
    writeFile(dir.path() / "connector.ini",
              "\xEF\xBB\xBF[server]\r\nurl=https://h/api\r\norganisation=Caf\xC3\xA9\r\n");
    const tsl::Settings s = tsl::Config(dir.path()).settings();
    EXPECT_EQ(s.serverUrl, "https://h/api");
    EXPECT_EQ(s.organisation, "Caf\xC3\xA9");
}

TEST_F(ConfigTest, PortIsReadLikeTheProfileIntReader) {
    struct Case {
        const char* value;
        int port;
    } cases[] = {
        {"8000", 8000}, {" 8000 ", 8000}, {"12abc", 12},  {"abc", 0},   {"-5", -5},
        {"+7", 7},      {"", 9000},       {"\"81\"", 81}, {"0x10", 16}, {"0o17", 15},
        {"0b101", 5},   {"-0x1F", -31},   {"0x", 0},      {"09", 9},
    };
    for (const Case& c : cases) {
        writeFile(dir.path() / "connector.ini", std::string("[tally]\r\nport=") + c.value + "\r\n");
        EXPECT_EQ(tsl::Config(dir.path()).settings().tallyPort, c.port) << c.value;
    }
}

// A file edited by hand: names in other cases, quoted values, comments, another section.
TEST_F(ConfigTest, SaveIntoAnEditedFileUpdatesInPlaceAndKeepsTheRest) {
    writeFile(dir.path() / "connector.ini",
              "; written by hand\r\n[Extra]\r\nk=v\r\n[TALLY]\r\nHost = \"tally-pc\"\r\n"
              "[Server]\r\nURL=https://h/api\r\nnoise without equals\r\n");
    tsl::Config config(dir.path());
    tsl::Settings s = config.settings();
    EXPECT_EQ(s.tallyHost, "tally-pc");
    EXPECT_EQ(s.serverUrl, "https://h/api");
    s.company = "Co";
    config.save(s);

    const std::vector<std::string> l =
        lines(tsl::decodeText(readFile(dir.path() / "connector.ini")));
    auto indexOf = [&l](const std::string& prefix) {
        std::size_t found = l.size(), count = 0;
        for (std::size_t i = 0; i < l.size(); ++i) {
            if (l[i].size() < prefix.size()) continue;
            std::string head = l[i].substr(0, prefix.size());
            for (char& ch : head)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (head == prefix) found = (count++ == 0) ? i : l.size();
        }
        return found;  // l.size() when missing or present twice
    };
    for (const char* kept : {"; written by hand", "[extra]", "k=v", "noise without equals"})
        EXPECT_LT(indexOf(kept), l.size()) << kept;
    // Each key once, in its own section, which keeps its place in the file.
    EXPECT_LT(indexOf("[extra]"), indexOf("[tally]"));
    EXPECT_LT(indexOf("[tally]"), indexOf("host"));
    EXPECT_LT(indexOf("host"), indexOf("[server]"));
    EXPECT_LT(indexOf("[server]"), indexOf("url="));
    EXPECT_LT(indexOf("url="), indexOf("company="));
    // Only what the save changed is written.
    EXPECT_EQ(indexOf("port="), l.size());
    EXPECT_EQ(indexOf("[auth]"), l.size());

    const tsl::Settings r = tsl::Config(dir.path()).settings();
    EXPECT_EQ(r.tallyHost, "tally-pc");
    EXPECT_EQ(r.company, "Co");
    EXPECT_EQ(r.serverUrl, "https://h/api");
}

// The tray runs for days while a console "--pair" (another process) writes the same file: the
// running copy takes the new pairing up and never writes its stale copy over it.
TEST_F(ConfigTest, AnotherProcessesPairingSurvivesTheRunningCopy) {
    tsl::Config resident(dir.path());
    tsl::Settings old = resident.settings();
    old.token = "old-token";
    old.company = "Old Co";
    resident.save(old);

    tsl::Config console(dir.path());
    tsl::Settings paired = console.settings();
    paired.token = "new-token";
    paired.organisation = "New Org";
    paired.serverUrl = "https://new.example/api";
    console.save(paired);

    // The running copy saves what it changed (the company) from its stale snapshot...
    tsl::Settings stale = resident.settings();
    stale.company = "Sandbox Traders";
    resident.save(stale);
    // ...and the refusal of its old token does not unpair the new pairing.
    EXPECT_FALSE(resident.clearTokenIf("old-token"));

    const tsl::Settings file = tsl::Config(dir.path()).settings();
    EXPECT_EQ(file.token, "new-token");
    EXPECT_EQ(file.organisation, "New Org");
    EXPECT_EQ(file.serverUrl, "https://new.example/api");
    EXPECT_EQ(file.company, "Sandbox Traders");
    EXPECT_EQ(resident.settings().token, "new-token");

    console.save(old);  // back to the old server and token in the file
    EXPECT_TRUE(resident.reload());
    EXPECT_EQ(resident.settings().serverUrl, old.serverUrl);
    EXPECT_FALSE(resident.reload());
    EXPECT_TRUE(resident.clearTokenIf("old-token"));
    EXPECT_FALSE(tsl::Config(dir.path()).isPaired());
}

}  // namespace
