#include "config/config.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/temp_dir.h"
#include "config/base64.h"
#include "config/ini_file.h"
#include "config/pairing_address.h"
#include "config/token_protection.h"
#include "support/text.h"

namespace {

using tsl::testing::readFile;
using tsl::testing::TempDir;
using tsl::testing::writeFile;

TEST(ServerAddress, Normalisation) {
    const char* cases[][2] = {
        {"https://h/api/ ", "https://h/api"},        {"https://h/api/v1/", "https://h/api"},
        {"https://h/api/v1/v1", "https://h/api/v1"}, {"https://h/api/V1", "https://h/api/V1"},
        {"https://h/api/v1//", "https://h/api"},     {"///", ""},
        {"\t https://h \r\n", "https://h"},          {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tsl::normaliseServerUrl(c[0]), c[1]) << c[0];
}

TEST(PairingAddress, OnlyHttpsOrThisMachine) {
    for (const char* allowed : {"https://app.example.com/api", "http://localhost",
                                "http://localhost:8080/api", "http://127.0.0.1:8000"})
        EXPECT_TRUE(tsl::isPairingAddressAllowed(allowed)) << allowed;
    for (const char* refused :
         {"http://192.168.1.10", "HTTPS://app.example.com", "http://localhost.example.com",
          "http://127.0.0.1.example.com/api", "ftp://x", ""})
        EXPECT_FALSE(tsl::isPairingAddressAllowed(refused)) << refused;
}

TEST(Base64, KnownAnswersAndRefusals) {
    EXPECT_EQ(tsl::base64Encode(""), "");
    EXPECT_EQ(tsl::base64Encode("f"), "Zg==");
    EXPECT_EQ(tsl::base64Encode("fo"), "Zm8=");
    EXPECT_EQ(tsl::base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(tsl::base64Decode("Zm9v\r\nYmFy"), "foobar");
    for (const char* bad : {"Zm9", "Zm=v", "Zm9v!", "Z===", "not base64 at all"})
        EXPECT_EQ(tsl::base64Decode(bad), "") << bad;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(tsl::base64Decode(tsl::base64Encode(all)), all);
    EXPECT_EQ(tsl::base64Encode(std::string(3000, 'x')).find('\n'), std::string::npos);
}

class ConfigTest : public ::testing::Test {
  protected:
    std::string fileText() const { return tsl::decodeText(readFile(dir.path() / "connector.ini")); }
    TempDir dir;
    // Off Windows the per-user secret of the token protection lives under XDG_DATA_HOME.
    tsl::testing::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
};

TEST_F(ConfigTest, FirstSaveWritesTheLayoutExactlyWithATokenOnlyThisUserCanRead) {
    tsl::Config(dir.path())
        .save({"https://h/api/v1/", "tally-pc", -1, "secret-token", "Org", "Co"});
    const std::string stored =
        tsl::IniFile(dir.path() / "connector.ini").readString("auth", "token", "");
    // Windows keeps the file in UTF-16 (byte-order mark first), Linux in UTF-8: read decoded.
    EXPECT_EQ(fileText(),
              "[server]\r\nurl=https://h/api\r\norganisation=Org\r\ncompany=Co\r\n"
              "[tally]\r\nhost=tally-pc\r\nport=-1\r\n[auth]\r\ntoken=" +
                  stored + "\r\n");
    EXPECT_EQ(tsl::unprotectToken(stored), "secret-token");

    // Foreign or damaged blobs read as no token.
    std::string tampered = tsl::base64Decode(stored);
    for (std::size_t i = tampered.size() / 2; i < tampered.size(); ++i)
        tampered[i] ^= 0x5A;
    for (const std::string& foreign : {tsl::base64Encode(tampered), std::string("***"),
                                       tsl::base64Encode("not a protected blob at all")})
        EXPECT_EQ(tsl::unprotectToken(foreign), "");
    EXPECT_EQ(tsl::protectToken(""), "");
}

TEST_F(ConfigTest, SavedValuesComeBackAfterARestart) {
    // Outside every ANSI code page: Devanagari and an emoji (a surrogate pair in UTF-16).
    const std::string organisation =
        "Caf\xC3\xA9 \xE0\xA4\xB6\xE0\xA4\xB0\xE0\xA5\x8D\xE0\xA4\xAE\xE0\xA4\xBE \xF0\x9F\x98\x80";
    const tsl::Settings s{"https://h/api/v1/",
                          " host with blanks ",
                          -1,
                          "secret-token-\xC3\xA9",
                          organisation,
                          "Line one\r\n[tally]\r\nhost=elsewhere\nend"};
    {
        tsl::Config config(dir.path());
        config.save(s);
        const tsl::Settings mem = config.settings();
        EXPECT_EQ(mem.serverUrl, "https://h/api");
        EXPECT_EQ(mem.tallyHost, s.tallyHost);  // memory keeps blanks and line breaks
        EXPECT_EQ(mem.company, s.company);
    }
    const std::string saved = fileText();
    EXPECT_EQ(saved.find("secret-token"), std::string::npos);

    const tsl::Settings r = tsl::Config(dir.path()).settings();
    EXPECT_EQ(fileText(), saved);  // reading writes nothing back, not even the token again
    EXPECT_EQ(r.serverUrl, "https://h/api");
    EXPECT_EQ(r.token, s.token);
    EXPECT_EQ(r.organisation, s.organisation);
    // A line break cannot live in an INI value: it must not cut the value or add a section.
    EXPECT_EQ(r.company, "Line one [tally] host=elsewhere end");
    EXPECT_EQ(r.tallyHost, "host with blanks");  // the reader trims, like the Windows one
}

// Without a file: the defaults, and no file until a save. Later saves update it in place.
TEST_F(ConfigTest, DefaultsThenSavesUpdateInPlaceAndClearTokenKeepsTheKey) {
    tsl::Config config(dir.path());
    tsl::Settings s = config.settings();
    EXPECT_FALSE(config.isPaired());
    EXPECT_FALSE(std::filesystem::exists(config.iniPath()));
    s.token = "t";
    config.save(s);
    s.company = "Second";
    config.save(s);
    config.clearToken();
    EXPECT_FALSE(config.isPaired());
    EXPECT_EQ(fileText(), "[server]\r\nurl=" + std::string(tsl::kDefaultServerUrl) +
                              "\r\norganisation=\r\ncompany=Second\r\n[tally]\r\nhost=localhost\r\n"
                              "port=9000\r\n[auth]\r\ntoken=\r\n");
    EXPECT_EQ(tsl::Config(dir.path()).settings().token, "");
}

// Damaged lines, and a mark an editor put first: every value is defined.
TEST_F(ConfigTest, DamagedFileGivesDefinedValues) {
    writeFile(dir.path() / "connector.ini",
              "\xEF\xBB\xBF[tally]\r\nport=abc\r\nhost=" + std::string(9000, 'h') +
                  "\r\ngarbage line\r\n=\r\n[server\r\n[server]\r\nurl=\r\n"
                  "organisation=Caf\xC3\xA9\r\nnoequals\r\n[auth]\r\ntoken=%%%not base64%%%\r\n");
    const tsl::Settings s = tsl::Config(dir.path()).settings();
    EXPECT_EQ(s.organisation, "Caf\xC3\xA9");
    EXPECT_EQ(s.serverUrl, "");  // present but empty: not the default
    EXPECT_EQ(s.tallyPort, 0);
    EXPECT_EQ(s.tallyHost.size(), 8191u);
    EXPECT_EQ(s.token, "");
}

TEST_F(ConfigTest, PortIsReadLikeTheProfileIntReader) {
    const std::pair<const char*, int> cases[] = {
        {"8000", 8000}, {" 8000 ", 8000}, {"12abc", 12},  {"abc", 0},   {"-5", -5},
        {"+7", 7},      {"", 9000},       {"\"81\"", 81}, {"0x10", 16}, {"0o17", 15},
        {"0b101", 5},   {"-0x1F", -31},   {"0x", 0},      {"09", 9},
    };
    for (const auto& [value, port] : cases) {
        writeFile(dir.path() / "connector.ini", std::string("[tally]\r\nport=") + value + "\r\n");
        EXPECT_EQ(tsl::Config(dir.path()).settings().tallyPort, port) << value;
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

    std::string text = "\n" + fileText();
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto lineOf = [&text](const std::string& start) {  // npos when missing or present twice
        const std::size_t at = text.find("\n" + start);
        return text.find("\n" + start, at + 1) == std::string::npos ? at : std::string::npos;
    };
    // Each key once, in its own section, which keeps its place in the file; the rest is kept.
    const char* order[] = {"; written by hand", "[extra]", "k=v",       "[tally]", "host",
                           "[server]",          "url=",    "company=co"};
    for (std::size_t i = 1; i < std::size(order); ++i)
        EXPECT_LT(lineOf(order[i - 1]), lineOf(order[i])) << order[i];
    EXPECT_NE(lineOf("company=co"), std::string::npos);
    EXPECT_NE(lineOf("noise without equals"), std::string::npos);
    // Only what the save changed is written.
    EXPECT_EQ(text.find("port="), std::string::npos);
    EXPECT_EQ(text.find("[auth]"), std::string::npos);

    const tsl::Settings r = tsl::Config(dir.path()).settings();
    EXPECT_EQ(r.tallyHost, "tally-pc");
    EXPECT_EQ(r.company, "Co");
    EXPECT_EQ(r.serverUrl, "https://h/api");
}

// The tray runs for days while a console "--pair" (another process) writes the same file: the
// running copy takes the new pairing up and never writes its stale copy over it.
TEST_F(ConfigTest, AnotherProcessesPairingSurvivesTheRunningCopy) {
    tsl::Config resident(dir.path());
    const tsl::Settings old{.token = "old-token", .organisation = "", .company = "Old Co"};
    resident.save(old);

    tsl::Config console(dir.path());
    console.save({"https://new.example/api", "localhost", 9000, "new-token", "New Org", "Old Co"});

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
