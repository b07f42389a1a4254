#pragma once

#include <string>

namespace tsl {

// The token as stored in connector.ini: a blob that only the same user on the same system can
// open (DPAPI on Windows; AES-256-GCM under a per-user key elsewhere), as one line of base64.
// protectToken gives "" for an empty token or when protection fails; unprotectToken gives ""
// for empty, non-base64 or foreign text. Neither throws.
std::string protectToken(const std::string& token);
std::string unprotectToken(const std::string& stored);

}  // namespace tsl
