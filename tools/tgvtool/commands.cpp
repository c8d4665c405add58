#include "tgvtool/commands.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "document/offline_doc.h"
#include "tgvtool/dump.h"
#include "tgvtool/runtime_commands.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tgvtool COMMAND [ARGUMENTS]\n"
    "Checks, re-saves and shows configuration files (.tgv); lists, browses and watches OPC\n"
    "servers without a window.\n"
    "\n"
    "Commands:\n"
    "  check FILE        read FILE as the application opens it; exit 0 when it reads, else\n"
    "                    print the message the application would show and exit 1\n"
    "  resave IN OUT     read IN and write OUT exactly as the application saves it\n"
    "  dump FILE         print FILE's content as JSON\n"
    "  servers [--node HOST]\n"
    "                    print the ProgIDs of the OPC DA 2.0 servers registered on this\n"
    "                    machine, or on HOST (\"host\" or \"host:port\"), one per line\n"
    "  browse PROGID [--node HOST] [--path A.B]\n"
    "                    connect to the server and print what its address space holds at\n"
    "                    the branch path (branch names joined with \".\"; the top when none):\n"
    "                    \"branch\" NAME for each branch, then \"leaf\" NAME ITEMID for each\n"
    "                    leaf, one tab-separated line each\n"
    "  watch FILE [--seconds N]\n"
    "                    open FILE and connect its servers, groups and items as the\n"
    "                    application does, then print one tab-separated line per item\n"
    "                    update: server, group, item, value, quality, timestamp; stop after\n"
    "                    N seconds, or on Ctrl-C or SIGTERM, saving nothing\n"
    "  --help            print this text\n"
    "\n"
    "check, resave and dump connect to no server: the live-server list of the file is kept\n"
    "as it is, and every item keeps the state of a file just read (2, \"Invalid\").\n"
    "\n"
    "dump prints one object: the header counters (reserved, next_item_id, next_group_id,\n"
    "next_server_id, next_server_number), columns, servers with their groups, items and\n"
    "history samples, and live_servers (the number of entries in the live-server list).\n"
    "Doubles are printed in the shortest form that reads back as the same double; NaN and\n"
    "the infinities, which JSON cannot express, are printed as null. Texts are JSON strings:\n"
    "UTF-8 passes through, control characters are written as \\u00XX, and a byte that is not\n"
    "valid UTF-8 is written as U+FFFD.\n"
    "\n"
    "In the lines of servers, browse and watch a backslash is written as \\\\, a tab as \\t,\n"
    "a line feed as \\n, a carriage return as \\r and any other control character as \\xHH.\n"
    "Messages the application would show in a box are printed on standard error.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read or written, a server or node could\n"
    "not be reached, or a browse path names no branch, 2 wrong arguments.\n";

int UsageError(std::ostream& err, std::string_view problem) {
    err << "tgvtool: " << problem << "\nTry 'tgvtool --help'.\n";
    return kExitUsage;
}

// Opens the file into doc; on failure prints the application's message.
bool OpenOrReport(COfflineDoc& doc, const std::string& path, std::ostream& err) {
    const std::string message = doc.Open(path);
    if (message.empty()) {
        return true;
    }
    err << message << '\n';
    return false;
}

int Check(const std::string& path, std::ostream& err) {
    COfflineDoc doc;
    return OpenOrReport(doc, path, err) ? kExitOk : kExitFailed;
}

int Resave(const std::string& in, const std::string& out, std::ostream& err) {
    COfflineDoc doc;
    if (!OpenOrReport(doc, in, err)) {
        return kExitFailed;
    }
    if (const std::string message = doc.Save(out); !message.empty()) {
        err << message << '\n';
        return kExitFailed;
    }
    return kExitOk;
}

int Dump(const std::string& path, std::ostream& out, std::ostream& err) {
    COfflineDoc doc;
    if (!OpenOrReport(doc, path, err)) {
        return kExitFailed;
    }
    out << DumpDocumentJson(doc);
    return kExitOk;
}

