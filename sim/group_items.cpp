// IOPCItemMgt: the items of a group.

#include <memory>
#include <new>

#include "com/unicode.h"
#include "opcda/errors.h"
#include "sim/group.h"
#include "sim/item_enum.h"
#include "sim/sim_state.h"
#include "sim/task_memory.h"

namespace {

// Whether a value of the leaf can be handed out as the requested type: by type, and, for text,
// by what the item holds now (a word is no number).
bool CanDeliverAs(const AddressSpace& space, NodeIndex leaf, VARTYPE requested, std::uint64_t now,
                  std::uint32_t seed) {
    if (!IsConvertibleType(space.Leaf(leaf).type, requested)) {
        return false;
    }
    if (requested == VT_EMPTY || requested == space.Leaf(leaf).type) {
        return true;
    }
    OwnedVariant raw;
    if (FAILED(space.Read(leaf, now, seed, raw.Ptr()))) {
        return true;
    }
    OwnedVariant converted;
    const HRESULT hr = ConvertInto(converted.Ptr(), raw.Get(), requested);
    return hr != DISP_E_TYPEMISMATCH && hr != DISP_E_BADVARTYPE;
}

bool BadCount(DWORD count) {
    return count == 0 || count > ItemTable::kMaxItems;
}

}  // namespace

HRESULT SimGroup::CheckItem(const OPCITEMDEF& def, NodeIndex* leaf) const {
    if (def.szItemID == nullptr) {
        return OPC_E_INVALIDITEMID;
    }
    const std::string id = Utf16ToUtf8(def.szItemID);
    // A forced failure replaces the checks; a forced success code is given to an item that
    // passes them.
    HRESULT passed = S_OK;
    const auto forced = state_->faults.itemErrors.find(id);
    if (forced != state_->faults.itemErrors.end()) {
        if (FAILED(forced->second)) {
            return forced->second;
        }
        passed = forced->second;
    }
    if (!IsWellFormedItemId(id)) {
        return OPC_E_INVALIDITEMID;
    }
    const std::optional<NodeIndex> found = state_->space.FindLeaf(id);
    if (!found) {
        return OPC_E_UNKNOWNITEMID;
    }
    if (def.szAccessPath != nullptr && def.szAccessPath[0] != 0) {
        return OPC_E_UNKNOWNPATH;
    }
    if (!CanDeliverAs(state_->space, *found, def.vtRequestedDataType, state_->now,
                      state_->options.seed)) {
        return OPC_E_BADTYPE;
    }
    *leaf = *found;
    return passed;
}

void SimGroup::FillResult(const GroupItem& item, OPCHANDLE handle, OPCITEMRESULT& result) const {
    const SimLeaf& leaf = state_->space.Leaf(item.leaf);
    result.hServer = handle;
    result.vtCanonicalDataType = leaf.type;
    result.dwAccessRights = leaf.accessRights;
    result.dwBlobSize = 0;
    result.pBlob = nullptr;
}

HRESULT SimGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                           HRESULT** ppErrors) {
    if (ppAddResults == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppAddResults = nullptr;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "AddItems");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (BadCount(dwCount) || pItemArray == nullptr) {
        return E_INVALIDARG;
    }
    TaskArray<OPCITEMRESULT> results(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    if (!results || !errors) {
        return E_OUTOFMEMORY;
    }
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCITEMDEF& def = pItemArray[i];
        NodeIndex leaf = 0;
        HRESULT hr = CheckItem(def, &leaf);
        if (SUCCEEDED(hr)) {
            GroupItem item;
            item.leaf = leaf;
            item.clientHandle = def.hClient;
            item.requestedType = def.vtRequestedDataType;
            item.active = def.bActive != FALSE;
            const OPCHANDLE handle = items_.Add(std::move(item));
            if (handle == 0) {
                hr = E_OUTOFMEMORY;
            } else {
                FillResult(*items_.Find(handle), handle, results[i]);
            }
        }
        errors[i] = hr;
        if (hr != S_OK) {
            overall = S_FALSE;
        }
    }
    *ppAddResults = results.Release();
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    if (ppValidationResults == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppValidationResults = nullptr;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "ValidateItems");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (BadCount(dwCount) || pItemArray == nullptr) {
        return E_INVALIDARG;
    }
    TaskArray<OPCITEMRESULT> results(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    if (!results || !errors) {
        return E_OUTOFMEMORY;
    }
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        NodeIndex leaf = 0;
        const HRESULT hr = CheckItem(pItemArray[i], &leaf);
        if (SUCCEEDED(hr)) {
            GroupItem item;
            item.leaf = leaf;
            FillResult(item, 0, results[i]);
        }
        errors[i] = hr;
        if (hr != S_OK) {
            overall = S_FALSE;
        }
    }
    *ppValidationResults = results.Release();
    *ppErrors = errors.Release();
    return overall;
}

