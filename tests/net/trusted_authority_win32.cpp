#include <windows.h>

#include <wincrypt.h>

#include "net/trusted_authority.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include "support/system_error.h"

namespace tsl::testing {

namespace {

struct StoreCloser {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreCloser>;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT cert) const { CertFreeCertificateContext(cert); }
};
using CertificateHandle = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

StoreHandle openUserRoot() {
    return StoreHandle(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
}

// The DER form is shorter than the PEM text it came from.
std::vector<BYTE> pemToDer(const std::string& pem) {
    std::vector<BYTE> der(pem.size());
    DWORD size = static_cast<DWORD>(der.size());
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                              nullptr)) {
        return {};
    }
    der.resize(size);
    return der;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + systemErrorText(GetLastError()));
}

}  // namespace

struct TrustedAuthority::State {
    StoreHandle store;
    CertificateHandle added;
};

TrustedAuthority::TrustedAuthority(const std::string& pem) : state_(new State) {
    const std::vector<BYTE> der = pemToDer(pem);
    if (der.empty()) throw std::runtime_error("the test authority is not a PEM certificate");
    state_->store = openUserRoot();
    if (!state_->store) fail("cannot open the user's ROOT store");
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(state_->store.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
        fail("cannot add the test authority to the ROOT store");
    }
    state_->added.reset(added);
    // A registry-backed store writes on commit or close; the TLS check opens its own.
    CertControlStore(state_->store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

TrustedAuthority::~TrustedAuthority() {
    // CertDeleteCertificateFromStore frees the context it is given, even on failure.
    if (!state_->added) return;
    CertDeleteCertificateFromStore(state_->added.release());
    CertControlStore(state_->store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

}  // namespace tsl::testing
