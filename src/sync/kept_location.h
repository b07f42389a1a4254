#pragma once

#include <filesystem>

namespace tsl {

// Kept answers once lived beside connector.ini, in the folder that roams with the user's
// profile; they belong in the state folder. Moves every file of kept answers found in `from`
// (kept-results.json, the set-aside file and the damaged ones renamed aside) into `to`, with
// one INFO line. Never loses one: a file whose name is taken in `to` arrives under a free name
// (<name>.earlier, .earlier-2, ...) with a WARN line naming it. A file that cannot be moved
// stays where it is (ERROR line) and is tried again at the next start. Nothing when the two
// folders are the same.
void moveKeptFiles(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tsl
