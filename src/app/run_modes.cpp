#include "app/run_modes.h"

#include <cstdio>

#include "app/console_commands.h"
#include "app/version.h"
#include "config/config.h"
#include "net/http_client.h"
#include "support/logger.h"

namespace tsl {

int runApplication() {
    const CommandLineOptions options = parseCommandLine();
    const bool console = isConsoleRun(options);
    if (console) prepareConsole();
    if (options.version) {
        // Before the log and the settings: "--version" touches no folder.
        std::printf("%s %s\n", kDisplayName, kVersion);
        std::fflush(stdout);
        return 0;
    }
    HttpClient::initialise();  // before any thread exists
    Logger::start(console);
    Config config;
    if (!options.pairCode.empty()) return runConsolePairing(config, options);
    if (options.once) return runOnce(config);
    return runResident(config, options);
}

}  // namespace tsl
