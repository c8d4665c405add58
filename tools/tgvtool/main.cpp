// tgvtool: checks, re-saves and shows configuration files, and lists, browses and watches OPC
// servers, from the command line.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "framework/console_ui.h"
#include "opc/com_environment.h"
#include "rpc/providers.h"
#include "tgvtool/commands.h"

int main(int argc, char** argv) {
    // Standard output carries the command's result, so both message boxes and trace lines go
    // to standard error.
    ConsoleUiServices console(stderr, stderr);
    const ScopedUiServices installed(console);
    tgv::rpc::InstallTransportProviders();
    InitComEnvironment();

    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int code = RunTgvtool(args, std::cout, std::cerr);
    std::cout.flush();
    ExitComEnvironment();
    return std::cout.fail() && code == kExitOk ? kExitFailed : code;
}
