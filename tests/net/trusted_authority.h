#pragma once

#include "common/sandbox_client.h"

namespace tsl::testing {

// From now to the end of the process, this process's HTTP client trusts the sandbox's test
// authority. Linux: the transport's test hook, given the sandbox's authority file. Windows: the
// user's ROOT certificate store, which WinHTTP consults (Wine adds without asking); the
// certificate is removed again when the process ends. Throws std::runtime_error when the
// authority cannot be installed.
void trustSandboxAuthority(const SandboxControl& sandbox);

}  // namespace tsl::testing
