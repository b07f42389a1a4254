#pragma once

#include <optional>
#include <string>

#include "sync/sync_status.h"

namespace tsl {

// The background agent has no window, so its log tells what the tray icon would show: one INFO
// line when the state changes to a healthy or starting state. Troubled states need no line of
// their own here, the engine already logs them as warnings with their reason.
std::optional<std::string> agentStateLine(SyncState previous, SyncState next);

}  // namespace tsl
