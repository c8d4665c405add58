#pragma once
// The server record: an OPC server the operator added, and its group records.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/group_record.h"
#include "model/object.h"

class COPCServer;

class clBaseOPCServer : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    void Serialize(CArchive& ar) override;

    clBaseOPCServer() = default;
    clBaseOPCServer(const clBaseOPCServer&) = delete;
    clBaseOPCServer& operator=(const clBaseOPCServer&) = delete;
    ~clBaseOPCServer() override;

    // "name", "servername", "nodename", "connection" (case ignored); "" for any other key.
    std::string GetPropertyText(std::string_view key) const;

    // The group list changes only through the three operations below and Serialize, which keep
    // an index by group id beside it. A group's id must not change while it is listed.

    // Inserts before the first group whose name sorts after the new one (case folded), so equal
    // names keep their insertion order. Returns the inserted record.
    clBaseOPCGroup& InsertGroupSorted(std::unique_ptr<clBaseOPCGroup> group);
    // Unlinks and deletes the group (with its items) when it is in the list; true when it was.
    bool RemoveGroup(const clBaseOPCGroup* group);
    void DeleteAllGroups();

    const std::vector<std::unique_ptr<clBaseOPCGroup>>& Groups() const { return groups_; }
    // The first group in list order with that id, or null.
    clBaseOPCGroup* FindGroup(std::int32_t groupId) const;
    // The item with that id in the first group with that id, or null. Both look-ups cost the
    // same whatever the size of the configuration.
    clBaseOPCItem* FindItem(std::int32_t groupId, std::int32_t itemId) const;

    std::int32_t id = 0;
    void* treeItem = nullptr;          // this server's tree node, not stored
    std::string serverName;            // ProgID
    std::string nodeName;              // host of a remote server, "" for a local one
    std::int32_t remote = 0;           // non-zero: reached on nodeName
    std::int32_t nextGroupNumber = 1;  // for the default name "Group%d"
    COPCServer* liveServer = nullptr;  // not owned

  private:
    std::vector<std::unique_ptr<clBaseOPCGroup>> groups_;  // ordered by name
    RecordIdIndex<clBaseOPCGroup> groupsById_;
};