namespace {

// The frame shared by the item methods that act on a list of server handles: checks, one
// error per handle, S_FALSE when any failed.
template <class PerItem>
HRESULT ForHandles(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors, PerItem&& perItem) {
    if (count == 0 || count > ItemTable::kMaxItems || handles == nullptr) {
        return E_INVALIDARG;
    }
    TaskArray<HRESULT> errors(count);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        errors[i] = perItem(i, handles[i]);
        if (errors[i] != S_OK) {
            overall = S_FALSE;
        }
    }
    *ppErrors = errors.Release();
    return overall;
}

}  // namespace

HRESULT SimGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    if (ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "RemoveItems");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    return ForHandles(dwCount, phServer, ppErrors, [&](DWORD, OPCHANDLE handle) {
        return items_.Remove(handle) ? S_OK : OPC_E_INVALIDHANDLE;
    });
}

HRESULT SimGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                 HRESULT** ppErrors) {
    if (ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "SetActiveState");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    const bool active = bActive != FALSE;
    return ForHandles(dwCount, phServer, ppErrors, [&](DWORD, OPCHANDLE handle) {
        GroupItem* const item = items_.Find(handle);
        if (item == nullptr) {
            return OPC_E_INVALIDHANDLE;
        }
        if (active && !item->active) {
            item->sent = false;  // an item that becomes active is sent at the next update
        }
        item->active = active;
        return S_OK;
    });
}

HRESULT SimGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                   HRESULT** ppErrors) {
    if (ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "SetClientHandles");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (phClient == nullptr) {
        return E_INVALIDARG;
    }
    return ForHandles(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE handle) {
        GroupItem* const item = items_.Find(handle);
        if (item == nullptr) {
            return OPC_E_INVALIDHANDLE;
        }
        item->clientHandle = phClient[i];
        return S_OK;
    });
}

HRESULT SimGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                               HRESULT** ppErrors) {
    if (ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCItemMgt", "SetDatatypes");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (pRequestedDatatypes == nullptr) {
        return E_INVALIDARG;
    }
    return ForHandles(dwCount, phServer, ppErrors, [&](DWORD i, OPCHANDLE handle) {
        GroupItem* const item = items_.Find(handle);
        if (item == nullptr) {
            return OPC_E_INVALIDHANDLE;
        }
        if (!CanDeliverAs(state_->space, item->leaf, pRequestedDatatypes[i], state_->now,
                          state_->options.seed)) {
            return OPC_E_BADTYPE;
        }
        item->requestedType = pRequestedDatatypes[i];
        return S_OK;
    });
}

HRESULT SimGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk == nullptr) {
        return E_INVALIDARG;
    }
    *ppUnk = nullptr;
    auto snapshot = std::make_shared<SimItemEnum::Items>();
    {
        CallGate gate(*state_, "IOPCItemMgt", "CreateEnumerator");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (serverId_ == 0) {
            return E_FAIL;
        }
        if (!(riid == IID_IEnumOPCItemAttributes) && !(riid == IID_IUnknown)) {
            return E_NOINTERFACE;
        }
        if (items_.Count() == 0) {
            return S_FALSE;
        }
        snapshot->reserve(items_.Count());
        items_.ForEach([&](OPCHANDLE handle, const GroupItem& item) {
            const SimLeaf& leaf = state_->space.Leaf(item.leaf);
            ItemAttributes a;
            a.itemId = Utf8ToUtf16(leaf.itemId);
            a.active = item.active;
            a.clientHandle = item.clientHandle;
            a.serverHandle = handle;
            a.accessRights = leaf.accessRights;
            a.requestedType = item.requestedType;
            a.canonicalType = leaf.type;
            a.analog = leaf.hasRange;
            a.low = leaf.rangeLow;
            a.high = leaf.rangeHigh;
            snapshot->push_back(std::move(a));
        });
    }
    try {
        ComPtr<SimItemEnum> enumerator = MakeComObject<SimItemEnum>(std::move(snapshot), 0);
        *ppUnk = static_cast<IEnumOPCItemAttributes*>(enumerator.Detach());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
