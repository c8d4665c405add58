// The servers and browse commands.

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "com/apartment.h"
#include "opc/browse_walk.h"
#include "opc/opc_server.h"
#include "opcda/browse.h"
#include "tgvtool/commands.h"
#include "tgvtool/field_text.h"
#include "tgvtool/runtime_commands.h"
#include "tgvtool/server_list.h"

namespace {

// "the top" or "'A.B'", for messages.
std::string PlaceText(std::string_view path) {
    return path.empty() ? std::string("the top") : "'" + FieldText(path) + "'";
}

// The longest of the branches that is the whole of rest or its first part before a ".": the
// path's notation joins names with "." and names may hold "." themselves.
const std::string* MatchBranch(const std::vector<std::string>& branches, std::string_view rest) {
    const std::string* best = nullptr;
    for (const std::string& branch : branches) {
        if (branch.empty() || !rest.starts_with(branch)) {
            continue;
        }
        const bool whole = rest.size() == branch.size();
        // "A." names no branch: something must follow the dot.
        const bool prefix = rest.size() > branch.size() + 1 && rest[branch.size()] == '.';
        if ((whole || prefix) && (best == nullptr || branch.size() > best->size())) {
            best = &branch;
        }
    }
    return best;
}

// Climbs to the top and descends along path, checking every step against the branches the
// server lists. False after a message on err.
bool GoToBranch(COPCServer& server, std::string_view path, std::ostream& err) {
    ClimbToTop(server);
    std::string reached;
    std::string_view rest = path;
    while (!rest.empty()) {
        std::vector<std::string> branches;
        if (!server.ListBrowseNames(OPC_BRANCH, branches)) {
            err << "tgvtool: the server lists no branches at " << PlaceText(reached) << '\n';
            return false;
        }
        const std::string* const branch = MatchBranch(branches, rest);
        if (branch == nullptr || !server.MoveBrowsePosition(OPC_BROWSE_DOWN, *branch)) {
            err << "tgvtool: no branch " << PlaceText(path) << ": nothing matches '"
                << FieldText(rest) << "' at " << PlaceText(reached) << '\n';
            return false;
        }
        reached = JoinBrowsePath(reached, *branch);
        rest.remove_prefix(std::min(rest.size(), branch->size() + 1));
    }
    return true;
}

int Browse(COPCServer& server, const std::string& path, std::ostream& out, std::ostream& err) {
    // As the new items dialog browses: every branch, leaves of any type and access.
    server.SetBrowseFilter("*", VT_EMPTY, 0);
    if (!GoToBranch(server, path, err)) {
        return kExitFailed;
    }
    std::vector<std::string> branches;
    if (!server.ListBrowseNames(OPC_BRANCH, branches)) {
        err << "tgvtool: " << FieldText(server.progId)
            << " does not offer its address space for browsing\n";
        return kExitFailed;
    }
    std::vector<std::string> leaves;
    if (!ListLeaves(server, "", VT_EMPTY, 0, leaves)) {
        err << "tgvtool: the server lists no leaves at " << PlaceText(path) << '\n';
        return kExitFailed;
    }
    for (const std::string& branch : branches) {
        out << TabLine({"branch", branch});
    }
    for (const std::string& leaf : leaves) {
        out << TabLine({"leaf", leaf, server.GetFullItemId(leaf)});
    }
    return kExitOk;
}

}  // namespace

int ServersCommand(const std::string& node, std::ostream& out, std::ostream& err) {
    std::vector<std::string> progIds;
    if (const LSTATUS status = ListOpcServers(node, progIds); status != ERROR_SUCCESS) {
        err << "tgvtool: cannot read the registry of '" << FieldText(node) << "' (error " << status
            << ")\n";
        return kExitFailed;
    }
    for (const std::string& progId : progIds) {
        out << FieldText(progId) << '\n';
    }
    return kExitOk;
}

int BrowseCommand(const std::string& progId, const std::string& node, const std::string& path,
                  std::ostream& out, std::ostream& err) {
    int code = kExitFailed;
    {
        COPCServer server;
        server.progId = progId;
        server.nodeName = node;
        server.remote = node.empty() ? 0 : 1;
        if (server.Connect()) {
            code = Browse(server, path, out, err);
        } else {
            err << "tgvtool: cannot connect to " << FieldText(progId);
            if (!node.empty()) {
                err << " on '" << FieldText(node) << "'";
            }
            err << '\n';
        }
    }
    // The server is let go of: run what its connection handed back to this thread.
    Apartment::Ui().Drain();
    return code;
}
