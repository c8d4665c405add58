#include "opc/browse_walk.h"

#include "com/unicode.h"
#include "framework/ui_services.h"
#include "opc/browse_names.h"
#include "opc/opc_server.h"
#include "opcda/browse.h"

int ClimbToTop(COPCServer& server) {
    int moves = 0;
    while (moves < kMaxClimbSteps && server.MoveBrowsePosition(OPC_BROWSE_UP, "")) {
        ++moves;
    }
    return moves;
}

std::vector<std::string> SplitBrowsePath(std::string_view path) {
    std::vector<std::string> pieces;
    if (path.empty()) {
        return pieces;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = path.find('.', start);
        if (dot == std::string_view::npos) {
            pieces.emplace_back(path.substr(start));
            return pieces;
        }
        pieces.emplace_back(path.substr(start, dot - start));
        start = dot + 1;
    }
}

std::string JoinBrowsePath(std::string_view parentPath, std::string_view branchName) {
    if (parentPath.empty()) {
        return std::string(branchName);
    }
    std::string path(parentPath);
    path += '.';
    path += branchName;
    return path;
}

void GoToPath(COPCServer& server, std::string_view path) {
    for (const std::string& piece : SplitBrowsePath(path)) {
        server.MoveBrowsePosition(OPC_BROWSE_DOWN, piece);
    }
}

bool ListLeaves(COPCServer& server, std::string_view criteria, VARTYPE dataTypeFilter,
                DWORD accessRightsFilter, std::vector<std::string>& leaves,
                const std::function<void(const std::vector<std::string>& leaves)>& show) {
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    const ComPtr<IUnknown> serverObject = server.ServerObject();
    if (!serverObject || FAILED(serverObject.As(browse)) || !browse) {
        return false;
    }
    ComPtr<IEnumString> found;
    const HRESULT hr =
        browse->BrowseOPCItemIDs(OPC_LEAF, u"", dataTypeFilter, accessRightsFilter, found.Put());
    if (FAILED(hr)) {
        AfxMessageBox("Error from BrowseItemIDs");
        return false;
    }
    leaves.clear();
    HRESULT lastNext = S_FALSE;
    if (found) {
        lastNext = ReadBrowseNames(*found, [&](std::string name) {
            if (criteria.empty() || name.find(criteria) != std::string::npos) {
                leaves.push_back(std::move(name));
            }
        });
    }
    if (show) {
        show(leaves);
    }
    ReportBrowseNamesEnd(lastNext);
    return true;
}
