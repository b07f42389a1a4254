#pragma once

#include <string>

#include "config/settings.h"
#include "sync/sync_status.h"

namespace tsl {

// The text of the status dialog, UTF-8, every line ending in "\r\n": the state and its detail,
// where the connector connects, the Tally company and answer, this session's progress, results
// still waiting for Tessaline and those set aside, and the version with the machine's name.
// Control characters in the values are escaped (escapeControls), so each value stays on its
// line.
std::string statusText(const SyncStatus& status, const Settings& settings,
                       const std::string& machine);

}  // namespace tsl
