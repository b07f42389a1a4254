#include "tray/status_text.h"

#include "support/text.h"
#include "support/version.h"

namespace tsl {

std::string statusText(const SyncStatus& status, const Settings& settings,
                       const std::string& machine) {
    std::string text;
    // Most values come from Tessaline, Tally or the settings file: escaped, none of them can
    // break a line or pass for a line of its own.
    auto line = [&text](const std::string& content) { text += escapeControls(content) + "\r\n"; };
    line(std::string("Status:  ") + syncStateText(status.state));
    const std::string detail = stateDetail(status.state, status.message);
    if (!detail.empty()) line("         " + detail);
    line("");
    line("Tessaline:  " + settings.serverUrl);
    if (!settings.organisation.empty()) line("Organisation:  " + settings.organisation);
    line("Tally company:  " +
         (status.company.empty() ? std::string("(not chosen yet in Tessaline)") : status.company));
    line("Tally:  " + (status.tallyInfo.empty() ? std::string("-") : status.tallyInfo) + "  [" +
         settings.tallyHost + ":" + std::to_string(settings.tallyPort) + "]");
    line("");
    line("Last completed sync:  " + (status.lastSync.empty() ? std::string("-") : status.lastSync));
    line("Jobs this session:  " + std::to_string(status.jobsThisSession));
    if (!status.lastJob.empty()) line("Last job:  " + status.lastJob);
    if (status.resultsWaiting > 0) {
        line("Results waiting to be reported:  " + std::to_string(status.resultsWaiting));
    }
    if (status.resultsSetAside > 0) {
        line("Set aside:  " + std::to_string(status.resultsSetAside) +
             " job(s) whose results Tessaline did not take (see " + kSetAsideFileName + ")");
    }
    text += std::string("\r\nVersion ") + kVersion + " on " + escapeControls(machine) + "\r\n";
    return text;
}

}  // namespace tsl
