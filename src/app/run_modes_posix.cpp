#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "app/agent_log.h"
#include "app/run_modes.h"
#include "app/single_instance.h"
#include "support/logger.h"
#include "support/version.h"
#include "sync/sync_engine.h"

namespace tsl {

namespace {

// SIGINT and SIGTERM, blocked in every thread so that only the main thread's sigwait takes
// them; the worker inherits the mask when it starts. A signal ignored by the parent (a shell
// starts background commands with SIGINT ignored) would be discarded, not kept for sigwait.
// SIGUSR1 joins them: a console "--pair" sends it to say the settings changed. It is blocked
// before the lock is claimed (and the process id written), since its default ends the process.
sigset_t blockStopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

}  // namespace

void prepareConsole() {}

std::string programName() {
    return "tessaline-tally-connector";
}

int runResident(Config& config, const CommandLineOptions&) {
    const sigset_t signals = blockStopSignals();
    SingleInstance instance;
    if (instance.anotherIsRunning()) {
        std::printf("%s is already running.\n", kDisplayName);
        return 0;
    }
    Logger::info(std::string(kDisplayName) + " " + kVersion + " starting");
    {
        // The listener runs on the worker thread only.
        std::atomic<SyncState> lastState{SyncState::Starting};
        SyncEngine engine(config, [&lastState](const SyncStatus& status) {
            const SyncState previous = lastState.exchange(status.state);
            if (const auto line = agentStateLine(previous, status.state)) Logger::info(*line);
        });
        engine.start();
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            if (signal != SIGUSR1) break;
            engine.settingsChanged();  // the pass it starts reads the settings file again
        }
        engine.stop();  // an exchange in flight is cut short; answers received are kept
    }
    Logger::info("Exiting");
    return 0;
}

}  // namespace tsl
