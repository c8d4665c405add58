#pragma once
// IOPCDataCallback: the client's sink of the 2.0 subscription, advised on a group's connection
// point. The arrays are the server's; they are valid only during the call.

#include "com/guid.h"
#include "com/hresult.h"
#include "com/types.h"
#include "com/unknown.h"
#include "com/variant.h"
#include "opcda/ids.h"
#include "opcda/types.h"

class IOPCDataCallback : public IUnknown {
  public:
    static constexpr IID iid = IID_IOPCDataCallback;

    // Changed values of active items (dwTransid 0), or the answer to a refresh.
    // hrMasterquality is S_FALSE when any quality is not good; hrMastererror S_FALSE when any
    // entry of pErrors is not S_OK.
    virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                 HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                 VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                 HRESULT* pErrors) = 0;
    virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                   HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                   VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                   HRESULT* pErrors) = 0;
    virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                    DWORD dwCount, OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
    virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;

  protected:
    ~IOPCDataCallback() = default;
};
