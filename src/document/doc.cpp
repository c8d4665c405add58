#include "document/doc.h"

#include <memory>
#include <utility>

#include "framework/hints.h"
#include "model/archive.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_group.h"
#include "opc/opc_item.h"
#include "opc/opc_server.h"
#include "opc/runtime_classes.h"

CDoc::CDoc(LoadMode loadMode) : loadMode_(loadMode) {}

CDoc::~CDoc() {
    ResetContents();
}

const ClassRegistry& CDoc::GetClasses() const {
    static const ClassRegistry classes = RuntimeClasses();
    return classes;
}

void CDoc::ResetContents() {
    columns.DeleteAll();
    serverList.DeleteAll();
    reservedCounter = 1;
    nextItemId = 1;
    nextGroupId = 1;
    nextServerId = 1;
    nextServerNumber = 1;
    ClearSelection();
    allowDuplicateItems = 0;
}

void CDoc::ClearSelection() {
    currentServer = nullptr;
    currentGroup = nullptr;
    currentItem = nullptr;
    serverSelected = false;
    groupSelected = false;
}

bool CDoc::OnNewDocument() {
    if (!CDocument::OnNewDocument()) {
        return false;
    }
    ResetContents();
    columns.CreateDefaults();
    UpdateAllViews(nullptr, kHintNewDocument);
    return true;
}

bool CDoc::OnOpenDocument(const std::string& path) {
    if (!CDocument::OnOpenDocument(path)) {
        return false;
    }
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, kHintNewDocument);
    return true;
}

void CDoc::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
        ar.WriteLong(reservedCounter);
        ar.WriteLong(nextItemId);
        ar.WriteLong(nextGroupId);
        ar.WriteLong(nextServerId);
        ar.WriteLong(nextServerNumber);
        columns.Serialize(ar);
        serverList.Serialize(ar);
        return;
    }
    ResetContents();
    ar.ReadDWord();  // version word
    reservedCounter = ar.ReadLong();
    nextItemId = ar.ReadLong();
    nextGroupId = ar.ReadLong();
    nextServerId = ar.ReadLong();
    nextServerNumber = ar.ReadLong();
    columns.Serialize(ar);
    serverList.Serialize(ar);
    if (loadMode_ == LoadMode::connect) {
        ConnectRecords();
    }
}

void CDoc::ConnectRecords() {
    // The live servers read from the file are inert placeholders; the records say what to
    // connect. One server after the other, each before its groups and items.
    for (const auto& record : serverList.ServerRecords()) {
        auto live = std::make_unique<COPCServer>(this);
        live->serverId = record->id;
        live->nodeName = record->nodeName;
        live->progId = record->serverName;
        live->remote = record->remote;
        if (!live->Connect()) {
            continue;  // the record stays without live objects; nothing is reported
        }
        COPCServer& server = serverList.AddServer(std::move(live));
        record->liveServer = &server;
        for (const auto& group : record->Groups()) {
            ConnectGroup(server, *group);
        }
    }
}

void CDoc::ConnectGroup(COPCServer& liveServer, clBaseOPCGroup& group) {
    auto live = std::make_unique<COPCGroup>(liveServer);
    live->name = group.name;
    live->updateRate = static_cast<DWORD>(group.updateRate);
    live->active = group.active;
    live->groupId = group.id;
    COPCGroup* const listed = liveServer.AddGroup(std::move(live));
    if (listed == nullptr) {
        return;  // the group record stays without live group, its items "Invalid"
    }
    group.liveGroup = listed;
    for (const auto& item : group.Items()) {
        auto liveItem = std::make_unique<COPCItem>(*listed);
        liveItem->itemIdNumber = item->id;
        liveItem->itemId = item->opcItemId;
        liveItem->requestedType = item->requestedType;
        liveItem->canonicalType = item->canonicalType;
        liveItem->active = item->active;
        if (listed->AddItem(std::move(liveItem)) != nullptr) {
            item->state = clBaseOPCItem::stateValid;
        }
    }
}

void CDoc::OnItemUpdate(COPCItem& item) {
    const COPCGroup& group = item.Group();
    const clBaseOPCServer* const server = serverList.FindServerRecord(group.Server().serverId);
    if (server == nullptr) {
        return;
    }
    clBaseOPCItem* const record = server->FindItem(group.groupId, item.itemIdNumber);
    if (record == nullptr) {
        return;
    }
    record->ApplyUpdate(item);
}

void CDoc::NotifyValuesChanged() {
    UpdateAllViews(nullptr, kHintValuesChanged);
}
