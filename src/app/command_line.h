#pragma once
// The command line of opctagvista:
//   opctagvista [FILE.tgv] [--screenshot PNG [--after MS]]
//   opctagvista --help

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Run, Help, Error };
    Action action = Action::Run;
    std::optional<std::string> file;        // the configuration to open
    std::optional<std::string> screenshot;  // where to write the main window's picture
    int screenshotDelayMs = 3000;           // how long after start-up the picture is taken
    std::string error;                      // what is wrong, for Action::Error
};

// Reads the arguments after the program name (the GUI toolkit's own are taken out before).
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text for --help and after an error.
const char* UsageText();
