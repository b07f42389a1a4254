#include "app/agent_log.h"

namespace tsl {

std::optional<std::string> agentStateLine(SyncState previous, SyncState next) {
    if (next == previous || isTroubledState(next)) return std::nullopt;
    return std::string("Sync state: ") + syncStateText(next);
}

}  // namespace tsl
