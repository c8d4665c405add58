#include "opc/data_callback.h"

#include "framework/ui_services.h"
#include "opc/opc_group.h"

namespace {

// The handles and counts print as the signed 32-bit numbers the trace always showed.
long AsLong(DWORD value) {
    return static_cast<long>(static_cast<LONG>(value));
}

}  // namespace

HRESULT COPCDataCallback::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_INVALIDARG;
    }
    return ComObject::QueryInterface(riid, ppvObject);
}

HRESULT COPCDataCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                       HRESULT /*hrMastererror*/, DWORD dwCount,
                                       OPCHANDLE* phClientItems, VARIANT* pvValues,
                                       WORD* pwQualities, FILETIME* pftTimeStamps,
                                       HRESULT* /*pErrors*/) {
    if (group_ != nullptr) {
        group_->OnDataChange(dwTransid, hGroup, dwCount, phClientItems, pvValues, hrMasterquality,
                             pwQualities, pftTimeStamps);
    }
    return S_OK;
}

HRESULT COPCDataCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                         HRESULT /*hrMasterquality*/, HRESULT /*hrMastererror*/,
                                         DWORD dwCount, OPCHANDLE* /*phClientItems*/,
                                         VARIANT* /*pvValues*/, WORD* /*pwQualities*/,
                                         FILETIME* /*pftTimeStamps*/, HRESULT* /*pErrors*/) {
    Trace("OnReadComplete: Transid=%ld count=%ld GrpHandle=%ld\n", AsLong(dwTransid),
          AsLong(dwCount), AsLong(hGroup));
    return S_OK;
}

HRESULT COPCDataCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                          HRESULT /*hrMastererr*/, DWORD dwCount,
                                          OPCHANDLE* /*pClienthandles*/, HRESULT* /*pErrors*/) {
    Trace("OnWriteComplete: Transid=%ld count=%ld GrpHandle=%ld\n", AsLong(dwTransid),
          AsLong(dwCount), AsLong(hGroup));
    return S_OK;
}

HRESULT COPCDataCallback::OnCancelComplete(DWORD /*dwTransid*/, OPCHANDLE /*hGroup*/) {
    return S_OK;
}
