#pragma once
// A group of the simulated server: its state, its items, reads and writes (synchronous, and
// asynchronous in both versions of the standard), the 2.0 subscription through the
// IOPCDataCallback connection point and the 1.0 subscription through IDataObject.
//
// Its fields are guarded by the simulator's lock; the methods marked "lock held" are for the
// server and the clock, which call them holding it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/data_object.h"
#include "opcda/group.h"
#include "sim/delivery.h"
#include "sim/faults.h"
#include "sim/item_table.h"
#include "sim/sim_connection_point.h"

struct SimState;

struct GroupSettings {
    std::u16string name;
    OPCHANDLE clientGroup = 0;
    DWORD updateRate = 0;  // as revised
    bool active = true;
    LONG timeBias = 0;
    FLOAT deadband = 0.0f;
    LCID lcid = 0;
};

// Whether a group answers QueryInterface for riid with these faults in force.
bool GroupAnswers(REFIID riid, const SimFaults& faults);

class SimGroup final : public ComObject<IOPCGroupStateMgt, IOPCItemMgt, IOPCSyncIO, IOPCAsyncIO2,
                                        IOPCAsyncIO, IConnectionPointContainer, IDataObject> {
  public:
    SimGroup(std::shared_ptr<SimState> state, DWORD serverId, OPCHANDLE serverHandle,
             GroupSettings settings);

    // ---- For the server and the clock (lock held) ----
    DWORD ServerId() const { return serverId_; }
    OPCHANDLE ServerHandle() const { return serverHandle_; }
    const std::u16string& Name() const { return settings_.name; }
    // References held on the group besides the server's own.
    ULONG ClientReferences() const { return RefCount() - 1; }
    // Takes the group out of its server: no more updates, pending requests are dropped, and
    // calls on its interfaces fail with E_FAIL.
    void Detach();
    // A new group of the same server with this group's settings and items, inactive and
    // without subscriptions.
    ComPtr<SimGroup> CloneAs(std::u16string name, OPCHANDLE serverHandle) const;
    // Drops every subscription (called without the lock: it releases the client's sinks).
    void DisconnectAll();

    bool WantsUpdates() const;
    std::uint64_t NextDue() const { return nextDue_; }
    // Runs the update due now and schedules the next one.
    void RunUpdate(std::uint64_t now, std::vector<Delivery>& out);
    // Moves a schedule that lies at or before now to its first time after now.
    void SkipPast(std::uint64_t now);
    // The number of the oldest asynchronous request not yet answered, 0 when there is none.
    std::uint64_t OldestRequest() const;
    // Answers that request.
    void CompleteOldestRequest(std::uint64_t now, std::vector<Delivery>& out);

    // ---- IUnknown ----
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

    // ---- IOPCGroupStateMgt ----
    HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                     FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                     OPCHANDLE* phServerGroup) override;
    HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                     OPCHANDLE* phClientGroup) override;
    HRESULT SetName(LPCWSTR szName) override;
    HRESULT CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

    // ---- IOPCItemMgt ----
    HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                     HRESULT** ppErrors) override;
    HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                          OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                           HRESULT** ppErrors) override;
    HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                             HRESULT** ppErrors) override;
    HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                         HRESULT** ppErrors) override;
    HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // ---- IOPCSyncIO ----
    HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                 OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                  HRESULT** ppErrors) override;

    // ---- IOPCAsyncIO2 ----
    HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                 HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                  DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
    HRESULT Cancel2(DWORD dwCancelID) override;
    HRESULT SetEnable(BOOL bEnable) override;
    HRESULT GetEnable(BOOL* pbEnable) override;

    // ---- IOPCAsyncIO ----
    HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                 DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                  DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
    HRESULT Cancel(DWORD dwTransactionID) override;

    // ---- IConnectionPointContainer ----
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // ---- IDataObject ----
    HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    HRESULT QueryGetData(FORMATETC* pformatetc) override;
    HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
    HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
    HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                    DWORD* pdwConnection) override;
    HRESULT DUnadvise(DWORD dwConnection) override;
    HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

  private:
    ~SimGroup() override = default;

    struct Request {
        enum class Kind { Read, Write, Refresh, Cancelled };
        Kind kind = Kind::Read;
        bool version1 = false;       // an IOPCAsyncIO request, answered by a data stream
        std::uint64_t sequence = 0;  // order of issue
        DWORD cancelId = 0;          // 2.0: the server's id; 1.0: the transaction id
        DWORD transactionId = 0;     // what the answer carries
        DWORD connection = 0;        // 1.0: the advise connection answered on
        OPCDATASOURCE source = OPC_DS_DEVICE;
        std::vector<OPCHANDLE> handles;
        std::vector<OwnedVariant> values;
    };

    // Checks an item definition; on success leaf holds the item's leaf.
    HRESULT CheckItem(const OPCITEMDEF& def, NodeIndex* leaf) const;
    // Marks every item as not yet sent, so the next update sends them all.
    void ResendAll();
    void FillResult(const GroupItem& item, OPCHANDLE handle, OPCITEMRESULT& result) const;
    bool HasDataCallback() const;
    bool HasDataStream() const;
    bool HasActiveItems() const;
    // Whether connection is a 1.0 advise connection of a data format (or the write-complete
    // format).
    bool IsStreamConnection(DWORD connection, bool writeComplete) const;
    // The data-format stream connection numbered connection (0: every data-format connection).
    std::vector<StreamTarget> StreamTargets(DWORD connection, bool writeComplete) const;
    std::vector<ComPtr<IOPCDataCallback>> DataCallbacks() const;
    // Validates handles for an asynchronous read or write: fills errors, returns the valid ones.
    HRESULT CheckAsyncHandles(DWORD count, const OPCHANDLE* handles, bool write, HRESULT* errors,
                              std::vector<OPCHANDLE>& valid) const;
    void Complete(Request& request, std::uint64_t now, std::vector<Delivery>& out);
    // Appends the reading of every active item (or of the given handles).
    void ReadInto(ItemBatch& batch, const std::vector<OPCHANDLE>* handles, std::uint64_t now,
                  bool cacheSource);

    const std::shared_ptr<SimState> state_;
    DWORD serverId_;  // 0 once detached
    const OPCHANDLE serverHandle_;
    GroupSettings settings_;
    bool enabled_ = true;
    std::uint64_t nextDue_ = 0;
    ItemTable items_;
    std::vector<Request> requests_;
    std::shared_ptr<BatchPool> pool_;
    SimConnectionPoint dataPoint_;
    CDataAdviseHolder advises_;
    // The format of each 1.0 advise connection.
    std::map<DWORD, CLIPFORMAT> streamFormats_;
};
