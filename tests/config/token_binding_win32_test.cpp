// The protected token is bound to this PC: connector.ini and the user's DPAPI keys roam with the
// profile, so a blob that opened for the user alone would sync from a second PC as well.
#include <windows.h>

#include <dpapi.h>
#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "config/base64.h"
#include "config/config.h"
#include "config/token_protection.h"
#include "support/text.h"

namespace {

using tsl::testing::TempDir;

// A blob as DPAPI makes it for the user, with the given optional entropy (none when empty).
std::string sealed(const std::string& token, const std::string& entropy) {
    DATA_BLOB in{static_cast<DWORD>(token.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(token.data()))};
    DATA_BLOB extra{static_cast<DWORD>(entropy.size()),
                    reinterpret_cast<BYTE*>(const_cast<char*>(entropy.data()))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, nullptr, entropy.empty() ? nullptr : &extra, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return {};
    }
    const std::string bytes(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return tsl::base64Encode(bytes);
}

// Opens a blob the way an older version did: for the user alone.
std::string openedUnbound(const std::string& stored) {
    const std::string bytes = tsl::base64Decode(stored);
    DATA_BLOB in{static_cast<DWORD>(bytes.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out)) {
        return {};
    }
    const std::string token(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return token;
}

std::string storedIn(const TempDir& dir) {
    wchar_t value[4096] = {};
    GetPrivateProfileStringW(L"auth", L"token", L"", value, 4096,
                             (dir.path() / "connector.ini").wstring().c_str());
    return tsl::toUtf8(value);
}

void store(const TempDir& dir, const std::string& blob) {
    tsl::Settings s;
    s.token = "placeholder-token";
    tsl::Config(dir.path()).save(s);
    WritePrivateProfileStringW(L"auth", L"token", tsl::fromUtf8(blob).c_str(),
                               (dir.path() / "connector.ini").wstring().c_str());
}

TEST(TokenBinding, ThisPcOnly) {
    TempDir dir;
    tsl::Settings s;
    s.token = "bound-token";
    tsl::Config(dir.path()).save(s);
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
