#include "net/trusted_authority.h"

#include <cstdlib>
#include <stdexcept>

#include "net/http_client_testing.h"

namespace tsl::testing {

void trustSandboxAuthority(const SandboxControl&) {
    const char* file = std::getenv("TSL_SANDBOX_CA");  // with-sandbox.sh sets it
    if (!file || !*file) throw std::runtime_error("TSL_SANDBOX_CA is not set");
    trustExtraAuthorityForTesting(file);
}

}  // namespace tsl::testing
