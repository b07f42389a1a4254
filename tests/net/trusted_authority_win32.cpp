#include <windows.h>

#include <wincrypt.h>

#include "net/trusted_authority.h"

#include <stdexcept>
#include <vector>

#include "support/system_error.h"

namespace tsl::testing {

namespace {

// The user's ROOT store and the certificate added to it, taken out again at the end.
struct AddedRoot {
    HCERTSTORE store = nullptr;
    PCCERT_CONTEXT added = nullptr;
    ~AddedRoot() {
        // CertDeleteCertificateFromStore frees the context it is given, even on failure.
        if (added) CertDeleteCertificateFromStore(added);
        if (!store) return;
        CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        CertCloseStore(store, 0);
    }
};

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + systemErrorText(GetLastError()));
}

}  // namespace

void trustSandboxAuthority(const SandboxControl& sandbox) {
    const std::string pem = sandbox.authorityPem();
    std::vector<BYTE> der(pem.size());  // the DER form is shorter than its PEM text
    DWORD size = static_cast<DWORD>(der.size());
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                              nullptr)) {
        fail("the test authority is not a PEM certificate");
    }
    static AddedRoot root;
    root.store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (!root.store) fail("cannot open the user's ROOT store");
    if (!CertAddEncodedCertificateToStore(root.store, X509_ASN_ENCODING, der.data(), size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, &root.added)) {
        fail("cannot add the test authority to the ROOT store");
    }
    // A registry-backed store writes on commit or close; the TLS check opens its own.
    CertControlStore(root.store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

}  // namespace tsl::testing
