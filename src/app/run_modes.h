#pragma once

#include <string>

#include "app/command_line.h"

namespace tsl {

class Config;

// The whole run after the platform's entry point: parse the switches, prepare the console
// for a console run, answer "--version" before anything is touched, start the log, load the
// settings and hand over to the chosen mode. Returns the process exit code.
int runApplication();

// Platform halves (run_modes_win32.cpp / run_modes_posix.cpp).
void prepareConsole();
// The program's file name as a user types it ("TessalineTallyConnector.exe",
// "tessaline-tally-connector").
std::string programName();
// The tray program on Windows, the background agent elsewhere; single instance per session.
int runResident(Config& config, const CommandLineOptions& options);

}  // namespace tsl
