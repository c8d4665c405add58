#include "sim/server_options.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

#include "com/connection_point.h"
#include "com/data_object.h"
#include "com/unknown.h"
#include "opcda/errors.h"
#include "opcda/ids.h"
#include "sim/address_space.h"
#include "sim/space_loader.h"

namespace {

struct Named {
    const char* name;
    HRESULT hr;
};

constexpr Named kResults[] = {
    {"S_OK", S_OK},
    {"S_FALSE", S_FALSE},
    {"E_FAIL", E_FAIL},
    {"E_NOTIMPL", E_NOTIMPL},
    {"E_OUTOFMEMORY", E_OUTOFMEMORY},
    {"E_INVALIDARG", E_INVALIDARG},
    {"E_NOINTERFACE", E_NOINTERFACE},
    {"E_POINTER", E_POINTER},
    {"E_UNEXPECTED", E_UNEXPECTED},
    {"E_ACCESSDENIED", E_ACCESSDENIED},
    {"RPC_E_DISCONNECTED", RPC_E_DISCONNECTED},
    {"OPC_E_INVALIDHANDLE", OPC_E_INVALIDHANDLE},
    {"OPC_E_BADTYPE", OPC_E_BADTYPE},
    {"OPC_E_BADRIGHTS", OPC_E_BADRIGHTS},
    {"OPC_E_UNKNOWNITEMID", OPC_E_UNKNOWNITEMID},
    {"OPC_E_INVALIDITEMID", OPC_E_INVALIDITEMID},
    {"OPC_E_UNKNOWNPATH", OPC_E_UNKNOWNPATH},
    {"OPC_E_RANGE", OPC_E_RANGE},
    {"OPC_E_DUPLICATENAME", OPC_E_DUPLICATENAME},
};

struct NamedIid {
    const char* name;
    IID iid;
};

constexpr NamedIid kInterfaces[] = {
    {"IOPCServer", IID_IOPCServer},
    {"IOPCCommon", IID_IOPCCommon},
    {"IOPCBrowseServerAddressSpace", IID_IOPCBrowseServerAddressSpace},
    {"IOPCItemProperties", IID_IOPCItemProperties},
    {"IOPCServerPublicGroups", IID_IOPCServerPublicGroups},
    {"IConnectionPointContainer", IID_IConnectionPointContainer},
    {"IOPCGroupStateMgt", IID_IOPCGroupStateMgt},
    {"IOPCItemMgt", IID_IOPCItemMgt},
    {"IOPCSyncIO", IID_IOPCSyncIO},
    {"IOPCAsyncIO", IID_IOPCAsyncIO},
    {"IOPCAsyncIO2", IID_IOPCAsyncIO2},
    {"IDataObject", IID_IDataObject},
};

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// "KEY=VALUE" split at the last "=" (method names hold none; item ids may).
bool SplitPair(std::string_view text, std::string_view* key, std::string_view* value) {
    const std::size_t eq = text.rfind('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == text.size()) {
        return false;
    }
    *key = text.substr(0, eq);
    *value = text.substr(eq + 1);
    return true;
}

std::string Quote(std::string_view text) {
    return "'" + std::string(text) + "'";
}

}  // namespace

const char* ServerOptionsHelp() {
    return "  --address-space FILE      the address space from a JSON file instead of the "
           "built-in one\n"
           "  --load-items N            the built-in Load branch holds N items (default 10000)\n"
           "  --load-rate MS            the fastest update rate groups may run at, a multiple "
           "of 10 (default 100)\n"
           "  --fail METHOD=HRESULT     calls of METHOD (or INTERFACE::METHOD) give HRESULT "
           "instead of their work\n"
           "  --item-error ITEMID=HRESULT  AddItems reports HRESULT for ITEMID\n"
           "  --missing-interface IID   server and groups refuse this interface ({GUID} or a "
           "name such as IOPCBrowseServerAddressSpace)\n"
           "  --never-refuse-browse-up  a move up the browse tree never fails, even at the top\n"
           "  --enum-fail-after N[=HRESULT]  browse enumerators fail (E_FAIL) after N names\n"
           "  --delay-ms N              every call waits N ms before it answers\n"
           "  --dead                    every call fails as a broken connection does\n"
           "  --die-after-ms N          the process ends abruptly after N ms of serving\n"
           "HRESULTs are hexadecimal (0x80004005), decimal, or a name such as E_FAIL or "
           "S_FALSE; options may repeat and take their value as the next argument or after "
           "'='.\n";
}

