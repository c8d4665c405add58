// Asynchronous reads, writes and refreshes (IOPCAsyncIO2 and IOPCAsyncIO). A request is
// checked when it is made and answered the next time the clock runs, in the order requests
// were made; until then it can be cancelled.

#include "opcda/errors.h"
#include "sim/group.h"
#include "sim/item_io.h"
#include "sim/sim_state.h"
#include "sim/task_memory.h"

namespace {

bool ValidSource(OPCDATASOURCE source) {
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
}

bool BadCount(DWORD count, const void* array) {
    return count == 0 || count > ItemTable::kMaxItems || array == nullptr;
}

}  // namespace

HRESULT SimGroup::CheckAsyncHandles(DWORD count, const OPCHANDLE* handles, bool write,
                                    HRESULT* errors, std::vector<OPCHANDLE>& valid) const {
    HRESULT overall = S_OK;
    const DWORD needed = write ? OPC_WRITEABLE : OPC_READABLE;
    for (DWORD i = 0; i < count; ++i) {
        const GroupItem* const item = items_.Find(handles[i]);
        if (item == nullptr) {
            errors[i] = OPC_E_INVALIDHANDLE;
        } else if ((state_->space.Leaf(item->leaf).accessRights & needed) == 0) {
            errors[i] = OPC_E_BADRIGHTS;
        } else {
            errors[i] = S_OK;
            valid.push_back(handles[i]);
        }
        if (errors[i] != S_OK) {
            overall = S_FALSE;
        }
    }
    return overall;
}

bool SimGroup::HasActiveItems() const {
    bool any = false;
    items_.ForEach([&](OPCHANDLE, const GroupItem& item) { any = any || item.active; });
    return any;
}

// ---- IOPCAsyncIO2 ----

