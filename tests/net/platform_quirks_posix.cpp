#include "net/platform_quirks.h"

namespace tsl::testing {

bool platformMissesCutChunkedBodies() {
    return false;
}  // libcurl reports a partial transfer

bool systemProxyFollowsHttpProxyVariable() {
    return true;
}

}  // namespace tsl::testing
