// The token sealed with DPAPI for the current Windows user.
#include <windows.h>

#include <dpapi.h>

#include <climits>
#include <memory>

#include "config/base64.h"
#include "config/token_protection.h"

namespace tsl {

namespace {

struct LocalFreeDeleter {
    void operator()(BYTE* p) const { LocalFree(p); }
};
using LocalBytes = std::unique_ptr<BYTE, LocalFreeDeleter>;

DATA_BLOB blobOf(const std::string& bytes) {
    DATA_BLOB blob{};
    blob.cbData = static_cast<DWORD>(bytes.size());
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    return blob;
}

}  // namespace

std::string protectToken(const std::string& token) {
    if (token.empty() || token.size() > UINT_MAX) return {};
    DATA_BLOB in = blobOf(token);
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Tessaline Tally Connector token", nullptr, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return {};
    }
    LocalBytes owned(out.pbData);
    return base64Encode(std::string(reinterpret_cast<const char*>(owned.get()), out.cbData));
}

std::string unprotectToken(const std::string& stored) {
    if (stored.empty()) return {};
    const std::string bytes = base64Decode(stored);
    if (bytes.empty() || bytes.size() > UINT_MAX) return {};
    DATA_BLOB in = blobOf(bytes);
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out)) {
        return {};
    }
    LocalBytes owned(out.pbData);
    std::string token(reinterpret_cast<const char*>(owned.get()), out.cbData);
    SecureZeroMemory(owned.get(), out.cbData);  // the plain token stays only in our own string
    return token;
}

}  // namespace tsl
