#pragma once
// The interfaces of an OPC DA server object: group management (IOPCServer), public groups, and
// the item properties of the 2.0 standard. Browsing is in opcda/browse.h, the common
// interfaces in opcda/common.h.

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"
#include "opcda/ids.h"
#include "opcda/types.h"

class IOPCServer : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCServer;

    // Creates a private group. pTimeBias and pPercentDeadband may be null (server defaults);
    // the group is returned as riid in *ppUnk.
    virtual HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                             OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                             DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                             REFIID riid, LPUNKNOWN* ppUnk) = 0;
    // The text of an error code, allocated with the task allocator.
    virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
    virtual HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
    // The status block and its vendor text are allocated with the task allocator.
    virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
    // S_OK: removed; OPC_S_INUSE: still referenced by a client, removed when released.
    virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    // An IEnumUnknown (or IEnumString of names) over the groups in scope.
    virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) = 0;

  protected:
    ~IOPCServer() = default;
};

class IOPCServerPublicGroups : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCServerPublicGroups;

    virtual HRESULT GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;

  protected:
    ~IOPCServerPublicGroups() = default;
};

class IOPCItemProperties : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCItemProperties;

    // The properties an item has: ids, descriptions and types, three arrays of *pdwCount.
    virtual HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                             DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                             VARTYPE** ppvtDataTypes) = 0;
    virtual HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                      VARIANT** ppvData, HRESULT** ppErrors) = 0;
    // The item ids under which properties can be added to a group as items of their own.
    virtual HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                  LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;

  protected:
    ~IOPCItemProperties() = default;
};
