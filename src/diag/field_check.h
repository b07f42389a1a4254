#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "net/connection_facts.h"

namespace tsl {

class Config;

// One finding of the field check: what was looked at, what was found and, for a failure or a
// warning, one sentence saying what to do.
struct CheckLine {
    enum class Mark { Ok, Warn, Fail };
    Mark mark = Mark::Ok;
    std::string what;    // "Tally"
    std::string figure;  // what was found, for a person
    std::string advice;  // "" when there is nothing to do
};

// "ok   WHAT: FIGURE", "warn ..." or "FAIL WHAT: FIGURE - ADVICE"; control characters escaped,
// since figures carry what a server or Tally said.
std::string formatCheckLine(const CheckLine& line);

// The connection to Tessaline as the heartbeat's exchange saw it (serverUrl its address): each
// step's time, for https the protocol and the certificate. A certificate refused is a failure,
// one that runs out within 14 days of now (seconds since 1970 UTC) a warning.
CheckLine connectionCheck(const std::string& serverUrl, const ConnectionFacts& facts,
                          std::int64_t now);

// Looks at everything syncing depends on, in the order a support desk reads it, and changes
// nothing: no setting saved, no job fetched, no token cleared, no file renamed. The one call
// to Tessaline is a heartbeat with the stored token; Tally gets its probe. Safe beside a running
// sync worker: it reads the settings and files and takes no lock of a pass. When another
// thread sets `stop`, the exchanges with Tessaline and Tally end within about a second and
// the lines say so (not owned; must outlive the call).
std::vector<CheckLine> runFieldChecks(const Config& config,
                                      const std::atomic<bool>* stop = nullptr);

}  // namespace tsl
