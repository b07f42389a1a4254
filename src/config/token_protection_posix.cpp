// The token sealed with AES-256-GCM under a key that only this user on this machine can form:
// HKDF-SHA256 over a random per-user secret (a 0600 file in a 0700 folder
// under the user's data folder) and
// /etc/machine-id. Blob: version byte, 12-byte nonce, ciphertext, 16-byte tag.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "config/base64.h"
#include "config/token_protection.h"
#include "support/app_folder.h"
#include "support/posix_files.h"
#include "support/xdg_folder.h"

namespace tsl {

namespace {

constexpr unsigned char kVersion = 1;
constexpr std::size_t kSecretBytes = 32, kNonceBytes = 12, kTagBytes = 16;
using Key = std::array<unsigned char, 32>;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};

std::filesystem::path secretFile() {
    const std::filesystem::path base = xdgFolder("XDG_DATA_HOME", ".local/share");
    if (base.empty()) return {};
    createPrivateFolders(base);
    return ensureAppFolder(base) / "token.key";
}

// At most the first 4 KiB: the secret and the machine id are small, whatever lies there.
std::string readSmallFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(4096, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// A new secret is written beside the file (mode 0600) and moved into place in one step, so a
// crash never leaves a half-written secret that would block every later save. link() does not
// replace: when another process won the race, its secret is used. A file that is there but is
// no secret (damaged) is replaced, since nothing can be opened with it anyway.
std::optional<std::string> createSecret(const std::filesystem::path& file) {
    std::string secret(kSecretBytes, '\0');
    unsigned char suffix[3];
    if (RAND_bytes(reinterpret_cast<unsigned char*>(secret.data()), kSecretBytes) != 1 ||
        RAND_bytes(suffix, sizeof(suffix)) != 1) {
        return std::nullopt;
    }
    std::filesystem::path temp = file;
    temp += ".new-" + std::to_string(::getpid()) + "-" +
            std::to_string(suffix[0] | suffix[1] << 8 | suffix[2] << 16);
    FileDescriptor fd = createPrivateFile(temp);
    if (!fd.valid()) return std::nullopt;
    const bool written =
        writeAll(fd.get(), secret.data(), secret.size()) && ::fsync(fd.get()) == 0 && fd.close();
    if (written && ::link(temp.c_str(), file.c_str()) == 0) {
        ::unlink(temp.c_str());
        return secret;
    }
    if (written && errno == EEXIST) {
        const std::string existing = readSmallFile(file);
        if (existing.size() == kSecretBytes) {
            ::unlink(temp.c_str());
            return existing;
        }
    }
    if (written && ::rename(temp.c_str(), file.c_str()) == 0) return secret;
    ::unlink(temp.c_str());
    return std::nullopt;
}

// The secret, created when create is true and there is none yet.
std::optional<std::string> userSecret(bool create) {
    const std::filesystem::path file = secretFile();
    if (file.empty()) return std::nullopt;
    std::string secret = readSmallFile(file);
    if (secret.size() == kSecretBytes) return secret;
    if (!create) return std::nullopt;
    return createSecret(file);
}

std::optional<Key> deriveKey(const std::string& secret) {
    const std::string machine = readSmallFile("/etc/machine-id");
    std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr));
    Key key{};
    std::size_t length = key.size();
    static constexpr unsigned char kInfo[] = "Tessaline Tally Connector token";
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_hkdf_md(ctx.get(), EVP_sha256()) <= 0 ||
        EVP_PKEY_CTX_set1_hkdf_salt(ctx.get(),
                                    reinterpret_cast<const unsigned char*>(machine.data()),
                                    static_cast<int>(machine.size())) <= 0 ||
        EVP_PKEY_CTX_set1_hkdf_key(ctx.get(), reinterpret_cast<const unsigned char*>(secret.data()),
                                   static_cast<int>(secret.size())) <= 0 ||
        EVP_PKEY_CTX_add1_hkdf_info(ctx.get(), kInfo, sizeof(kInfo) - 1) <= 0 ||
        EVP_PKEY_derive(ctx.get(), key.data(), &length) <= 0) {
        return std::nullopt;
    }
    return key;
}

std::string seal(const Key& key, const std::string& plain) {
    std::string blob(1 + kNonceBytes + plain.size() + kTagBytes, '\0');
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    out[0] = kVersion;
    unsigned char* nonce = out + 1;
    unsigned char* cipher = nonce + kNonceBytes;
    unsigned char* tag = cipher + plain.size();
    if (RAND_bytes(nonce, kNonceBytes) != 1) return {};
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) != 1 ||
        EVP_EncryptUpdate(ctx.get(), cipher, &len,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, tag) != 1) {
        return {};
    }
    return blob;
}

std::string unseal(const Key& key, const std::string& blob) {
    if (blob.size() < 1 + kNonceBytes + kTagBytes) return {};
    const auto* in = reinterpret_cast<const unsigned char*>(blob.data());
    if (in[0] != kVersion) return {};
    const unsigned char* nonce = in + 1;
    const unsigned char* cipher = nonce + kNonceBytes;
    const std::size_t cipherBytes = blob.size() - 1 - kNonceBytes - kTagBytes;
    std::array<unsigned char, kTagBytes> tag{};
    std::copy(cipher + cipherBytes, cipher + cipherBytes + kTagBytes, tag.begin());
    std::string plain(cipherBytes, '\0');
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), nonce) != 1 ||
        EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &len, cipher,
                          static_cast<int>(cipherBytes)) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + len,
                            &len) != 1) {
        return {};  // wrong user, wrong machine, or damaged
    }
    return plain;
}

}  // namespace

std::string protectToken(const std::string& token) {
    if (token.empty()) return {};
    const std::optional<std::string> secret = userSecret(true);
    if (!secret) return {};
    const std::optional<Key> key = deriveKey(*secret);
    if (!key) return {};
    const std::string blob = seal(*key, token);
    return blob.empty() ? std::string() : base64Encode(blob);
}

std::string unprotectToken(const std::string& stored) {
    if (stored.empty()) return {};
    const std::string blob = base64Decode(stored);
    if (blob.empty()) return {};
    const std::optional<std::string> secret = userSecret(false);
    if (!secret) return {};
    const std::optional<Key> key = deriveKey(*secret);
    return key ? unseal(*key, blob) : std::string();
}

bool isUnboundToken(const std::string&) {
    return false;
}

}  // namespace tsl
