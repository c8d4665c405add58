#include "opc/opc_group.h"

#include <algorithm>
#include <string>

#include "com/clipboard_format.h"
#include "com/unicode.h"
#include "framework/ui_services.h"
#include "model/archive.h"
#include "opc/advise_sink.h"
#include "opc/com_environment.h"
#include "opc/data_callback.h"
#include "opc/opc_server.h"
#include "opc/runtime_host.h"
#include "opcda/streams.h"

const CRuntimeClass COPCGroup::runtimeClass{"COPCGroup", 1, nullptr};

COPCGroup::COPCGroup(COPCServer& server) : server_(&server) {}

COPCGroup::~COPCGroup() {
    // Callbacks that still arrive after the group is gone must not reach it.
    if (dataCallback_) {
        dataCallback_->DetachGroup();
    }
    if (adviseSink_) {
        adviseSink_->DetachGroup();
    }
    items_.clear();
}

void COPCGroup::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
    } else {
        ar.ReadDWord();
    }
}

void COPCGroup::SetServerGroup(ComPtr<IUnknown> groupObject, OPCHANDLE serverGroupHandle) {
    groupObject_ = std::move(groupObject);
    serverGroupHandle_ = serverGroupHandle;
}

void COPCGroup::Subscribe() {
    switch (accessMode) {
        case accessStream:
            SubscribeStream();
            break;
        case accessCallback:
        case accessCallbackSyncWrite:
            SubscribeCallback();
            break;
        default:
            break;
    }
}

void COPCGroup::SubscribeCallback() {
    dataCallback_ = MakeComObject<COPCDataCallback>(this);
    if (!groupObject_) {
        return;
    }
    ComPtr<IOPCGroupStateMgt> stateMgt;
    if (FAILED(groupObject_.As(stateMgt)) || !stateMgt) {
        return;
    }
    if (FAILED(stateMgt.As(connectionPointContainer_)) || !connectionPointContainer_) {
        connectionPointContainer_.Reset();
        return;
    }
    if (FAILED(stateMgt.As(asyncIO2_)) || !asyncIO2_) {
        asyncIO2_.Reset();
        connectionPointContainer_.Reset();
        return;
    }
    if (FAILED(connectionPointContainer_->FindConnectionPoint(IID_IOPCDataCallback,
                                                              connectionPoint_.Put())) ||
        !connectionPoint_) {
        connectionPoint_.Reset();
        asyncIO2_.Reset();
        connectionPointContainer_.Reset();
        return;
    }
    DWORD cookie = 0;
    if (FAILED(connectionPoint_->Advise(dataCallback_->GetUnknown(), &cookie))) {
        connectionPoint_.Reset();
        asyncIO2_.Reset();
        connectionPointContainer_.Reset();
        return;
    }
    dataConnection_ = cookie;
}

void COPCGroup::SubscribeStream() {
    adviseSink_ = MakeComObject<COPCAdviseSink>(this);
    if (!groupObject_) {
        return;
    }
    ComPtr<IOPCGroupStateMgt> stateMgt;
    if (FAILED(groupObject_.As(stateMgt)) || !stateMgt) {
        return;
    }
    if (FAILED(stateMgt.As(dataObject_)) || !dataObject_) {
        dataObject_.Reset();
        return;
    }
    if (FAILED(stateMgt.As(asyncIO_)) || !asyncIO_) {
        asyncIO_.Reset();
        dataObject_.Reset();
        return;
    }
    FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATDATATIME)),
                     nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    if (FAILED(dataObject_->DAdvise(&format, ADVF_PRIMEFIRST, adviseSink_.Get(), &connection))) {
        asyncIO_.Reset();
        dataObject_.Reset();
        return;
    }
    dataConnection_ = connection;
    format.cfFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPCSTMFORMATWRITECOMPLETE));
    connection = 0;
    if (FAILED(dataObject_->DAdvise(&format, ADVF_PRIMEFIRST, adviseSink_.Get(), &connection))) {
        dataObject_->DUnadvise(dataConnection_);
        dataConnection_ = 0;
        asyncIO_.Reset();
        dataObject_.Reset();
        return;
    }
    writeConnection_ = connection;
}

void COPCGroup::Unsubscribe() {
    asyncIO_.Reset();
    dataObject_.Reset();
    if (adviseSink_) {
        adviseSink_->DetachGroup();
        adviseSink_.Reset();
    }
    if (connectionPoint_) {
        connectionPoint_->Unadvise(dataConnection_);
    }
    asyncIO2_.Reset();
    connectionPoint_.Reset();
    connectionPointContainer_.Reset();
    if (dataCallback_) {
        dataCallback_->DetachGroup();
        dataCallback_.Reset();
    }
    groupObject_.Reset();
}

