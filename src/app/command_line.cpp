#include "app/command_line.h"

#include <climits>

namespace tsl {

int parsePort(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

CommandLineOptions parseArguments(const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (arg == "--background") {
            options.background = true;
        } else if (arg == "--once") {
            options.once = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--report") {
            options.report = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--pair" || arg == "--server" || arg == "--tally-host" ||
                   arg == "--tally-port") {
            const std::string value = i + 1 < arguments.size() ? arguments[++i] : std::string();
            if (arg == "--pair") options.pairCode = value;
            if (arg == "--server") options.server = value;
            if (arg == "--tally-host") options.tallyHost = value;
            if (arg == "--tally-port") options.tallyPort = parsePort(value);
        }
    }
    return options;
}

CommandLineOptions parseCommandLine() {
    return parseArguments(processArguments());
}

bool isConsoleRun(const CommandLineOptions& options) {
    return options.once || options.check || options.version || options.help ||
           !options.pairCode.empty();
}

RunMode chooseRunMode(const CommandLineOptions& options) {
    if (options.help) return RunMode::Help;
    if (options.version) return RunMode::Version;
    if (!options.pairCode.empty()) return RunMode::Pairing;
    if (options.once) return RunMode::Once;
    if (options.check) return RunMode::Check;
    return RunMode::Resident;
}

std::string usageText(const std::string& programName) {
    return "Usage: " + programName +
           " [switch]\n"
           "Links this PC's TallyPrime with Tessaline. Without a switch it runs in the\n"
           "background and syncs until it is closed.\n"
           "\n"
           "  --background        start without opening the status window (used at logon)\n"
           "  --pair CODE         pair this PC with the code from Tessaline\n"
           "                      (Accounting > Tally Sync), then end\n"
           "    --server URL      ...with this server address\n"
           "    --tally-host HOST ...with Tally's XML server on this host (localhost)\n"
           "    --tally-port PORT ...and port (9000)\n"
           "  --once              sync once, printing each state, then end\n"
           "  --check             check what syncing needs, one line each, changing\n"
           "                      nothing, then end\n"
           "    --report          ...and save a diagnostics report in the log folder\n"
           "  --version           print the version and end\n"
           "  --help, -h, /?      print this text and end\n"
           "\n"
           "Exit codes: 0 done (--once: in sync), 1 --once not in sync or --check found\n"
           "a failure, 2 pairing failed.\n";
}

}  // namespace tsl
