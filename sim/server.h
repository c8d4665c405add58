#pragma once
// The simulated OPC DA server object: group management (IOPCServer), browsing
// (IOPCBrowseServerAddressSpace), locale and client name (IOPCCommon), and the IOPCShutdown
// connection point through which it asks its client to let go.

#include <memory>

#include "com/com_object.h"
#include "com/connection_point.h"
#include "opcda/browse.h"
#include "opcda/common.h"
#include "opcda/server.h"
#include "sim/faults.h"
#include "sim/sim_connection_point.h"

struct SimState;

class SimServer final : public ComObject<IOPCServer, IOPCBrowseServerAddressSpace, IOPCCommon,
                                         IConnectionPointContainer> {
  public:
    // The server's data must already be in state->servers under id.
    SimServer(std::shared_ptr<SimState> state, DWORD id);

    // The sinks of IOPCShutdown advised now (lock held).
    std::vector<ComPtr<IOPCShutdown>> ShutdownSinks() const;

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

    // ---- IOPCServer ----
    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                     OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                     LPUNKNOWN* ppUnk) override;
    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

    // ---- IOPCBrowseServerAddressSpace ----
    HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                             LPENUMSTRING* ppIEnumString) override;
    HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

    // ---- IOPCCommon ----
    HRESULT SetLocaleID(LCID dwLcid) override;
    HRESULT GetLocaleID(LCID* pdwLcid) override;
    HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT SetClientName(LPCWSTR szName) override;

    // ---- IConnectionPointContainer ----
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

  private:
    // Takes the server's data out of the simulator and lets its groups go.
    ~SimServer() override;

    const std::shared_ptr<SimState> state_;
    const DWORD id_;
    SimConnectionPoint shutdownPoint_;
};

// Whether a server object answers QueryInterface for riid with these faults in force.
bool ServerAnswers(REFIID riid, const SimFaults& faults);
