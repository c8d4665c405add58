// tgvtool: checks, re-saves and shows configuration files from the command line.

#include <iostream>
#include <string>
#include <vector>

#include "tgvtool/commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int code = RunTgvtool(args, std::cout, std::cerr);
    std::cout.flush();
    return std::cout.fail() && code == kExitOk ? kExitFailed : code;
}
