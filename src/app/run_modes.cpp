#include "app/run_modes.h"

#include <cstdio>

#include "app/console_commands.h"
#include "config/config.h"
#include "net/http_client.h"
#include "support/logger.h"
#include "support/version.h"

namespace tsl {

int runApplication() {
    const CommandLineOptions options = parseCommandLine();
    const RunMode mode = chooseRunMode(options);
    const bool console = isConsoleRun(options);
    if (console) prepareConsole();
    if (mode == RunMode::Help) {
        std::fputs(usageText(programName()).c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    if (mode == RunMode::Version) {
        // Before the log and the settings: "--version" touches no folder.
        std::printf("%s %s\n", kDisplayName, kVersion);
        std::fflush(stdout);
        return 0;
    }
    HttpClient::initialise();  // before any thread exists
    Logger::start(console);
    Config config;
    if (mode == RunMode::Pairing) return runConsolePairing(config, options);
    if (mode == RunMode::Once) return runOnce(config);
    if (mode == RunMode::Check) return runCheck(config, options.report);
    return runResident(config, options);
}

}  // namespace tsl
