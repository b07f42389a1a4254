#pragma once

#include <string>

namespace tsl {

// The token as stored in connector.ini: a blob that only the same user on the same PC can
// open (DPAPI on Windows, bound to this PC's identity as well, since the user's DPAPI keys
// and connector.ini roam with the profile; AES-256-GCM under a per-user key and the
// machine id elsewhere), as one line of base64.
// protectToken gives "" for an empty token or when protection fails; unprotectToken gives ""
// for empty, non-base64 or foreign text. Neither throws.
std::string protectToken(const std::string& token);
std::string unprotectToken(const std::string& stored);

// True when the blob opens only the way older versions wrote it, not bound to this PC (DPAPI
// for the user alone). Such a token is taken once and the caller saves it again, bound.
// Always false off Windows, where blobs were bound from the start.
bool isUnboundToken(const std::string& stored);

}  // namespace tsl
