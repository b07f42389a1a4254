#include "app/command_line.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

tsl::CommandLineOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), "connector.exe");
    return tsl::parseArguments(args);
}

TEST(CommandLine, SwitchesAndValues) {
    auto o = parse({"--version", "--pair", "ABC", "--once"});
    EXPECT_TRUE(o.version && o.once);
    EXPECT_EQ(o.pairCode, "ABC");

    o = parse({"--pair"});  // last: empty value, so this is not a console run
    EXPECT_EQ(o.pairCode, "");
    EXPECT_FALSE(tsl::isConsoleRun(o));

    o = parse({"--pair", "--once"});  // the next element is taken whatever it is
    EXPECT_EQ(o.pairCode, "--once");
    EXPECT_FALSE(o.once);

    o = parse({"--Once", "--pair=X", "-v", "stray", "--background"});
    EXPECT_FALSE(o.once);
    EXPECT_EQ(o.pairCode, "");
    EXPECT_TRUE(o.background);
    EXPECT_FALSE(tsl::isConsoleRun(o));

    o = parse({"--server", "a", "--server", "b", "--tally-host", "", "--tally-port", "9001"});
    EXPECT_EQ(o.server, "b");
    EXPECT_EQ(o.tallyHost, "");
    EXPECT_EQ(o.tallyPort, 9001);

    EXPECT_EQ(parse({}).pairCode, "");
    EXPECT_TRUE(tsl::parseArguments({}).pairCode.empty());
}

TEST(CommandLine, PortIsReadLikeAtoiButSaturates) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"abc", 0},
        {"0", 0},
        {"-5", -5},
        {"  42x", 42},
        {"+7", 7},
        {"", 0},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"- 5", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::parsePort(c.text), c.value) << c.text;
}

TEST(CommandLine, ConsoleRunChoice) {
    EXPECT_TRUE(tsl::isConsoleRun(parse({"--once"})));
    EXPECT_TRUE(tsl::isConsoleRun(parse({"--version"})));
    EXPECT_TRUE(tsl::isConsoleRun(parse({"--pair", "X"})));
    EXPECT_FALSE(tsl::isConsoleRun(parse({"--server", "https://x", "--background"})));
}

}  // namespace
