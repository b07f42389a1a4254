#pragma once

#include <string>

namespace tsl {

// Test support only; the program never calls it. From now on every https exchange of this
// process made by the libcurl transport also trusts the certificate authorities in this PEM
// file, besides the system's. "" goes back to the system's list alone. (Windows tests put their
// authority into the user's ROOT store instead: WinHTTP trusts what the system trusts.)
void trustExtraAuthorityForTesting(const std::string& pemFile);

}  // namespace tsl
