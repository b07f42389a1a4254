#pragma once

namespace tsl {

class Config;
struct CommandLineOptions;

// "--pair CODE [--server URL] [--tally-host HOST] [--tally-port PORT]": pairs this PC and saves
// the settings. Prints "Paired with Tessaline[ (org)]." and returns 0, or prints
// "Pairing failed: ..." on stderr and returns 2 with nothing changed. The server address must
// be https (plain http only to localhost or 127.0.0.1), so the pairing code and the token never
// cross a network in clear text.
int runConsolePairing(Config& config, const CommandLineOptions& options);

// "--once": sync passes on this thread, one printed line per state report, then the last job.
// Returns 0 when the final state is Syncing or Up to date, else 1.
int runOnce(Config& config);

// "--check": one line per check of what syncing needs (diag/field_check.h), changing nothing
// but one INFO line in the log; with `report`, then saves the diagnostics report and prints its
// path. Returns 0 when no check failed and the report (if asked for) was saved, else 1.
int runCheck(const Config& config, bool report);

}  // namespace tsl
