#include "sim/sim_connection_point.h"

#include "sim/sim_state.h"

SimConnectionPoint::SimConnectionPoint(IConnectionPointContainer& owner, REFIID connectionIid,
                                       std::shared_ptr<SimState> state,
                                       std::function<void()> onAdvised)
    : owner_(owner),
      state_(std::move(state)),
      onAdvised_(std::move(onAdvised)),
      inner_(owner, connectionIid) {}

HRESULT SimConnectionPoint::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppvObject = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT SimConnectionPoint::GetConnectionInterface(IID* pIID) {
    {
        CallGate gate(*state_, "IConnectionPoint", "GetConnectionInterface");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    return inner_.GetConnectionInterface(pIID);
}

HRESULT SimConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    {
        CallGate gate(*state_, "IConnectionPoint", "GetConnectionPointContainer");
        if (const auto fault = gate.Fault()) {
            if (ppCPC != nullptr) {
                *ppCPC = nullptr;
            }
            return *fault;
        }
    }
    return inner_.GetConnectionPointContainer(ppCPC);
}

HRESULT SimConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    {
        CallGate gate(*state_, "IConnectionPoint", "Advise");
        if (const auto fault = gate.Fault()) {
            if (pdwCookie != nullptr) {
                *pdwCookie = 0;
            }
            return *fault;
        }
    }
    // The sink's QueryInterface is client code: called without the simulator's lock.
    const HRESULT hr = inner_.Advise(pUnkSink, pdwCookie);
    if (SUCCEEDED(hr) && onAdvised_) {
        onAdvised_();
    }
    return hr;
}

HRESULT SimConnectionPoint::Unadvise(DWORD dwCookie) {
    {
        CallGate gate(*state_, "IConnectionPoint", "Unadvise");
        if (const auto fault = gate.Fault()) {
            return *fault;
        }
    }
    return inner_.Unadvise(dwCookie);
}

HRESULT SimConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    {
        CallGate gate(*state_, "IConnectionPoint", "EnumConnections");
        if (const auto fault = gate.Fault()) {
            if (ppEnum != nullptr) {
                *ppEnum = nullptr;
            }
            return *fault;
        }
    }
    return inner_.EnumConnections(ppEnum);
}
