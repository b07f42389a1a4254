#include "app/command_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

namespace tsl {

void PrintTo(const CommandLineOptions& o, std::ostream* out) {
    *out << "{background " << o.background << ", once " << o.once << ", check " << o.check
         << ", version " << o.version << ", help " << o.help << ", pair \"" << o.pairCode
         << "\", server \"" << o.server << "\", host \"" << o.tallyHost << "\", port "
         << o.tallyPort << "}";
}

}  // namespace tsl

namespace {

using tsl::CommandLineOptions;
using tsl::RunMode;

CommandLineOptions options(auto... set) {
    CommandLineOptions o;
    (set(o), ...);
    return o;
}
constexpr auto background = [](CommandLineOptions& o) { o.background = true; };
constexpr auto once = [](CommandLineOptions& o) { o.once = true; };
constexpr auto check = [](CommandLineOptions& o) { o.check = true; };
constexpr auto report = [](CommandLineOptions& o) { o.report = true; };
constexpr auto version = [](CommandLineOptions& o) { o.version = true; };
constexpr auto help = [](CommandLineOptions& o) { o.help = true; };
auto pair(const char* v) {
    return [v](CommandLineOptions& o) { o.pairCode = v; };
}
auto server(const char* v) {
    return [v](CommandLineOptions& o) { o.server = v; };
}
auto host(const char* v) {
    return [v](CommandLineOptions& o) { o.tallyHost = v; };
}
auto port(int v) {
    return [v](CommandLineOptions& o) { o.tallyPort = v; };
}

TEST(CommandLine, SwitchesValuesAndRunMode) {
    const struct Case {
        std::vector<std::string> args;  // after the program name
        CommandLineOptions expected;
        RunMode mode;
    } cases[] = {
        {{}, options(), RunMode::Resident},
        // A request for help answers before anything else, in each of its spellings; other
        // unknown switches stay ignored.
        {{"--version", "--help"}, options(version, help), RunMode::Help},
        {{"--pair", "X", "-h"}, options(pair("X"), help), RunMode::Help},
        {{"/?", "--once"}, options(help, once), RunMode::Help},
        {{"--HELP", "-?", "/h", "help", "--unknown"}, options(), RunMode::Resident},
        // "--version" wins over everything; the pairing code is still read.
        {{"--version", "--pair", "X"}, options(version, pair("X")), RunMode::Version},
        {{"--once", "--version", "--background"},
         options(once, version, background),
         RunMode::Version},
        // A value switch as the last element has an empty value: no pairing.
        {{"--pair"}, options(), RunMode::Resident},
        {{"--once", "--pair"}, options(once), RunMode::Once},
        {{"--pair", "", "--once"}, options(once), RunMode::Once},
        // The next element is the value whatever it looks like.
        {{"--pair", "--once"}, options(pair("--once")), RunMode::Pairing},
        {{"--server", "--pair", "X"}, options(server("--pair")), RunMode::Resident},
        {{"--tally-host", "--tally-port", "9"}, options(host("--tally-port")), RunMode::Resident},
        // Pairing wins over "--once", which wins over "--check".
        {{"--pair", "CODE", "--once"}, options(pair("CODE"), once), RunMode::Pairing},
        {{"--check", "--once"}, options(check, once), RunMode::Once},
        {{"--check", "--pair", "X"}, options(check, pair("X")), RunMode::Pairing},
        {{"--report", "--check"}, options(check, report), RunMode::Check},
        {{"--report"}, options(report), RunMode::Resident},
        // Exact, case-sensitive matches only; no equals-sign forms, no short forms.
        {{"--Once", "--VERSION", "-once", "--once ", "once"}, options(), RunMode::Resident},
        {{"--pair=X", "--server=https://x", "--tally-port=5", "--once=1", "-p", "X"},
         options(),
         RunMode::Resident},
        // Overrides without a pairing code change nothing about the mode.
        {{"--server", "https://x", "--tally-host", "tally", "--tally-port", "9001"},
         options(server("https://x"), host("tally"), port(9001)),
         RunMode::Resident},
        {{"--server", "https://x", "--once"}, options(server("https://x"), once), RunMode::Once},
        // Repeats: the last value wins, flags stay set.
        {{"--server", "a", "--pair", "1", "--server", "b", "--pair", "2", "--tally-port", "7",
          "--tally-port", "x"},
         options(server("b"), pair("2")),
         RunMode::Pairing},
        {{"--tally-host", "h", "--tally-host", ""}, options(), RunMode::Resident},
        {{"--background", "stray", "--background"}, options(background), RunMode::Resident},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "connector.exe");
        const CommandLineOptions parsed = tsl::parseArguments(args);
        std::string line;
        for (const std::string& a : c.args)
            line += "[" + a + "] ";
        EXPECT_EQ(parsed, c.expected) << line;
        EXPECT_EQ(tsl::chooseRunMode(parsed), c.mode) << line;
        EXPECT_EQ(tsl::isConsoleRun(parsed), c.mode != RunMode::Resident) << line;
    }
    // Without even a program name every field keeps its default.
    EXPECT_EQ(tsl::parseArguments({}), CommandLineOptions());
}

// The value of "--tally-port" goes through this reader.
TEST(CommandLine, PortIsReadLikeAtoiButSaturates) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"abc", 0},
        {"0", 0},
        {"-5", -5},
        {"  42x", 42},
        {"\t\n\v\f\r 8", 8},
        {"+7", 7},
        {"", 0},
        {"-", 0},
        {"007", 7},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"123456789012345678901234567890", INT_MAX},
        {"- 5", 0},
        {"+-5", 0},
        {"9 000", 9},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::parsePort(c.text), c.value) << c.text;
}

}  // namespace