void COPCGroup::SetState(BOOL newActive, float newPercentDeadband, DWORD newUpdateRate) {
    if (!groupObject_) {
        return;
    }
    ComPtr<IOPCGroupStateMgt> stateMgt;
    if (FAILED(groupObject_.As(stateMgt)) || !stateMgt) {
        return;
    }
    DWORD currentRate = 0;
    BOOL currentActive = FALSE;
    LPWSTR currentName = nullptr;
    LONG timeBias = 0;
    FLOAT currentDeadband = 0.0f;
    DWORD lcid = 0;
    OPCHANDLE clientGroup = 0;
    OPCHANDLE serverGroup = 0;
    stateMgt->GetState(&currentRate, &currentActive, &currentName, &timeBias, &currentDeadband,
                       &lcid, &clientGroup, &serverGroup);
    FreeTaskMemory(currentName);
    DWORD revisedRate = 0;
    stateMgt->SetState(&newUpdateRate, &revisedRate, &newActive, &timeBias, &newPercentDeadband,
                       &lcid, &clientGroup);
}

COPCItem* COPCGroup::AddItem(std::unique_ptr<COPCItem> item) {
    if (!item || &item->Group() != this || !groupObject_) {
        return nullptr;
    }
    ComPtr<IOPCItemMgt> itemMgt;
    if (FAILED(groupObject_.As(itemMgt)) || !itemMgt) {
        return nullptr;
    }
    std::u16string accessPath = Utf8ToUtf16(item->accessPath);
    std::u16string itemId = Utf8ToUtf16(item->itemId);
    OPCITEMDEF definition{};
    definition.szAccessPath = accessPath.data();
    definition.szItemID = itemId.data();
    definition.bActive = item->active;
    definition.hClient = item->ClientHandle();
    definition.dwBlobSize = 0;
    definition.pBlob = nullptr;
    definition.vtRequestedDataType = item->requestedType;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = itemMgt->AddItems(1, &definition, &results, &errors);
    const auto freeArrays = [&] {
        if (results != nullptr) {
            FreeTaskMemory(results[0].pBlob);
        }
        FreeTaskMemory(results);
        FreeTaskMemory(errors);
    };
    if (FAILED(hr) || results == nullptr || errors == nullptr || errors[0] != S_OK) {
        AfxMessageBox(
            Format("Error from AddItems %s (error %lx)", item->itemId.c_str(), HrArg(hr)));
        freeArrays();
        return nullptr;
    }
    item->serverHandle = results[0].hServer;
    item->canonicalType = results[0].vtCanonicalDataType;
    item->accessRights = results[0].dwAccessRights;
    freeArrays();
    items_.push_back(std::move(item));
    return items_.back().get();
}

bool COPCGroup::RemoveItem(COPCItem* item) {
    const auto listed = std::find_if(items_.begin(), items_.end(), [item](const auto& candidate) {
        return candidate.get() == item;
    });
    if (item == nullptr || listed == items_.end() || !groupObject_) {
        return false;
    }
    ComPtr<IOPCItemMgt> itemMgt;
    if (FAILED(groupObject_.As(itemMgt)) || !itemMgt) {
        return false;
    }
    OPCHANDLE serverHandles[1] = {item->serverHandle};
    HRESULT* errors = nullptr;
    const HRESULT hr = itemMgt->RemoveItems(1, serverHandles, &errors);
    if (FAILED(hr)) {
        AfxMessageBox(Format("Error from RemoveItems(%lx)\n", HrArg(hr)));
        FreeTaskMemory(errors);
        return false;
    }
    if (errors != nullptr && FAILED(errors[0])) {
        AfxMessageBox("Error from RemoveItems");
    }
    FreeTaskMemory(errors);
    // The list may have changed while the call was out (a delivery can run meanwhile).
    const auto current = std::find_if(items_.begin(), items_.end(), [item](const auto& candidate) {
        return candidate.get() == item;
    });
    if (current != items_.end()) {
        items_.erase(current);
    }
    return true;
}

COPCItem* COPCGroup::FindItem(std::int32_t itemIdNumber) const {
    for (const auto& item : items_) {
        if (item->itemIdNumber == itemIdNumber) {
            return item.get();
        }
    }
    return nullptr;
}

void COPCGroup::OnDataChange(DWORD /*transactionId*/, OPCHANDLE /*groupHandle*/, DWORD count,
                             const OPCHANDLE* clientHandles, const VARIANT* values,
                             HRESULT /*masterQuality*/, const WORD* qualities,
                             const FILETIME* timestamps) {
    if (count == 0 || clientHandles == nullptr || values == nullptr || qualities == nullptr) {
        return;
    }
    IRuntimeHost* const host = server_->Host();
    for (DWORD i = 0; i < count; ++i) {
        COPCItem* const item = handles_.Find(clientHandles[i]);
        if (item == nullptr) {
            continue;
        }
        item->SetValue(values[i]);
        item->quality = qualities[i];
        if (timestamps != nullptr) {
            item->timestamp = timestamps[i];
        }
        if (host != nullptr) {
            host->OnItemUpdate(*item);
        }
    }
    if (host != nullptr && host->IsGroupSelected()) {
        host->NotifyValuesChanged();
    }
}
