#include "opc/opc_list.h"

#include <algorithm>

#include "model/archive.h"
#include "model/text_compare.h"

namespace {

std::unique_ptr<CObject> CreateList() {
    return std::make_unique<clOPCList>();
}

}  // namespace

const CRuntimeClass clOPCList::runtimeClass{"clOPCList", VERSIONABLE_SCHEMA | 0u, &CreateList};

clOPCList::~clOPCList() {
    DeleteAll();
}

void clOPCList::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
        ar.WriteCount(static_cast<std::uint32_t>(serverRecords_.size()));
        for (const auto& record : serverRecords_) {
            ar.WriteObject(record.get());
        }
        ar.WriteCount(static_cast<std::uint32_t>(servers_.size()));
        for (const auto& server : servers_) {
            ar.WriteObject(server.get());
        }
        return;
    }
    ar.ReadDWord();  // version word
    // One element at a time: a count is only a claim until its elements are there. What was
    // read before a failure stays listed, so nothing leaks and the document can discard it.
    for (std::uint32_t n = ar.ReadCount(); n > 0; --n) {
        serverRecords_.push_back(ar.ReadNew<clBaseOPCServer>());
        RebuildRecordIndex();
    }
    for (std::uint32_t n = ar.ReadCount(); n > 0; --n) {
        servers_.push_back(ar.ReadNew<COPCServer>());
    }
}

clBaseOPCServer& clOPCList::AddServerRecord(std::unique_ptr<clBaseOPCServer> record) {
    const std::string_view key = record->serverName;
    const auto at = std::find_if(
        serverRecords_.begin(), serverRecords_.end(),
        [key](const auto& other) { return CompareNoCase(other->serverName, key) > 0; });
    clBaseOPCServer& inserted = **serverRecords_.insert(at, std::move(record));
    RebuildRecordIndex();
    return inserted;
}

void clOPCList::RemoveServerRecord(clBaseOPCServer* record) {
    const auto at = std::find_if(serverRecords_.begin(), serverRecords_.end(),
                                 [record](const auto& other) { return other.get() == record; });
    if (record == nullptr || at == serverRecords_.end()) {
        return;
    }
    // Unlinked before it is destroyed, so the list never names a record being destroyed.
    std::unique_ptr<clBaseOPCServer> removed = std::move(*at);
    serverRecords_.erase(at);
    RebuildRecordIndex();
}

COPCServer& clOPCList::AddServer(std::unique_ptr<COPCServer> server) {
    servers_.push_back(std::move(server));
    return *servers_.back();
}

void clOPCList::RemoveServer(COPCServer* server) {
    const auto at = std::find_if(servers_.begin(), servers_.end(),
                                 [server](const auto& other) { return other.get() == server; });
    if (server == nullptr || at == servers_.end()) {
        return;
    }
    std::unique_ptr<COPCServer> removed = std::move(*at);
    servers_.erase(at);
}

void clOPCList::RebuildRecordIndex() const {
    recordsById_.clear();
    for (const auto& record : serverRecords_) {
        recordsById_.try_emplace(record->id, record.get());
    }
}

clBaseOPCServer* clOPCList::FindServerRecord(std::int32_t serverId) const {
    const auto found = recordsById_.find(serverId);
    if (found != recordsById_.end() && found->second->id == serverId) {
        return found->second;
    }
    for (const auto& record : serverRecords_) {
        if (record->id == serverId) {
            RebuildRecordIndex();
            return record.get();
        }
    }
    return nullptr;
}

void clOPCList::RemoveGroupRecord(clBaseOPCGroup* group) {
    if (group == nullptr) {
        return;
    }
    for (const auto& record : serverRecords_) {
        if (record->id != group->serverId) {
            continue;
        }
        if (record->liveServer != nullptr && group->liveGroup != nullptr) {
            record->liveServer->RemoveGroup(group->liveGroup);
        }
        record->RemoveGroup(group);
        return;
    }
}

void clOPCList::DeleteAll() {
    while (!serverRecords_.empty()) {
        std::unique_ptr<clBaseOPCServer> removed = std::move(serverRecords_.front());
        serverRecords_.erase(serverRecords_.begin());
    }
    recordsById_.clear();
    while (!servers_.empty()) {
        std::unique_ptr<COPCServer> removed = std::move(servers_.front());
        servers_.erase(servers_.begin());
    }
}
