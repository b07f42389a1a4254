// The protected token is bound to this PC: connector.ini and the user's DPAPI keys roam with the
// profile, so a blob that opened for the user alone would sync from a second PC as well.
#include <windows.h>

#include <dpapi.h>
#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "config/base64.h"
#include "config/config.h"
#include "config/ini_file.h"
#include "config/token_protection.h"

namespace {

using tsl::testing::TempDir;

DATA_BLOB blobOf(const std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()),
            reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

// What DPAPI gave, freed; "" when it failed.
std::string taken(BOOL ok, DATA_BLOB& out) {
    if (!ok) return "";
    const std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return bytes;
}

// A blob as DPAPI makes it for the user, with the given optional entropy (none when empty).
std::string sealed(const std::string& token, const std::string& entropy) {
    DATA_BLOB in = blobOf(token), extra = blobOf(entropy), out{};
    return tsl::base64Encode(
        taken(CryptProtectData(&in, nullptr, entropy.empty() ? nullptr : &extra, nullptr, nullptr,
                               CRYPTPROTECT_UI_FORBIDDEN, &out),
              out));
}

// Opens a blob the way an older version did: for the user alone.
std::string openedUnbound(const std::string& stored) {
    const std::string bytes = tsl::base64Decode(stored);
    DATA_BLOB in = blobOf(bytes), out{};
    return taken(CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr,
                                    CRYPTPROTECT_UI_FORBIDDEN, &out),
                 out);
}

std::string storedIn(const TempDir& dir) {
    return tsl::IniFile(dir.path() / "connector.ini").readString("auth", "token", "");
}

void store(const TempDir& dir, const std::string& blob) {
    tsl::Config(dir.path()).save({.token = "placeholder-token", .organisation = "", .company = ""});
    tsl::IniFile(dir.path() / "connector.ini").write({{"auth", "token", blob}});
}

TEST(TokenBinding, ThisPcOnly) {
    TempDir dir;
    tsl::Config(dir.path()).save({.token = "bound-token", .organisation = "", .company = ""});
    const std::string bound = storedIn(dir);
    EXPECT_EQ(tsl::unprotectToken(bound), "bound-token");
    EXPECT_EQ(openedUnbound(bound), "") << "the user's keys alone must not open it";
    EXPECT_FALSE(tsl::isUnboundToken(bound));

    // A blob from another PC of the same user reads as not paired.
    store(dir, sealed("roamed-token", "Tessaline Tally Connector|guid:another-pc"));
    EXPECT_FALSE(tsl::Config(dir.path()).isPaired());
}

TEST(TokenBinding, AnOlderUnboundBlobIsTakenOnceAndSavedBound) {
    TempDir dir;
    const std::string older = sealed("older-token", "");
    store(dir, older);
    EXPECT_TRUE(tsl::isUnboundToken(older));
    EXPECT_EQ(tsl::Config(dir.path()).settings().token, "older-token");
    const std::string rewritten = storedIn(dir);
    EXPECT_NE(rewritten, older);
    EXPECT_EQ(openedUnbound(rewritten), "");
    EXPECT_EQ(tsl::Config(dir.path()).settings().token, "older-token");
}

}  // namespace
