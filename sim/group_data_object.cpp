// The group's subscriptions: the IOPCDataCallback connection point (2.0) and the data advise
// connections of IDataObject (1.0).

#include <new>

#include "sim/group.h"
#include "sim/sim_state.h"

namespace {

bool IsStreamFormat(CLIPFORMAT format) {
    const StreamFormats& formats = OpcStreamFormats();
    return format != 0 && (format == formats.data || format == formats.dataTime ||
                           format == formats.writeComplete);
}

HRESULT CheckFormat(const FORMATETC* format) {
    if (format == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsStreamFormat(format->cfFormat)) {
        return DV_E_FORMATETC;
    }
    if ((format->tymed & TYMED_HGLOBAL) == 0) {
        return DV_E_TYMED;
    }
    if (format->dwAspect != DVASPECT_CONTENT) {
        return DV_E_DVASPECT;
    }
    if (format->lindex != -1) {
        return DV_E_LINDEX;
    }
    return S_OK;
}

}  // namespace

void SimGroup::DisconnectAll() {
    dataPoint_.Inner().UnadviseAll();
    advises_.UnadviseAll();
    const std::lock_guard lock(state_->mutex);
    streamFormats_.clear();
}

// ---- IConnectionPointContainer ----

HRESULT SimGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    {
        CallGate gate(*state_, "IConnectionPointContainer", "EnumConnectionPoints");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    try {
        std::vector<ComPtr<IConnectionPoint>> points{ComPtr<IConnectionPoint>(&dataPoint_)};
        *ppEnum = MakeComObject<CEnumConnectionPoints>(std::move(points)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SimGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (ppCP == nullptr) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    {
        CallGate gate(*state_, "IConnectionPointContainer", "FindConnectionPoint");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    if (!(riid == IID_IOPCDataCallback)) {
        return CONNECT_E_NOCONNECTION;
    }
    dataPoint_.AddRef();
    *ppCP = &dataPoint_;
    return S_OK;
}

// ---- IDataObject ----

HRESULT SimGroup::GetData(FORMATETC* /*pformatetcIn*/, STGMEDIUM* /*pmedium*/) {
    return E_NOTIMPL;
}

HRESULT SimGroup::GetDataHere(FORMATETC* /*pformatetc*/, STGMEDIUM* /*pmedium*/) {
    return E_NOTIMPL;
}

HRESULT SimGroup::QueryGetData(FORMATETC* pformatetc) {
    CallGate gate(*state_, "IDataObject", "QueryGetData");
    if (const auto fault = gate.Fault()) {
        return *fault;
    }
    return CheckFormat(pformatetc);
}

HRESULT SimGroup::GetCanonicalFormatEtc(FORMATETC* /*pformatectIn*/, FORMATETC* pformatetcOut) {
    if (pformatetcOut != nullptr) {
        pformatetcOut->ptd = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT SimGroup::SetData(FORMATETC* /*pformatetc*/, STGMEDIUM* /*pmedium*/, BOOL /*fRelease*/) {
    return E_NOTIMPL;
}

HRESULT SimGroup::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) {
    if (ppenumFormatEtc == nullptr) {
        return E_POINTER;
    }
    *ppenumFormatEtc = nullptr;
    {
        CallGate gate(*state_, "IDataObject", "EnumFormatEtc");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    if (dwDirection != DATADIR_GET) {
        return E_NOTIMPL;
    }
    const StreamFormats& formats = OpcStreamFormats();
    std::vector<FORMATETC> list;
    for (const CLIPFORMAT cf : {formats.dataTime, formats.data, formats.writeComplete}) {
        list.push_back(FORMATETC{cf, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
    }
    return CreateEnumFORMATETC(list, ppenumFormatEtc);
}

HRESULT SimGroup::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                          DWORD* pdwConnection) {
    if (pdwConnection != nullptr) {
        *pdwConnection = 0;
    }
    {
        CallGate gate(*state_, "IDataObject", "DAdvise");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        if (serverId_ == 0) {
            return E_FAIL;
        }
    }
    if (pAdvSink == nullptr || pdwConnection == nullptr) {
        return E_POINTER;
    }
    const HRESULT check = CheckFormat(pformatetc);
    if (FAILED(check)) {
        return check;
    }
    // The holder takes a reference on the sink: no lock while it does.
    DWORD connection = 0;
    const HRESULT hr = advises_.Advise(pformatetc, advf, pAdvSink, &connection);
    if (FAILED(hr)) {
        return hr;
    }
    const std::lock_guard lock(state_->mutex);
    streamFormats_[connection] = pformatetc->cfFormat;
    if ((advf & ADVF_PRIMEFIRST) != 0 && pformatetc->cfFormat != OpcStreamFormats().writeComplete) {
        ResendAll();
    }
    *pdwConnection = connection;
    return S_OK;
}

HRESULT SimGroup::DUnadvise(DWORD dwConnection) {
    {
        CallGate gate(*state_, "IDataObject", "DUnadvise");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
        streamFormats_.erase(dwConnection);
    }
    // The sink is released here, without the lock.
    return advises_.Unadvise(dwConnection);
}

HRESULT SimGroup::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (ppenumAdvise == nullptr) {
        return E_POINTER;
    }
    *ppenumAdvise = nullptr;
    {
        CallGate gate(*state_, "IDataObject", "EnumDAdvise");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    return advises_.EnumAdvise(ppenumAdvise);
}
