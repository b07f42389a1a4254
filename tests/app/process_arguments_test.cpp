#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

// CTest starts this program with the arguments below (see CMakeLists.txt), so the platform's own
// splitting and conversion is what is checked here: words with blanks, text outside ASCII, a value
// switch as the last element.
TEST(CommandLine, ProcessArgumentsArriveIntact) {
    const std::vector<std::string> arguments = tsl::processArguments();
    ASSERT_FALSE(arguments.empty());
    EXPECT_NE(arguments[0].find("test_app"), std::string::npos) << arguments[0];
    const std::vector<std::string> expected = {"--server",     "two words", "Grüße €",
                                               "--tally-port", " 42",       "--pair"};
    EXPECT_EQ(std::vector<std::string>(arguments.begin() + 1, arguments.end()), expected);

    const tsl::CommandLineOptions options = tsl::parseCommandLine();
    EXPECT_EQ(options.server, "two words");
    EXPECT_EQ(options.tallyPort, 42);
    EXPECT_EQ(options.pairCode, "");
    EXPECT_FALSE(tsl::isConsoleRun(options));
}

}  // namespace
