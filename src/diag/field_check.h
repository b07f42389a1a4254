#pragma once

#include <atomic>
#include <string>
#include <vector>

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

// Looks at everything syncing depends on, in the order a support desk reads it, and changes
// nothing: no setting saved, no job fetched, no token cleared, no file renamed. The one call
// to Tessaline is a heartbeat with the stored token; Tally gets its probe. Safe beside a running
// sync worker: it reads the settings and files and takes no lock of a pass. When another
// thread sets `stop`, the exchanges with Tessaline and Tally end within about a second and
// the lines say so (not owned; must outlive the call).
std::vector<CheckLine> runFieldChecks(const Config& config,
                                      const std::atomic<bool>* stop = nullptr);

}  // namespace tsl
