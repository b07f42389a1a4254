// The per-user secret behind the token protection off Windows.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "config/token_protection.h"

namespace {

using tsl::testing::TempDir;

class UserSecret : public ::testing::Test {
  protected:
    std::filesystem::path secretFile() const {
        return dir.path() / "data" / "Tessaline" / "Tally Connector" / "token.key";
    }
    TempDir dir;
    tsl::testing::ScopedEnv data{"XDG_DATA_HOME", (dir.path() / "data").string()};
};

TEST_F(UserSecret, CreatedOnFirstProtectForTheOwnerOnlyWithANoncePerToken) {
    EXPECT_EQ(tsl::unprotectToken("AQAAAA=="), "");
    EXPECT_FALSE(std::filesystem::exists(secretFile()));  // opening never creates a secret

    const std::string stored = tsl::protectToken("tok");
    ASSERT_FALSE(stored.empty());
    struct stat st {};
    ASSERT_EQ(::stat(secretFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);
    EXPECT_EQ(tsl::unprotectToken(stored), "tok");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(secretFile().parent_path()),
                            std::filesystem::directory_iterator()),
              1);                                 // no temporary file left behind
    EXPECT_NE(tsl::protectToken("tok"), stored);  // every token gets its own nonce

    tsl::testing::ScopedEnv otherUser("XDG_DATA_HOME", (dir.path() / "other").string());
    EXPECT_EQ(tsl::unprotectToken(stored), "");
}

// A secret file cut short (a crash while it was written, a bad copy) must not stop every
// later save from storing the token.
TEST_F(UserSecret, DamagedSecretIsReplaced) {
    for (const std::string& damaged : {std::string(), std::string(5, 'x'), std::string(64, 'y')}) {
        std::filesystem::create_directories(secretFile().parent_path());
        tsl::testing::writeFile(secretFile(), damaged);
        const std::string stored = tsl::protectToken("tok");
        ASSERT_FALSE(stored.empty()) << damaged.size();
        EXPECT_EQ(tsl::unprotectToken(stored), "tok");
        EXPECT_EQ(std::filesystem::file_size(secretFile()), 32u);
    }
}

}  // namespace
