// The token sealed with DPAPI for the current Windows user.
#include <windows.h>

#include <dpapi.h>

#include <climits>
#include <memory>
#include <string>

#include "config/base64.h"
#include "config/token_protection.h"
#include "support/text.h"

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

// This PC's identity: the GUID Windows sets up at installation, else the computer's name.
std::string machineIdentity() {
    wchar_t guid[64] = {};
    DWORD size = sizeof(guid);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid,
                     &size) == ERROR_SUCCESS &&
        guid[0] != L'\0') {
        return "guid:" + toUtf8(guid);
    }
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? "name:" + toUtf8(std::wstring(name, length)) : "";
}

// The optional entropy that binds a blob to this PC: the user's roamed DPAPI keys alone no
// longer open it on another PC.
std::string machineEntropy() {
    return "Tessaline Tally Connector|" + machineIdentity();
}

// The token from the blob, opened with the given entropy (none for an empty one); "" if it
// does not open.
std::string unseal(const std::string& bytes, const std::string& entropy) {
    DATA_BLOB in = blobOf(bytes);
    DATA_BLOB extra = blobOf(entropy);
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, entropy.empty() ? nullptr : &extra, nullptr, nullptr,
                            CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return {};
    }
    LocalBytes owned(out.pbData);
    std::string token(reinterpret_cast<const char*>(owned.get()), out.cbData);
    SecureZeroMemory(owned.get(), out.cbData);  // the plain token stays only in our own string
    return token;
}

std::string blobBytes(const std::string& stored) {
    if (stored.empty()) return {};
    std::string bytes = base64Decode(stored);
    return bytes.size() > UINT_MAX ? std::string() : bytes;
}

}  // namespace

std::string protectToken(const std::string& token) {
    if (token.empty() || token.size() > UINT_MAX) return {};
    DATA_BLOB in = blobOf(token);
    const std::string entropy = machineEntropy();
    DATA_BLOB extra = blobOf(entropy);
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Tessaline Tally Connector token", &extra, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return {};
    }
    LocalBytes owned(out.pbData);
    return base64Encode(std::string(reinterpret_cast<const char*>(owned.get()), out.cbData));
}

std::string unprotectToken(const std::string& stored) {
    const std::string bytes = blobBytes(stored);
    if (bytes.empty()) return {};
    std::string token = unseal(bytes, machineEntropy());
    return token.empty() ? unseal(bytes, "") : token;
}

bool isUnboundToken(const std::string& stored) {
    const std::string bytes = blobBytes(stored);
    return !bytes.empty() && unseal(bytes, machineEntropy()).empty() && !unseal(bytes, "").empty();
}

}  // namespace tsl
