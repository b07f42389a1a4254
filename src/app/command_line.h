#pragma once

#include <string>
#include <vector>

namespace tsl {

struct CommandLineOptions {
    bool background = false;
    bool once = false;
    bool check = false;
    bool report = false;  // with "--check": also save a diagnostics report
    bool version = false;
    bool help = false;  // "--help", "-h" or "/?"
    std::string pairCode;
    std::string server;
    std::string tallyHost;
    int tallyPort = 0;
    bool operator==(const CommandLineOptions&) const = default;
};

// The switches of the process's own command line. Cannot fail; unknown text is ignored.
CommandLineOptions parseCommandLine();

// The walk over the arguments (UTF-8, the program name first): exact, case-sensitive
// matches; a value switch takes the next argument whatever it is ("" when it is the last);
// the last of repeated values wins.
CommandLineOptions parseArguments(const std::vector<std::string>& arguments);

// Like atoi (blanks, a sign, digits up to the first non-digit, none gives 0), but values
// outside the 32-bit range saturate instead of being undefined.
int parsePort(const std::string& text);

// A console run prints and ends ("--help", "--version", "--pair CODE", "--once", "--check");
// anything else
// is the tray (or, off Windows, the background agent).
bool isConsoleRun(const CommandLineOptions& options);

// What a run does, by precedence: a request for help answers before anything else, then
// "--version"; a pairing code wins over "--once", which wins over "--check", and everything else
// is the resident program.
enum class RunMode { Help, Version, Pairing, Once, Check, Resident };
RunMode chooseRunMode(const CommandLineOptions& options);

// The short usage printed for "--help", naming the program as it was started.
std::string usageText(const std::string& programName);

// The process's arguments as UTF-8; the platform halves implement this.
std::vector<std::string> processArguments();

}  // namespace tsl
