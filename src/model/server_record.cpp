#include "model/server_record.h"

#include <algorithm>

#include "model/archive.h"
#include "model/text_compare.h"

namespace {

std::unique_ptr<CObject> CreateServer() {
    return std::make_unique<clBaseOPCServer>();
}

}  // namespace

const CRuntimeClass clBaseOPCServer::runtimeClass{"clBaseOPCServer", VERSIONABLE_SCHEMA | 0u,
                                                  &CreateServer};

clBaseOPCServer::~clBaseOPCServer() {
    DeleteAllGroups();
}

void clBaseOPCServer::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteDWord(1);
        ar.WriteLong(id);
        ar.WriteString(serverName);
        ar.WriteString(nodeName);
        ar.WriteLong(remote);
        ar.WriteLong(nextGroupNumber);
        ar.WriteCount(static_cast<std::uint32_t>(groups_.size()));
        for (const auto& group : groups_) {
            ar.WriteObject(group.get());
        }
        return;
    }
    ar.ReadDWord();  // version word
    id = ar.ReadLong();
    serverName = ar.ReadString();
    nodeName = ar.ReadString();
    remote = ar.ReadLong();
    nextGroupNumber = ar.ReadLong();
    DeleteAllGroups();
    // One element at a time: the count is only a claim until the elements are there.
    for (std::uint32_t n = ar.ReadCount(); n > 0; --n) {
        groups_.push_back(ar.ReadNew<clBaseOPCGroup>());
        groupsById_.Inserted(groups_, groups_.back().get(), groups_.size() - 1);
    }
}

std::string clBaseOPCServer::GetPropertyText(std::string_view key) const {
    if (EqualsNoCase(key, "name")) {
        if (remote != 0) {
            std::string text;
            text.reserve(nodeName.size() + serverName.size() + 2);
            text.append("[").append(nodeName).append("]").append(serverName);
            return text;
        }
        return serverName;
    }
    if (EqualsNoCase(key, "servername")) {
        return serverName;
    }
    if (EqualsNoCase(key, "nodename")) {
        return nodeName;
    }
    if (EqualsNoCase(key, "connection")) {
        return remote != 0 ? "Remote" : "Local";
    }
    return {};
}

clBaseOPCGroup& clBaseOPCServer::InsertGroupSorted(std::unique_ptr<clBaseOPCGroup> group) {
    const std::string_view key = group->name;
    const auto at = std::find_if(groups_.begin(), groups_.end(), [key](const auto& other) {
        return CompareNoCase(other->name, key) > 0;
    });
    const auto position = static_cast<std::size_t>(at - groups_.begin());
    clBaseOPCGroup* inserted = groups_.insert(at, std::move(group))->get();
    groupsById_.Inserted(groups_, inserted, position);
    return *inserted;
}

bool clBaseOPCServer::RemoveGroup(const clBaseOPCGroup* group) {
    const auto at = std::find_if(groups_.begin(), groups_.end(),
                                 [group](const auto& other) { return other.get() == group; });
    if (at == groups_.end()) {
        return false;
    }
    // Unlisted first, so that the index no longer finds it, then destroyed.
    std::unique_ptr<clBaseOPCGroup> removed = std::move(*at);
    groups_.erase(at);
    groupsById_.Removed(groups_, removed.get());
    return true;
}

void clBaseOPCServer::DeleteAllGroups() {
    groupsById_.Clear();
    groups_.clear();
}

clBaseOPCGroup* clBaseOPCServer::FindGroup(std::int32_t groupId) const {
    return groupsById_.Find(groupId);
}

clBaseOPCItem* clBaseOPCServer::FindItem(std::int32_t groupId, std::int32_t itemId) const {
    const clBaseOPCGroup* group = FindGroup(groupId);
    return group == nullptr ? nullptr : group->FindItemById(itemId);
}