// The operands and options of a command: "--name VALUE" pairs anywhere after the command, each
// option at most once, and the plain operands in order.
struct CommandLine {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
};

// Splits args (after the command) by the options the command knows; a problem text otherwise.
std::optional<std::string> ParseCommandLine(const std::vector<std::string>& args,
                                            std::span<const std::string_view> known,
                                            CommandLine& line) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            line.operands.push_back(arg);
            continue;
        }
        if (std::find(known.begin(), known.end(), arg) == known.end()) {
            return "unknown option '" + arg + "' for " + args.front();
        }
        if (i + 1 == args.size()) {
            return arg + " needs a value";
        }
        if (!line.options.emplace(arg, args[++i]).second) {
            return arg + " given twice";
        }
    }
    return std::nullopt;
}

// A whole number of seconds, 0 to about ten years.
std::optional<std::chrono::seconds> ParseSeconds(std::string_view text) {
    constexpr long long kMaxSeconds = 315'576'000;
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > kMaxSeconds) {
        return std::nullopt;
    }
    return std::chrono::seconds(value);
}

int RunServerCommand(const std::string& command, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err) {
    CommandLine line;
    static constexpr std::string_view kServersOptions[] = {"--node"};
    static constexpr std::string_view kBrowseOptions[] = {"--node", "--path"};
    static constexpr std::string_view kWatchOptions[] = {"--seconds"};
    std::span<const std::string_view> known = kWatchOptions;
    if (command == "servers") {
        known = kServersOptions;
    } else if (command == "browse") {
        known = kBrowseOptions;
    }
    if (const auto problem = ParseCommandLine(args, known, line)) {
        return UsageError(err, *problem);
    }
    const auto option = [&line](const std::string& name) {
        const auto at = line.options.find(name);
        return at == line.options.end() ? std::string() : at->second;
    };
    if (line.options.contains("--node") && option("--node").empty()) {
        return UsageError(err, "--node needs a host name");
    }
    if (command == "servers") {
        if (!line.operands.empty()) {
            return UsageError(err, "servers takes no operands");
        }
        return ServersCommand(option("--node"), out, err);
    }
    if (command == "browse") {
        if (line.operands.size() != 1 || line.operands.front().empty()) {
            return UsageError(err, "browse takes one PROGID");
        }
        return BrowseCommand(line.operands.front(), option("--node"), option("--path"), out, err);
    }
    if (line.operands.size() != 1) {
        return UsageError(err, "watch takes one FILE");
    }
    std::optional<std::chrono::seconds> duration;
    if (line.options.contains("--seconds")) {
        duration = ParseSeconds(option("--seconds"));
        if (!duration) {
            return UsageError(err, "--seconds takes a whole number of seconds");
        }
    }
    return WatchCommand(line.operands.front(), duration, out, err);
}

}  // namespace

std::string TgvtoolUsage() {
    return std::string(kUsage);
}

int RunTgvtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        return UsageError(err, "no command given");
    }
    const std::string& command = args.front();
    const std::size_t operands = args.size() - 1;
    if (command == "--help" || command == "-h" || command == "help") {
        if (operands != 0) {
            return UsageError(err, command + " takes no arguments");
        }
        out << kUsage;
        return kExitOk;
    }
    if (command == "check" || command == "dump") {
        if (operands != 1) {
            return UsageError(err, command + " takes one FILE");
        }
        return command == "check" ? Check(args[1], err) : Dump(args[1], out, err);
    }
    if (command == "resave") {
        if (operands != 2) {
            return UsageError(err, "resave takes IN and OUT");
        }
        return Resave(args[1], args[2], err);
    }
    if (command == "servers" || command == "browse" || command == "watch") {
        return RunServerCommand(command, args, out, err);
    }
    return UsageError(err, "unknown command '" + command + "'");
}
