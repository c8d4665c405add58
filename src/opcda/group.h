#pragma once
// The interfaces of an OPC DA group object: its state, its items, synchronous and asynchronous
// reads and writes (1.0 and 2.0), and the enumerator of its items.
//
// Every array a method returns through a double pointer (results, errors, states) has one
// entry per requested item, is allocated with the task allocator and is freed by the caller;
// so are the strings and blobs inside it.

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opcda/ids.h"
#include "opcda/types.h"

class IOPCGroupStateMgt : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCGroupStateMgt;

    // *ppName is allocated with the task allocator.
    virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                             FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                             OPCHANDLE* phServerGroup) = 0;
    // Null inputs leave their setting as it is.
    virtual HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                             OPCHANDLE* phClientGroup) = 0;
    virtual HRESULT SetName(LPCWSTR szName) = 0;
    virtual HRESULT CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;

  protected:
    ~IOPCGroupStateMgt() = default;
};

class IOPCPublicGroupStateMgt : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCPublicGroupStateMgt;

    virtual HRESULT GetState(BOOL* pPublic) = 0;
    virtual HRESULT MoveToPublic() = 0;

  protected:
    ~IOPCPublicGroupStateMgt() = default;
};

class IOPCSyncIO : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCSyncIO;

    virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          HRESULT** ppErrors) = 0;

  protected:
    ~IOPCSyncIO() = default;
};

// Asynchronous reads and writes of the 1.0 standard; completions arrive as data streams on
// the advise connection named by dwConnection.
class IOPCAsyncIO : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCAsyncIO;

    virtual HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                         OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                          VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors) = 0;
    virtual HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) = 0;
    virtual HRESULT Cancel(DWORD dwTransactionID) = 0;

  protected:
    ~IOPCAsyncIO() = default;
};

class IOPCItemMgt : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCItemMgt;

    // S_OK when every item was added; S_FALSE when some failed (see their entries in
    // *ppErrors).
    virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                             HRESULT** ppErrors) = 0;
    virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                  OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
    virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
    virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                   HRESULT** ppErrors) = 0;
    virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                     HRESULT** ppErrors) = 0;
    virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                 HRESULT** ppErrors) = 0;
    // An IEnumOPCItemAttributes over the group's items; S_FALSE and no enumerator when the
    // group has none.
    virtual HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;

  protected:
    ~IOPCItemMgt() = default;
};

class IEnumOPCItemAttributes : public IUnknown {
  public:
    static constexpr IID iid = IID_IEnumOPCItemAttributes;

    // *ppItemArray holds *pceltFetched entries, allocated with the task allocator.
    virtual HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;

  protected:
    ~IEnumOPCItemAttributes() = default;
};

// Asynchronous reads and writes of the 2.0 standard; completions arrive through the group's
// IOPCDataCallback connection point, carrying the client's dwTransactionID.
class IOPCAsyncIO2 : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCAsyncIO2;

    virtual HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
    virtual HRESULT Cancel2(DWORD dwCancelID) = 0;
    virtual HRESULT SetEnable(BOOL bEnable) = 0;
    virtual HRESULT GetEnable(BOOL* pbEnable) = 0;

  protected:
    ~IOPCAsyncIO2() = default;
};
