#include <cstdio>

#include "app/run_modes.h"
#include "app/single_instance.h"
#include "app/version.h"
#include "support/logger.h"

namespace tsl {

void prepareConsole() {}

int runResident(Config&, const CommandLineOptions&) {
    SingleInstance instance;
    if (instance.anotherIsRunning()) {
        std::printf("%s is already running.\n", kDisplayName);
        return 0;
    }
    Logger::info(std::string(kDisplayName) + " " + kVersion + " starting");
    Logger::error("The background agent is not available in this build yet");
    Logger::info("Exiting");
    return 1;
}

}  // namespace tsl
