#pragma once
// tgvtool's commands, run on the arguments of a command line: check, re-save and dump
// configuration files without connecting to any server; list the registered servers, browse
// one, and watch a configuration's live values.

#include <ostream>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a file, server or node failed
inline constexpr int kExitUsage = 2;   // wrong arguments

// Runs the command that args (the arguments after the program name) name. What the command
// produces goes to out, messages to err. Returns the exit code.
int RunTgvtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The text of --help.
std::string TgvtoolUsage();
