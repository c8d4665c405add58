// The document's commands: adding and deleting servers and groups, their properties, new items,
// and which of them are enabled.

#include <algorithm>
#include <memory>
#include <utility>

#include "document/dialogs.h"
#include "document/doc.h"
#include "framework/commands.h"
#include "framework/hints.h"
#include "framework/ui_services.h"
#include "model/group_record.h"
#include "model/server_record.h"
#include "model/text_compare.h"
#include "opc/opc_group.h"
#include "opc/opc_server.h"

namespace {

// The server record whose group list holds the group, or null.
clBaseOPCServer* OwnerOf(const clOPCList& list, const clBaseOPCGroup* group) {
    for (const auto& record : list.ServerRecords()) {
        const auto& groups = record->Groups();
        if (std::any_of(groups.begin(), groups.end(),
                        [group](const auto& g) { return g.get() == group; })) {
            return record.get();
        }
    }
    return nullptr;
}

}  // namespace

void CDoc::OnNewServer() {
    auto live = std::make_unique<COPCServer>(this);
    const std::int32_t number = nextServerNumber++;
    live->displayName = Format("OPCServer%d", number);

    const int answer = dialogs_ != nullptr ? dialogs_->DoServerDialog(*live) : IDCANCEL;
    if (answer != IDOK) {
        --nextServerNumber;
        return;
    }
    if (live->progId.empty()) {
        AfxMessageBox("OPC Server name is empty, create new device cancel");
        --nextServerNumber;
        return;
    }
    if (!live->Connect()) {
        AfxMessageBox(Format("Fail connect to '%s'", live->GetPropertyText("server").c_str()));
        --nextServerNumber;
        return;
    }

    live->serverId = nextServerId;
    COPCServer& server = serverList.AddServer(std::move(live));
    auto record = std::make_unique<clBaseOPCServer>();
    record->id = nextServerId;
    record->nodeName = server.nodeName;
    record->serverName = server.progId;
    record->remote = server.remote;
    record->liveServer = &server;
    clBaseOPCServer& added = serverList.AddServerRecord(std::move(record));

    UpdateAllViews(nullptr, kHintServerAdded, &added);
    ++nextServerId;
    SetModifiedFlag();
}

void CDoc::OnDeleteServer() {
    if (currentServer == nullptr) {
        return;
    }
    if (AfxMessageBox("Delete OPC Server ?", MB_YESNO) != IDYES) {
        return;
    }
    clBaseOPCServer* const record = currentServer;
    void* const treeItem = record->treeItem;
    // A selected group or item of this server goes with it.
    for (const auto& group : record->Groups()) {
        ForgetItemsOf(*group);
        if (group.get() == currentGroup) {
            currentGroup = nullptr;
            groupSelected = false;
        }
    }
    if (record->liveServer != nullptr) {
        serverList.RemoveServer(record->liveServer);
    }
    serverList.RemoveServerRecord(record);

    currentServer = nullptr;
    SetModifiedFlag();
    UpdateAllViews(nullptr, kHintServerDeleted);
    UpdateAllViews(nullptr, kHintRemoveTreeNode, treeItem);
}

void CDoc::OnServerProperties() {
    if (currentServer != nullptr && dialogs_ != nullptr) {
        dialogs_->DoServerProperties(*currentServer);
    }
}

void CDoc::OnNewGroup() {
    if (currentServer == nullptr) {
        return;
    }
    clBaseOPCServer& server = *currentServer;
    auto record = std::make_unique<clBaseOPCGroup>();
    const std::int32_t number = server.nextGroupNumber++;
    record->name = Format("Group%d", number);

    const int answer = dialogs_ != nullptr ? dialogs_->DoGroupDialog(*record) : IDCANCEL;
    if (answer != IDOK) {
        --server.nextGroupNumber;
        return;
    }

    // A server that could not be connected has nowhere to create the group; like a refusal by
    // the server, the group number stays taken.
    COPCGroup* listed = nullptr;
    if (server.liveServer != nullptr) {
        auto live = std::make_unique<COPCGroup>(*server.liveServer);
        live->name = record->name;
        live->updateRate = static_cast<DWORD>(record->updateRate);
        live->active = record->active;
        live->groupId = nextGroupId;
        listed = server.liveServer->AddGroup(std::move(live));
    }
    if (listed == nullptr) {
        AfxMessageBox("Fail to create new opc group");
        return;
    }

    record->serverId = server.id;
    record->id = nextGroupId;
    record->parentTreeItem = server.treeItem;
    record->liveGroup = listed;
    clBaseOPCGroup& added = server.InsertGroupSorted(std::move(record));

    UpdateAllViews(nullptr, kHintGroupAdded, &added);
    ++nextGroupId;
    SetModifiedFlag();
}

