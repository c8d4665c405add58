#pragma once
// The document's container of servers: the server records (sorted by ProgID, case ignored) and
// the live server connections (in the order they were added). The configuration file stores
// both lists.

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "model/object.h"
#include "model/server_record.h"
#include "opc/opc_server.h"

class clOPCList : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    // The version word 1, the server records, then the live servers, each list as a count and
    // its objects.
    void Serialize(CArchive& ar) override;

    clOPCList() = default;
    clOPCList(const clOPCList&) = delete;
    clOPCList& operator=(const clOPCList&) = delete;
    // All server records first, then all servers.
    ~clOPCList() override;

    // Inserted before the first record whose ProgID sorts after it (case folded), so equal
    // ProgIDs keep their insertion order.
    clBaseOPCServer& AddServerRecord(std::unique_ptr<clBaseOPCServer> record);
    // Unlinks and destroys the record; nothing when it is not listed.
    void RemoveServerRecord(clBaseOPCServer* record);
    COPCServer& AddServer(std::unique_ptr<COPCServer> server);
    // Unlinks and destroys the server (removing its groups on the server); nothing when it is
    // not listed.
    void RemoveServer(COPCServer* server);
    // The first record with that id, or null.
    clBaseOPCServer* FindServerRecord(std::int32_t serverId) const;
    // Removes the record's live group on its server (the outcome does not matter), then unlinks
    // and destroys the group record.
    void RemoveGroupRecord(clBaseOPCGroup* group);
    // All server records first, then all servers.
    void DeleteAll();

    const std::vector<std::unique_ptr<clBaseOPCServer>>& ServerRecords() const {
        return serverRecords_;
    }
    const std::vector<std::unique_ptr<COPCServer>>& Servers() const { return servers_; }

  private:
    void RebuildRecordIndex() const;

    std::vector<std::unique_ptr<clBaseOPCServer>> serverRecords_;
    std::vector<std::unique_ptr<COPCServer>> servers_;
    // Server id to the first record with that id, so that a data change finds its record at
    // the same cost whatever the number of servers. Rebuilt when the list changes and when a
    // look-up finds it out of date (the document may set an id after adding the record).
    mutable std::unordered_map<std::int32_t, clBaseOPCServer*> recordsById_;
};
