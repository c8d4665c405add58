#pragma once
// The sink of a group's OPC DA 2.0 subscription: data changes go to the group, completions of
// reads and writes only to the trace.

#include "com/com_object.h"
#include "opcda/callback.h"

class COPCGroup;

class COPCDataCallback final : public ComObject<IOPCDataCallback> {
  public:
    explicit COPCDataCallback(COPCGroup* group) : group_(group) {}

    // A null out-pointer is E_INVALIDARG here; unknown IIDs give E_NOINTERFACE with the
    // out-pointer nulled.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override;
    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                           HRESULT* pErrors) override;
    HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    // The group lets go of the callback; calls still arriving are answered and dropped.
    void DetachGroup() { group_ = nullptr; }

  private:
    // Only the last Release destroys it.
    ~COPCDataCallback() override = default;

    COPCGroup* group_;
};
