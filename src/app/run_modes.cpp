#include "app/run_modes.h"

#include <cstdio>

#include "app/version.h"
#include "config/config.h"
#include "support/logger.h"

namespace tsl {

namespace {

int modeNotBuilt(const char* mode) {
    std::fprintf(stderr, "%s %s: %s is not available in this build yet.\n", kDisplayName, kVersion,
                 mode);
    std::fflush(stderr);
    return 1;
}

}  // namespace

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
    Logger::start(console);
    Config config;
    if (!options.pairCode.empty()) return modeNotBuilt("pairing from the command line");
    if (options.once) return modeNotBuilt("the single sync run (--once)");
    return runResident(config, options);
}

}  // namespace tsl
