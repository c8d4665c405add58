#pragma once
// The live connection to one OPC DA server: activation on this machine or on a remote node, the
// server object, the server-side groups behind the live groups, and the browse settings.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"
#include "com/unknown.h"
#include "model/object.h"
#include "opc/opc_group.h"
#include "opcda/types.h"

class IRuntimeHost;

class COPCServer : public CObject {
  public:
    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    // Writes the version word 1 alone; reading skips one 32-bit word and leaves the object
    // disconnected.
    void Serialize(CArchive& ar) override;

    // As the archive creates it: no host, disconnected.
    COPCServer();
    explicit COPCServer(IRuntimeHost* host);
    COPCServer(const COPCServer&) = delete;
    COPCServer& operator=(const COPCServer&) = delete;
    // Removes every group on the server in list order, then releases the server object.
    ~COPCServer() override;

    // Activates the server (on nodeName when remote is set and nodeName is not empty, else on
    // this machine) and keeps the server object. Returns connected.
    bool Connect();
    // Creates the group on the server, lists it and subscribes it. Returns the listed group, or
    // null when the server refused it (the group is then already destroyed).
    COPCGroup* AddGroup(std::unique_ptr<COPCGroup> group);
    // Unsubscribes the group and removes it on the server; only when the server answers S_OK is
    // it unlisted and destroyed. False for null, for a group of another server and on failure.
    bool RemoveGroup(COPCGroup* group);
    // "name", "server", "node", "remote" (case ignored); "" for any other key.
    std::string GetPropertyText(std::string_view key) const;

    // Browsing the server's address space; the position lives in the server.
    void SetBrowseFilter(std::string filterText, VARTYPE dataTypeFilter, DWORD accessRightsFilter);
    bool MoveBrowsePosition(OPCBROWSEDIRECTION direction, std::string_view name);
    // Replaces names with what the server lists at the position under the browse filters.
    bool ListBrowseNames(OPCBROWSETYPE type, std::vector<std::string>& names);
    // The fully qualified item id of a name at the position; "" when the server has none.
    std::string GetFullItemId(std::string_view leafName);

    ComPtr<IUnknown> ServerObject() const { return serverObject_; }
    const std::vector<std::unique_ptr<COPCGroup>>& Groups() const { return groups_; }
    IRuntimeHost* Host() const { return host_; }

    BOOL connected = 0;
    DWORD accessRightsFilter = 3;  // OPC_READABLE | OPC_WRITEABLE
    VARTYPE dataTypeFilter = VT_EMPTY;
    std::string filterText = "*";
    std::string progId;
    std::string nodeName;  // host of a remote server, "" for this machine
    std::int32_t serverId = 0;
    std::string displayName;
    BOOL remote = 0;

  private:
    bool CreateServerGroup(COPCGroup& group);
    // Removes the group on the server; false (after the message) for any answer but S_OK.
    bool RemoveServerGroup(const COPCGroup& group);

    ComPtr<IUnknown> serverObject_;
    std::vector<std::unique_ptr<COPCGroup>> groups_;
    IRuntimeHost* host_ = nullptr;
};
