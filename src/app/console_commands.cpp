#include "app/console_commands.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "api/api_client.h"
#include "app/command_line.h"
#include "app/single_instance.h"
#include "config/config.h"
#include "config/pairing_address.h"
#include "config/start_with_windows.h"
#include "diag/diagnostics_report.h"
#include "diag/field_check.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "sync/path_text.h"
#include "sync/sync_engine.h"

namespace tsl {

int runConsolePairing(Config& config, const CommandLineOptions& options) {
    Settings settings = config.settings();
    if (!options.server.empty()) settings.serverUrl = normaliseServerUrl(options.server);
    if (!options.tallyHost.empty()) settings.tallyHost = options.tallyHost;
    if (options.tallyPort > 0) settings.tallyPort = options.tallyPort;

    if (!isPairingAddressAllowed(settings.serverUrl)) {
        std::fprintf(stderr, "Pairing failed: %s\n", kPairingAddressRefused);
        return 2;
    }

    try {
        ApiClient api(settings.serverUrl, std::string());
        const PairingResult result = api.pair(options.pairCode, machineName());
        settings.token = result.token;
        settings.organisation = result.organisation;
        settings.company = result.companyName;
        config.save(settings);
        setStartWithWindows(true);
        SingleInstance::tellRunningCopySettingsChanged();
        // What the server named is shown escaped: it must not move the cursor, clear the
        // screen or pass for another line of ours.
        const std::string suffix = result.organisation.empty()
                                       ? std::string()
                                       : " (" + escapeControls(result.organisation) + ")";
        std::printf("Paired with Tessaline%s.\n", suffix.c_str());
        std::fflush(stdout);
        return 0;
    } catch (const ApiError& e) {
        std::fprintf(stderr, "Pairing failed: %s\n", escapeControls(e.message).c_str());
        return 2;
    }
}

int runOnce(Config& config) {
    SyncEngine engine(config, [](const SyncStatus& status) {
        std::printf("%s\n", escapeControls(stateLine(status.state, status.message)).c_str());
        std::fflush(stdout);
    });
    const bool healthy = engine.syncOnce();
    const SyncStatus status = engine.status();
    if (!status.lastJob.empty()) {
        std::printf("Last job: %s\n", escapeControls(status.lastJob).c_str());
    }
    std::fflush(stdout);
    return healthy ? 0 : 1;
}

int runCheck(const Config& config, bool report) {
    Logger::info("Checking what syncing needs (--check)");
    const std::vector<CheckLine> lines = runFieldChecks(config);
    bool failed = false;
    for (const CheckLine& line : lines) {
        std::printf("%s\n", formatCheckLine(line).c_str());
        failed = failed || line.mark == CheckLine::Mark::Fail;
    }
    if (report) {
        std::string error;
        const std::filesystem::path saved = saveDiagnosticsReport(config, lines, error);
        if (saved.empty()) {
            std::fprintf(stderr, "Could not save the diagnostics report: %s\n",
                         escapeControls(error).c_str());
            failed = true;
        } else {
            std::printf("Diagnostics report saved: %s\n", pathText(saved).c_str());
        }
    }
    std::fflush(stdout);
    return failed ? 1 : 0;
}

}  // namespace tsl
