#include "app/command_line.h"

#include <charconv>

namespace {

// A delay of 0 to 10 minutes in milliseconds; anything else is refused.
std::optional<int> ParseDelay(const std::string& text) {
    int value = 0;
    const char* const end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || ptr != end || value < 0 || value > 600000) {
        return std::nullopt;
    }
    return value;
}

CommandLine Error(std::string message) {
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.error = std::move(message);
    return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool delayGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (argument == "--screenshot" || argument == "--after") {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                return Error(argument + " needs a value");
            }
            const std::string& value = arguments[++i];
            if (argument == "--screenshot") {
                line.screenshot = value;
            } else {
                const std::optional<int> delay = ParseDelay(value);
                if (!delay) {
                    return Error("--after takes milliseconds from 0 to 600000, not '" + value +
                                 "'");
                }
                line.screenshotDelayMs = *delay;
                delayGiven = true;
            }
            continue;
        }
        if (argument.size() > 1 && argument.front() == '-') {
            return Error("unknown option '" + argument + "'");
        }
        if (line.file) {
            return Error("only one configuration file can be opened");
        }
        if (argument.empty()) {
            return Error("the configuration file name is empty");
        }
        line.file = argument;
    }
    if (delayGiven && !line.screenshot) {
        return Error("--after goes with --screenshot");
    }
    return line;
}

const char* UsageText() {
    return "usage: opctagvista [FILE.tgv] [--screenshot PNG [--after MS]]\n"
           "       opctagvista --help\n"
           "  FILE.tgv          the configuration to open (a new one without)\n"
           "  --screenshot PNG  show the first group, write a picture of the main window\n"
           "                    to PNG and quit\n"
           "  --after MS        take the picture MS milliseconds after start-up (3000)\n";
}
