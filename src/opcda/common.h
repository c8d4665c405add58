#pragma once
// The interfaces common to all OPC servers: locale and client name (IOPCCommon, on the server),
// and the shutdown request a server sends to its clients (IOPCShutdown, on the client, through
// the server's connection point).

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"
#include "opcda/ids.h"

class IOPCCommon : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCCommon;

    virtual HRESULT SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    virtual HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT SetClientName(LPCWSTR szName) = 0;

  protected:
    ~IOPCCommon() = default;
};

class IOPCShutdown : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCShutdown;

    virtual HRESULT ShutdownRequest(LPCWSTR szReason) = 0;

  protected:
    ~IOPCShutdown() = default;
};
