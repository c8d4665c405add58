// IOPCBrowseServerAddressSpace: the browse position of one server object in the address space.

#include <memory>
#include <new>

#include "com/unicode.h"
#include "sim/browse_enum.h"
#include "sim/server.h"
#include "sim/sim_state.h"
#include "sim/task_memory.h"
#include "sim/wildcard.h"

namespace {

// The type filter keeps leaves of exactly that canonical type (VT_EMPTY: any); the rights
// filter keeps leaves that have any of its bits (0: any).
bool LeafPasses(const SimLeaf& leaf, VARTYPE typeFilter, DWORD rightsFilter) {
    if (typeFilter != VT_EMPTY && leaf.type != typeFilter) {
        return false;
    }
    return rightsFilter == 0 || (leaf.accessRights & rightsFilter) != 0;
}

}  // namespace

HRESULT SimServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    if (pNameSpaceType == nullptr) {
        return E_INVALIDARG;
    }
    CallGate gate(*state_, "IOPCBrowseServerAddressSpace", "QueryOrganization");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT SimServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    CallGate gate(*state_, "IOPCBrowseServerAddressSpace", "ChangeBrowsePosition");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    ServerData* const server = state_->FindServer(id_);
    if (server == nullptr) {
        return E_FAIL;
    }
    const AddressSpace& space = state_->space;
    NodeIndex& position = server->browsePosition;
    switch (dwBrowseDirection) {
        case OPC_BROWSE_UP:
            if (position == AddressSpace::kTop) {
                return state_->faults.neverRefuseBrowseUp ? S_OK : E_FAIL;
            }
            position = space.Branch(position).parent;
            return S_OK;
        case OPC_BROWSE_DOWN: {
            if (szString == nullptr || szString[0] == 0) {
                return E_INVALIDARG;
            }
            const auto child = space.FindChildBranch(position, Utf16ToUtf8(szString));
            if (!child) {
                return E_INVALIDARG;
            }
            position = *child;
            return S_OK;
        }
        case OPC_BROWSE_TO: {
            const std::string path = szString != nullptr ? Utf16ToUtf8(szString) : std::string();
            const auto branch = space.FindBranch(path);
            if (!branch) {
                return E_INVALIDARG;
            }
            position = *branch;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT SimServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                    VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                    LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString == nullptr) {
        return E_INVALIDARG;
    }
    *ppIEnumString = nullptr;
    auto names = std::make_shared<SimBrowseEnum::Names>();
    std::size_t failAfter = 0;
    HRESULT failure = E_FAIL;
    {
        CallGate gate(*state_, "IOPCBrowseServerAddressSpace", "BrowseOPCItemIDs");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF &&
            dwBrowseFilterType != OPC_FLAT) {
            return E_INVALIDARG;
        }
        const ServerData* const server = state_->FindServer(id_);
        if (server == nullptr) {
            return E_FAIL;
        }
        const std::u16string_view filter =
            szFilterCriteria != nullptr ? std::u16string_view(szFilterCriteria) : u"";
        const AddressSpace& space = state_->space;
        const SimBranch& here = space.Branch(server->browsePosition);
        auto offer = [&](const std::string& name) {
            std::u16string wide = Utf8ToUtf16(name);
            if (MatchPattern(wide, filter)) {
                names->push_back(std::move(wide));
            }
        };
        if (dwBrowseFilterType == OPC_BRANCH) {
            for (const NodeIndex b : here.branches) {
                offer(space.Branch(b).name);
            }
        } else if (dwBrowseFilterType == OPC_LEAF) {
            for (const NodeIndex l : here.leaves) {
                if (LeafPasses(space.Leaf(l), vtDataTypeFilter, dwAccessRightsFilter)) {
                    offer(space.Leaf(l).name);
                }
            }
        } else {
            for (const NodeIndex l : space.LeavesBelow(server->browsePosition)) {
                if (LeafPasses(space.Leaf(l), vtDataTypeFilter, dwAccessRightsFilter)) {
                    offer(space.Leaf(l).itemId);
                }
            }
        }
        if (state_->faults.enumFailAfter > 0) {
            failAfter = static_cast<std::size_t>(state_->faults.enumFailAfter);
            failure = state_->faults.enumFailure;
        }
    }
    const bool empty = names->empty();
    try {
        *ppIEnumString =
            MakeComObject<SimBrowseEnum>(std::move(names), 0, failAfter, failure).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return empty ? S_FALSE : S_OK;
}

HRESULT SimServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    if (szItemID == nullptr) {
        return E_INVALIDARG;
    }
    *szItemID = nullptr;
    CallGate gate(*state_, "IOPCBrowseServerAddressSpace", "GetItemID");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    const ServerData* const server = state_->FindServer(id_);
    if (server == nullptr || szItemDataID == nullptr) {
        return E_INVALIDARG;
    }
    const AddressSpace& space = state_->space;
    const NodeIndex position = server->browsePosition;
    const std::string name = Utf16ToUtf8(szItemDataID);
    std::string id;
    if (name.empty()) {
        id = space.Branch(position).path;  // the position itself
    } else if (const auto leaf = space.FindChildLeaf(position, name)) {
        id = space.Leaf(*leaf).itemId;
    } else if (const auto branch = space.FindChildBranch(position, name)) {
        id = space.Branch(*branch).path;
    } else if (const auto anywhere = space.FindLeaf(name)) {
        id = space.Leaf(*anywhere).itemId;  // already a full item id
    } else {
        return E_INVALIDARG;
    }
    *szItemID = TaskString(Utf8ToUtf16(id));
    return *szItemID != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimServer::BrowseAccessPaths(LPCWSTR /*szItemID*/, LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString != nullptr) {
        *ppIEnumString = nullptr;
    }
    CallGate gate(*state_, "IOPCBrowseServerAddressSpace", "BrowseAccessPaths");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    return E_NOTIMPL;
}