bool IsServerFlag(std::string_view arg) {
    return arg == "--never-refuse-browse-up" || arg == "--dead";
}

bool ParseServerFlag(std::string_view arg, ServerOptions* options) {
    if (arg == "--never-refuse-browse-up") {
        options->faults.neverRefuseBrowseUp = true;
    } else if (arg == "--dead") {
        options->faults.dead = true;
    } else {
        return false;
    }
    options->arguments.emplace_back(arg);
    return true;
}

bool IsServerOption(std::string_view arg) {
    static constexpr std::string_view kNames[] = {
        "--address-space",     "--load-items",      "--load-rate", "--fail",         "--item-error",
        "--missing-interface", "--enum-fail-after", "--delay-ms",  "--die-after-ms",
    };
    for (const std::string_view name : kNames) {
        if (arg == name) {
            return true;
        }
    }
    return false;
}

std::optional<HRESULT> ParseHresult(std::string_view text) {
    for (const Named& n : kResults) {
        if (text == n.name) {
            return n.hr;
        }
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (const char c : text.substr(2)) {
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        return static_cast<HRESULT>(value);
    }
    const bool negative = !text.empty() && text[0] == '-';
    const std::optional<std::uint64_t> magnitude =
        ParseUnsigned(negative ? text.substr(1) : text, negative ? 0x80000000ULL : 0xFFFFFFFFULL);
    if (!magnitude) {
        return std::nullopt;
    }
    if (negative) {
        return static_cast<HRESULT>(-static_cast<std::int64_t>(*magnitude));
    }
    // Decimal numbers above the signed range are the unsigned spelling of a failure code.
    return static_cast<HRESULT>(static_cast<std::uint32_t>(*magnitude));
}

bool ParseServerOption(std::string_view name, std::string_view value, ServerOptions* options,
                       std::string* error) {
    const auto fail = [&](std::string message) {
        *error = std::string(name) + ": " + std::move(message);
        return false;
    };
    std::string argument(value);
    if (name == "--address-space") {
        if (value.empty()) {
            return fail("needs a file name");
        }
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(argument, ec);
        options->addressSpaceFile = ec ? argument : absolute.string();
        argument = *options->addressSpaceFile;
    } else if (name == "--load-items") {
        const auto n = ParseUnsigned(value, kMaxLoadedLeaves);
        if (!n) {
            return fail("needs a number of items up to " + std::to_string(kMaxLoadedLeaves));
        }
        options->loadItems = static_cast<std::uint32_t>(*n);
    } else if (name == "--load-rate") {
        const auto n = ParseUnsigned(value, 24 * 60 * 60 * 1000);
        if (!n || *n == 0) {
            return fail("needs a rate in milliseconds");
        }
        options->fastestUpdateRate = static_cast<DWORD>(*n);
    } else if (name == "--fail") {
        std::string_view method;
        std::string_view result;
        std::optional<HRESULT> hr;
        if (!SplitPair(value, &method, &result) || !(hr = ParseHresult(result))) {
            return fail("needs METHOD=HRESULT, not " + Quote(value));
        }
        options->faults.callResults[std::string(method)] = *hr;
    } else if (name == "--item-error") {
        std::string_view item;
        std::string_view result;
        std::optional<HRESULT> hr;
        if (!SplitPair(value, &item, &result) || !(hr = ParseHresult(result))) {
            return fail("needs ITEMID=HRESULT, not " + Quote(value));
        }
        options->faults.itemErrors[std::string(item)] = *hr;
    } else if (name == "--missing-interface") {
        std::optional<IID> iid = GuidFromString(value);
        for (const NamedIid& n : kInterfaces) {
            if (value == n.name) {
                iid = n.iid;
            }
        }
        if (!iid) {
            return fail("needs an interface name or a {GUID}, not " + Quote(value));
        }
        if (*iid == IID_IUnknown) {
            return fail("every object answers IUnknown");
        }
        options->faults.missingInterfaces.insert(*iid);
    } else if (name == "--enum-fail-after") {
        std::string_view count = value;
        HRESULT failure = E_FAIL;
        if (const std::size_t eq = value.find('='); eq != std::string_view::npos) {
            count = value.substr(0, eq);
            const std::optional<HRESULT> hr = ParseHresult(value.substr(eq + 1));
            if (!hr) {
                return fail("needs N or N=HRESULT, not " + Quote(value));
            }
            failure = *hr;
        }
        const auto n = ParseUnsigned(count, std::numeric_limits<int>::max());
        if (!n || *n == 0) {
            return fail("needs a number of names from 1 on, not " + Quote(value));
        }
        options->faults.enumFailAfter = static_cast<int>(*n);
        options->faults.enumFailure = failure;
    } else if (name == "--delay-ms") {
        const auto n = ParseUnsigned(value, 600000);
        if (!n) {
            return fail("needs milliseconds up to 600000");
        }
        options->faults.delayMs = static_cast<std::uint32_t>(*n);
    } else if (name == "--die-after-ms") {
        const auto n = ParseUnsigned(value, std::numeric_limits<std::uint32_t>::max());
        if (!n) {
            return fail("needs milliseconds");
        }
        options->dieAfterMs = static_cast<std::uint32_t>(*n);
    } else {
        *error = "unknown option " + Quote(name);
        return false;
    }
    if (options->addressSpaceFile && options->loadItems) {
        *error =
            "--load-items goes with the built-in address space; a file declares its own "
            "load branch";
        return false;
    }
    options->arguments.emplace_back(name);
    options->arguments.push_back(std::move(argument));
    return true;
}

bool ApplyServerOptions(const ServerOptions& options, Simulator& simulator, std::string* error) {
    if (options.addressSpaceFile) {
        AddressSpace space;
        if (!LoadAddressSpaceFile(*options.addressSpaceFile, &space, error)) {
            return false;
        }
        simulator.Space() = std::move(space);
    } else if (options.loadItems && *options.loadItems != kLoadItemCount) {
        AddressSpace space;
        BuildBuiltInSpace(space, *options.loadItems);
        simulator.Space() = std::move(space);
    }
    simulator.Faults() = options.faults;
    return true;
}

std::optional<std::vector<std::string>> FaultArguments(const SimFaults& faults) {
    const auto hex = [](HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
        return std::string(text);
    };
    const auto carried = [](const std::string& name) {
        return !name.empty() && name.find_first_of("\r\n") == std::string::npos;
    };
    std::vector<std::string> out;
    for (const auto& [method, hr] : faults.callResults) {
        if (!carried(method)) {
            return std::nullopt;
        }
        out.emplace_back("--fail");
        out.push_back(method + "=" + hex(hr));
    }
    for (const auto& [item, hr] : faults.itemErrors) {
        if (!carried(item)) {
            return std::nullopt;
        }
        out.emplace_back("--item-error");
        out.push_back(item + "=" + hex(hr));
    }
    for (const IID& iid : faults.missingInterfaces) {
        out.emplace_back("--missing-interface");
        out.push_back(GuidToString(iid));
    }
    if (faults.neverRefuseBrowseUp) {
        out.emplace_back("--never-refuse-browse-up");
    }
    // A count of 0 (or below) never fails, as no option at all does.
    if (faults.enumFailAfter > 0) {
        out.emplace_back("--enum-fail-after");
        out.push_back(std::to_string(faults.enumFailAfter) + "=" + hex(faults.enumFailure));
    }
    if (faults.delayMs != 0) {
        out.emplace_back("--delay-ms");
        out.push_back(std::to_string(faults.delayMs));
    }
    if (faults.dead) {
        out.emplace_back("--dead");
    }
    return out;
}

bool ParseFaultArguments(const std::vector<std::string>& arguments, SimFaults* faults,
                         std::string* error) {
    static constexpr std::string_view kFaultOptions[] = {
        "--fail", "--item-error", "--missing-interface", "--enum-fail-after", "--delay-ms"};
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        if (ParseServerFlag(arg, &options)) {
            continue;
        }
        if (std::find(std::begin(kFaultOptions), std::end(kFaultOptions), arg) ==
            std::end(kFaultOptions)) {
            *error = "not a fault option: " + Quote(arg);
            return false;
        }
        if (i + 1 == arguments.size()) {
            *error = std::string(arg) + ": needs a value";
            return false;
        }
        if (!ParseServerOption(arg, arguments[++i], &options, error)) {
            return false;
        }
    }
    *faults = std::move(options.faults);
    return true;
}

SimOptions SimOptionsFor(const ServerOptions& options) {
    SimOptions sim;
    if (options.fastestUpdateRate) {
        sim.fastestUpdateRate = *options.fastestUpdateRate;
    }
    return sim;
}

std::optional<std::string> QuoteCommandArgument(std::string_view argument) {
    if (argument.find_first_of("\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    const bool plain =
        !argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos;
    if (plain) {
        return std::string(argument);
    }
    if (!argument.empty() && argument.back() == '\\') {
        return std::nullopt;  // the backslash would take the closing quote as a literal one
    }
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"') {
            out += "\\\"";
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}
