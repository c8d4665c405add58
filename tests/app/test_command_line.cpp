// The program's command line.

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

TEST(CommandLine, ReadsTheFileAndTheScreenshotOptions) {
    CommandLine line = ParseCommandLine({});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_FALSE(line.file);
    EXPECT_FALSE(line.screenshot);

    line = ParseCommandLine({"plant.tgv", "--screenshot", "shot.png", "--after", "1500"});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.file, "plant.tgv");
    EXPECT_EQ(line.screenshot, "shot.png");
    EXPECT_EQ(line.screenshotDelayMs, 1500);
    EXPECT_EQ(ParseCommandLine({"--screenshot", "s.png"}).screenshotDelayMs, 3000);
    EXPECT_EQ(ParseCommandLine({"a.tgv", "--help"}).action, CommandLine::Action::Help);
}

TEST(CommandLine, RefusesWhatItCannotCarryOut) {
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"a.tgv", "b.tgv"},
             {"--bogus"},
             {"--screenshot"},
             {"--screenshot", "s.png", "--after"},
             {"--screenshot", "s.png", "--after", "soon"},
             {"--screenshot", "s.png", "--after", "-5"},
             {"--screenshot", "s.png", "--after", "99999999999"},
             {"--after", "100"},
             {""},
         }) {
        const CommandLine line = ParseCommandLine(bad);
        EXPECT_EQ(line.action, CommandLine::Action::Error) << bad.size();
        EXPECT_FALSE(line.error.empty());
    }
}

}  // namespace