void CDoc::OnDeleteGroup() {
    if (currentGroup == nullptr) {
        return;
    }
    if (AfxMessageBox("Delete OPC Group ?", MB_YESNO) != IDYES) {
        return;
    }
    clBaseOPCGroup* const group = currentGroup;
    void* const treeItem = group->treeItem;
    ForgetItemsOf(*group);

    // The server list finds the group's server by the server id the group stores. A file may
    // give a group the id of another server, or two servers one id; then the group is removed
    // from the server that really holds it, the same way.
    clBaseOPCServer* const owner = OwnerOf(serverList, group);
    if (owner == nullptr || serverList.FindServerRecord(group->serverId) == owner) {
        serverList.RemoveGroupRecord(group);
    } else {
        if (owner->liveServer != nullptr && group->liveGroup != nullptr) {
            owner->liveServer->RemoveGroup(group->liveGroup);
        }
        owner->RemoveGroup(group);
    }

    currentGroup = nullptr;
    SetModifiedFlag();
    UpdateAllViews(nullptr, kHintRemoveTreeNode, treeItem);
}

void CDoc::OnGroupProperties() {
    if (currentGroup == nullptr) {
        return;
    }
    clBaseOPCGroup& group = *currentGroup;
    const std::string previousName = group.name;
    const int answer = dialogs_ != nullptr ? dialogs_->DoGroupDialog(group) : IDCANCEL;
    if (answer != IDOK) {
        return;
    }
    // A group without live group (its server or the group itself could not be created when the
    // file was opened) only changes its record.
    if (COPCGroup* const live = group.liveGroup; live != nullptr) {
        live->updateRate = static_cast<DWORD>(group.updateRate);
        live->active = group.active;
        live->SetState(live->active, 0.0f, live->updateRate);
    }
    if (!EqualsNoCase(group.name, previousName)) {
        UpdateAllViews(nullptr, kHintGroupRenamed, &group);
    }
    SetModifiedFlag();
}

void CDoc::OnNewItems() {
    if (currentGroup == nullptr || currentGroup->liveGroup == nullptr) {
        return;
    }
    if (dialogs_ != nullptr) {
        dialogs_->DoNewItems(*this, *currentGroup);
    }
    SetModifiedFlag();
}

void CDoc::ForgetItemsOf(const clBaseOPCGroup& group) {
    if (currentItem == nullptr) {
        return;
    }
    const auto& items = group.Items();
    if (std::any_of(items.begin(), items.end(),
                    [this](const auto& item) { return item.get() == currentItem; })) {
        currentItem = nullptr;
    }
}

bool CDoc::OnCmdMsg(UINT id) {
    switch (id) {
        case ID_OPC_NEW:
            return true;  // a menu heading with a command id; nothing to do
        case ID_SERVER_ADD:
            OnNewServer();
            return true;
        case ID_SERVER_DELETE:
            OnDeleteServer();
            return true;
        case ID_SERVER_PROPERTIES:
            OnServerProperties();
            return true;
        case ID_GROUP_ADD:
            OnNewGroup();
            return true;
        case ID_GROUP_DELETE:
            OnDeleteGroup();
            return true;
        case ID_GROUP_PROPERTIES:
            OnGroupProperties();
            return true;
        case ID_TAG_ADD:
            OnNewItems();
            return true;
        default:
            // ID_TAG_DELETE is the item view's to carry out.
            return CDocument::OnCmdMsg(id);
    }
}

std::optional<bool> CDoc::IsCommandEnabled(UINT id) const {
    switch (id) {
        case ID_OPC_NEW:
        case ID_SERVER_ADD:
            return true;
        case ID_SERVER_DELETE:
        case ID_SERVER_PROPERTIES:
        case ID_GROUP_ADD:
            return serverSelected;
        case ID_GROUP_DELETE:
        case ID_GROUP_PROPERTIES:
        case ID_TAG_ADD:
        case ID_TAG_DELETE:
            return groupSelected;
        default:
            return CDocument::IsCommandEnabled(id);
    }
}
