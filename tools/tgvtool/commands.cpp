#include "tgvtool/commands.h"

#include <string_view>

#include "document/offline_doc.h"
#include "tgvtool/dump.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tgvtool COMMAND [ARGUMENTS]\n"
    "Checks, re-saves and shows configuration files (.tgv) without connecting to any server.\n"
    "\n"
    "Commands:\n"
    "  check FILE        read FILE as the application opens it; exit 0 when it reads, else\n"
    "                    print the message the application would show and exit 1\n"
    "  resave IN OUT     read IN and write OUT exactly as the application saves it\n"
    "  dump FILE         print FILE's content as JSON\n"
    "  --help            print this text\n"
    "\n"
    "Nothing connects to a server: the live-server list of the file is kept as it is, and\n"
    "every item keeps the state of a file just read (2, \"Invalid\").\n"
    "\n"
    "dump prints one object: the header counters (reserved, next_item_id, next_group_id,\n"
    "next_server_id, next_server_number), columns, servers with their groups, items and\n"
    "history samples, and live_servers (the number of entries in the live-server list).\n"
    "Doubles are printed in the shortest form that reads back as the same double; NaN and\n"
    "the infinities, which JSON cannot express, are printed as null. Texts are JSON strings:\n"
    "UTF-8 passes through, control characters are written as \\u00XX, and a byte that is not\n"
    "valid UTF-8 is written as U+FFFD.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read or written, 2 wrong arguments.\n";

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
    return UsageError(err, "unknown command '" + command + "'");
}
