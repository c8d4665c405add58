#pragma once
// The options that shape a simulation server process: where its address space comes from, the
// faults it shows, and the load it can carry. opcsim reads them from its command line, and
// writes them into its registration so that every server started from it has them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/simulator.h"

struct ServerOptions {
    // An address-space file in place of the built-in space.
    std::optional<std::string> addressSpaceFile;
    // The size of the built-in Load branch (not with a file).
    std::optional<std::uint32_t> loadItems;
    // The fastest update rate groups may run at, in milliseconds.
    std::optional<DWORD> fastestUpdateRate;
    // After this many milliseconds of serving the process ends abruptly, as a crash would.
    std::optional<std::uint32_t> dieAfterMs;
    SimFaults faults;
    // The options as given, each an argument of its own, for a registration to repeat (file
    // names made absolute).
    std::vector<std::string> arguments;
};

// The option descriptions for a usage text, one per line.
const char* ServerOptionsHelp();

// Whether arg names one of these options (which then takes a value).
bool IsServerOption(std::string_view arg);

// Whether arg is one of the fault switches that take no value ("--never-refuse-browse-up",
// "--dead").
bool IsServerFlag(std::string_view arg);

// Sets the fault a switch names; false for an argument that is not one.
bool ParseServerFlag(std::string_view arg, ServerOptions* options);

// Reads one option: name is the option ("--fail"), value its argument. false with a message
// for a value that makes no sense.
bool ParseServerOption(std::string_view name, std::string_view value, ServerOptions* options,
                       std::string* error);

// An HRESULT written in hexadecimal ("0x80004005"), in decimal ("-2147467259", "1") or by one of
// the common names ("E_FAIL", "S_FALSE", ...).
std::optional<HRESULT> ParseHresult(std::string_view text);

// The fault options and switches that give exactly these faults, each an argument of its own,
// in the form ParseFaultArguments reads. nullopt for faults no option can carry (an empty
// method name or item id, or a name holding a line break).
std::optional<std::vector<std::string>> FaultArguments(const SimFaults& faults);

// The faults the fault options and switches give; false with a message for an argument that is
// not one of them or a value that makes no sense.
bool ParseFaultArguments(const std::vector<std::string>& arguments, SimFaults* faults,
                         std::string* error);

// Applies the options to a simulator that no client has used yet: loads the address space,
// sets the faults. false with a message when the address space cannot be had.
bool ApplyServerOptions(const ServerOptions& options, Simulator& simulator, std::string* error);

// The simulator options these server options call for.
SimOptions SimOptionsFor(const ServerOptions& options);

// One argument as a command line carries it, so that splitting the line gives it back: quoted
// when it holds blanks or quotes or is empty, its quotes written \". nullopt for an argument
// no command line can carry (one that must be quoted and ends in a backslash, or that holds a
// line break).
std::optional<std::string> QuoteCommandArgument(std::string_view argument);
