#pragma once
// A live group on a server: the server-side group object, the data subscription through which
// the server reports changes, and the group's live items.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "com/connection_point.h"
#include "com/data_object.h"
#include "com/types.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "model/object.h"
#include "opc/client_handle_table.h"
#include "opc/opc_item.h"
#include "opcda/group.h"
#include "opcda/types.h"

class COPCServer;
class COPCDataCallback;
class COPCAdviseSink;

class COPCGroup : public CObject {
  public:
    // How the group subscribes and writes: 0 the 1.0 data stream and IOPCAsyncIO writes, 1 the
    // 2.0 callback and IOPCAsyncIO2 writes, 2 the 2.0 callback and IOPCSyncIO writes.
    enum AccessMode : int { accessStream = 0, accessCallback = 1, accessCallbackSyncWrite = 2 };
    // The transaction id of every asynchronous 2.0 write.
    static constexpr DWORD kWriteTransactionId = 0x1010;

    static const CRuntimeClass runtimeClass;
    const CRuntimeClass* GetRuntimeClass() const override { return &runtimeClass; }
    // Live groups are never stored; the image is the version word alone.
    void Serialize(CArchive& ar) override;

    explicit COPCGroup(COPCServer& server);
    COPCGroup(const COPCGroup&) = delete;
    COPCGroup& operator=(const COPCGroup&) = delete;
    // Destroys its items, no server calls.
    ~COPCGroup() override;

    // Starts the data subscription of the access mode; failures are silent.
    void Subscribe();
    // Ends the subscription and releases every interface the group holds; items stay.
    void Unsubscribe();
    // Sends the state to the server; results are ignored.
    void SetState(BOOL active, float percentDeadband, DWORD updateRate);
    // Adds the item on the server and lists it. Returns the listed item, or null (the item is
    // then destroyed).
    COPCItem* AddItem(std::unique_ptr<COPCItem> item);
    // Removes the item on the server, then unlists and destroys it. False (the item stays) when
    // the call fails, for null and for an item not listed here.
    bool RemoveItem(COPCItem* item);
    // The first listed item with that item id number, or null.
    COPCItem* FindItem(std::int32_t itemIdNumber) const;
    // Takes a batch of delivered values: each handle that names a live item of this group gets
    // its value, quality and timestamp (when given) and goes to the host; then, while a group is
    // selected, the host's views are told once.
    void OnDataChange(DWORD transactionId, OPCHANDLE groupHandle, DWORD count,
                      const OPCHANDLE* clientHandles, const VARIANT* values, HRESULT masterQuality,
                      const WORD* qualities, const FILETIME* timestamps);

    COPCServer& Server() const { return *server_; }
    const std::vector<std::unique_ptr<COPCItem>>& Items() const { return items_; }
    // The item a client handle names, or null.
    COPCItem* ItemOfHandle(OPCHANDLE clientHandle) const { return handles_.Find(clientHandle); }

    // The server-side group, set when the server created it.
    ComPtr<IUnknown> GroupObject() const { return groupObject_; }
    OPCHANDLE ServerGroupHandle() const { return serverGroupHandle_; }
    void SetServerGroup(ComPtr<IUnknown> groupObject, OPCHANDLE serverGroupHandle);
    // True while the server has the group's sink advised (the connection point or the data
    // object is held).
    bool IsSubscribed() const { return connectionPoint_ || dataObject_; }

    std::int32_t groupId = 0;
    float percentDeadband = 0.0f;
    DWORD updateRate = 1000;  // milliseconds
    std::string name = "Group";
    BOOL active = 1;
    int accessMode = accessCallback;

  private:
    friend class COPCItem;  // takes and frees its client handle

    void SubscribeCallback();
    void SubscribeStream();

    COPCServer* server_;
    ClientHandleTable handles_;  // declared before the items, so it outlives them
    std::vector<std::unique_ptr<COPCItem>> items_;

    DWORD writeConnection_ = 0;  // 1.0 write-complete advise connection
    DWORD dataConnection_ = 0;   // 1.0 data advise connection, or the connection point cookie
    ComPtr<COPCAdviseSink> adviseSink_;
    ComPtr<IDataObject> dataObject_;
    ComPtr<IOPCAsyncIO> asyncIO_;
    ComPtr<COPCDataCallback> dataCallback_;
    ComPtr<IConnectionPointContainer> connectionPointContainer_;
    ComPtr<IConnectionPoint> connectionPoint_;
    ComPtr<IOPCAsyncIO2> asyncIO2_;
    ComPtr<IUnknown> groupObject_;
    OPCHANDLE serverGroupHandle_ = 0;
};