HRESULT SimGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (pdwCancelID == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCAsyncIO2", "Read");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (BadCount(dwCount, phServer)) {
        return E_INVALIDARG;
    }
    if (dataPoint_.Inner().ConnectionCount() == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    TaskArray<HRESULT> errors(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    Request request;
    request.kind = Request::Kind::Read;
    const HRESULT overall =
        CheckAsyncHandles(dwCount, phServer, false, errors.Get(), request.handles);
    if (!request.handles.empty()) {
        request.sequence = state_->nextRequest++;
        request.cancelId = state_->nextCancelId++;
        request.transactionId = dwTransactionID;
        *pdwCancelID = request.cancelId;
        requests_.push_back(std::move(request));
    }
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                        DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (pdwCancelID == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCAsyncIO2", "Write");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (BadCount(dwCount, phServer) || pItemValues == nullptr) {
        return E_INVALIDARG;
    }
    if (dataPoint_.Inner().ConnectionCount() == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    TaskArray<HRESULT> errors(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    Request request;
    request.kind = Request::Kind::Write;
    const HRESULT overall =
        CheckAsyncHandles(dwCount, phServer, true, errors.Get(), request.handles);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (errors[i] == S_OK) {
            request.values.emplace_back(pItemValues[i]);
        }
    }
    if (!request.handles.empty()) {
        request.sequence = state_->nextRequest++;
        request.cancelId = state_->nextCancelId++;
        request.transactionId = dwTransactionID;
        *pdwCancelID = request.cancelId;
        requests_.push_back(std::move(request));
    }
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    if (pdwCancelID == nullptr) {
        return E_INVALIDARG;
    }
    *pdwCancelID = 0;
    CallGate gate(*state_, "IOPCAsyncIO2", "Refresh2");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (!ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    if (dataPoint_.Inner().ConnectionCount() == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    if (!settings_.active || !HasActiveItems()) {
        return E_FAIL;
    }
    Request request;
    request.kind = Request::Kind::Refresh;
    request.sequence = state_->nextRequest++;
    request.cancelId = state_->nextCancelId++;
    request.transactionId = dwTransactionID;
    request.source = dwSource;
    *pdwCancelID = request.cancelId;
    requests_.push_back(std::move(request));
    return S_OK;
}

HRESULT SimGroup::Cancel2(DWORD dwCancelID) {
    CallGate gate(*state_, "IOPCAsyncIO2", "Cancel2");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    for (Request& request : requests_) {
        if (!request.version1 && request.cancelId == dwCancelID &&
            request.kind != Request::Kind::Cancelled) {
            // Answered in its turn with OnCancelComplete instead of its results.
            request.kind = Request::Kind::Cancelled;
            request.handles.clear();
            request.values.clear();
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT SimGroup::SetEnable(BOOL bEnable) {
    CallGate gate(*state_, "IOPCAsyncIO2", "SetEnable");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (dataPoint_.Inner().ConnectionCount() == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    enabled_ = bEnable != FALSE;
    return S_OK;
}

HRESULT SimGroup::GetEnable(BOOL* pbEnable) {
    if (pbEnable == nullptr) {
        return E_INVALIDARG;
    }
    CallGate gate(*state_, "IOPCAsyncIO2", "GetEnable");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (dataPoint_.Inner().ConnectionCount() == 0) {
        return CONNECT_E_NOCONNECTION;
    }
    *pbEnable = enabled_ ? TRUE : FALSE;
    return S_OK;
}

// ---- IOPCAsyncIO ----

bool SimGroup::IsStreamConnection(DWORD connection, bool writeComplete) const {
    const auto found = streamFormats_.find(connection);
    if (found == streamFormats_.end()) {
        return false;
    }
    return (found->second == OpcStreamFormats().writeComplete) == writeComplete;
}

HRESULT SimGroup::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                       OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) {
    if (pTransactionID == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *pTransactionID = 0;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCAsyncIO", "Read");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (!ValidSource(dwSource) || BadCount(dwCount, phServer)) {
        return E_INVALIDARG;
    }
    if (!IsStreamConnection(dwConnection, false)) {
        return CONNECT_E_NOCONNECTION;
    }
    TaskArray<HRESULT> errors(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    Request request;
    request.kind = Request::Kind::Read;
    request.version1 = true;
    request.source = dwSource;
    request.connection = dwConnection;
    const HRESULT overall =
        CheckAsyncHandles(dwCount, phServer, false, errors.Get(), request.handles);
    if (!request.handles.empty()) {
        request.sequence = state_->nextRequest++;
        request.cancelId = request.transactionId = state_->nextCancelId++;
        *pTransactionID = request.transactionId;
        requests_.push_back(std::move(request));
    }
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                        VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) {
    if (pTransactionID == nullptr || ppErrors == nullptr) {
        return E_INVALIDARG;
    }
    *pTransactionID = 0;
    *ppErrors = nullptr;
    CallGate gate(*state_, "IOPCAsyncIO", "Write");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (BadCount(dwCount, phServer) || pItemValues == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsStreamConnection(dwConnection, true)) {
        return CONNECT_E_NOCONNECTION;
    }
    TaskArray<HRESULT> errors(dwCount);
    if (!errors) {
        return E_OUTOFMEMORY;
    }
    Request request;
    request.kind = Request::Kind::Write;
    request.version1 = true;
    request.connection = dwConnection;
    const HRESULT overall =
        CheckAsyncHandles(dwCount, phServer, true, errors.Get(), request.handles);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (errors[i] == S_OK) {
            request.values.emplace_back(pItemValues[i]);
        }
    }
    if (!request.handles.empty()) {
        request.sequence = state_->nextRequest++;
        request.cancelId = request.transactionId = state_->nextCancelId++;
        *pTransactionID = request.transactionId;
        requests_.push_back(std::move(request));
    }
    *ppErrors = errors.Release();
    return overall;
}

HRESULT SimGroup::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
    if (pTransactionID == nullptr) {
        return E_INVALIDARG;
    }
    *pTransactionID = 0;
    CallGate gate(*state_, "IOPCAsyncIO", "Refresh");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    if (!ValidSource(dwSource)) {
        return E_INVALIDARG;
    }
    if (!IsStreamConnection(dwConnection, false)) {
        return CONNECT_E_NOCONNECTION;
    }
    if (!settings_.active || !HasActiveItems()) {
        return E_FAIL;
    }
    Request request;
    request.kind = Request::Kind::Refresh;
    request.version1 = true;
    request.source = dwSource;
    request.connection = dwConnection;
    request.sequence = state_->nextRequest++;
    request.cancelId = request.transactionId = state_->nextCancelId++;
    *pTransactionID = request.transactionId;
    requests_.push_back(std::move(request));
    return S_OK;
}

HRESULT SimGroup::Cancel(DWORD dwTransactionID) {
    CallGate gate(*state_, "IOPCAsyncIO", "Cancel");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    if (serverId_ == 0) {
        return E_FAIL;
    }
    for (auto it = requests_.begin(); it != requests_.end(); ++it) {
        if (it->version1 && it->cancelId == dwTransactionID) {
            requests_.erase(it);
            return S_OK;
        }
    }
    return E_FAIL;
}

// ---- Answers ----

std::uint64_t SimGroup::OldestRequest() const {
    return requests_.empty() ? 0 : requests_.front().sequence;
}

void SimGroup::CompleteOldestRequest(std::uint64_t now, std::vector<Delivery>& out) {
    if (requests_.empty()) {
        return;
    }
    Request request = std::move(requests_.front());
    requests_.erase(requests_.begin());
    if (serverId_ == 0) {
        return;
    }

    Delivery d;
    d.transactionId = request.transactionId;
    d.clientGroup = settings_.clientGroup;
    d.pool = pool_;
    d.batch = pool_->TakeBatch();
    bool writeStream = false;
    switch (request.kind) {
        case Request::Kind::Cancelled:
            d.kind = Delivery::Kind::CancelComplete;
            break;
        case Request::Kind::Read:
            d.kind = Delivery::Kind::ReadComplete;
            ReadInto(d.batch, &request.handles, now, request.source == OPC_DS_CACHE);
            break;
        case Request::Kind::Refresh:
            d.kind = Delivery::Kind::DataChange;
            if (settings_.active) {
                ReadInto(d.batch, nullptr, now, request.source == OPC_DS_CACHE);
            }
            break;
        case Request::Kind::Write: {
            d.kind = Delivery::Kind::WriteComplete;
            writeStream = true;
            d.batch.Reserve(request.handles.size());
            for (std::size_t i = 0; i < request.handles.size(); ++i) {
                const GroupItem* const item = items_.Find(request.handles[i]);
                if (item == nullptr) {
                    continue;  // removed since the request was made
                }
                const HRESULT hr = WriteItem(state_->space, *item, request.values[i].Get());
                VARIANT none;
                VariantInit(&none);
                d.batch.Append(item->clientHandle, none, 0, FILETIME{}, hr);
            }
            break;
        }
    }
    if (d.kind != Delivery::Kind::CancelComplete && d.batch.Count() == 0) {
        pool_->GiveBatch(std::move(d.batch));
        return;
    }
    if (request.version1) {
        d.streams = StreamTargets(request.connection, writeStream);
    } else {
        d.callbacks = DataCallbacks();
    }
    out.push_back(std::move(d));
}
