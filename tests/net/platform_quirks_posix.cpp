#include "net/platform_quirks.h"

namespace tsl::testing {

bool platformMissesCutChunkedBodies() {
    return false;
}  // libcurl reports a partial transfer

}  // namespace tsl::testing
