#include "net/trusted_authority.h"

#include "common/temp_dir.h"
#include "net/http_client_testing.h"

#include <stdexcept>

namespace tsl::testing {

struct TrustedAuthority::State {
    TempDir folder;
};

TrustedAuthority::TrustedAuthority(const std::string& pem) : state_(new State) {
    const auto file = state_->folder.path() / "authority.pem";
    writeFile(file, pem);
    if (readFile(file) != pem) throw std::runtime_error("cannot write " + file.string());
    trustExtraAuthorityForTesting(file.string());
}

TrustedAuthority::~TrustedAuthority() {
    trustExtraAuthorityForTesting("");
}

}  // namespace tsl::testing
