#include "com/connection_point.h"

#include <new>
#include <utility>

HRESULT EnumCopyConnection::Copy(CONNECTDATA* to, const StoredConnection& from) {
    to->dwCookie = from.cookie;
    return from.sink.CopyTo(&to->pUnk);
}

void EnumCopyConnection::Destroy(CONNECTDATA* to) {
    if (to->pUnk != nullptr) {
        to->pUnk->Release();
        to->pUnk = nullptr;
    }
}

CConnectionPoint::CConnectionPoint(IConnectionPointContainer& container, REFIID connectionIid,
                                   std::size_t maxConnections)
    : container_(container), iid_(connectionIid), maxConnections_(maxConnections) {}

CConnectionPoint::~CConnectionPoint() {
    UnadviseAll();
}

HRESULT CConnectionPoint::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        AddRef();
        *ppvObject = static_cast<IConnectionPoint*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG CConnectionPoint::AddRef() {
    return container_.AddRef();
}
ULONG CConnectionPoint::Release() {
    return container_.Release();
}

HRESULT CConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (pIID == nullptr) {
        return E_POINTER;
    }
    *pIID = iid_;
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (ppCPC == nullptr) {
        return E_POINTER;
    }
    container_.AddRef();
    *ppCPC = &container_;
    return S_OK;
}

HRESULT CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (pdwCookie == nullptr) {
        return E_POINTER;
    }
    *pdwCookie = 0;
    if (pUnkSink == nullptr) {
        return E_POINTER;
    }
    ComPtr<IUnknown> sink;
    if (FAILED(pUnkSink->QueryInterface(iid_, sink.PutVoid())) || !sink) {
        return CONNECT_E_CANNOTCONNECT;
    }
    const std::lock_guard lock(mutex_);
    if (maxConnections_ == 0 || sinks_.size() >= maxConnections_) {
        return CONNECT_E_ADVISELIMIT;
    }
    // Cookies only grow; should they ever wrap, skip 0 and those still in use.
    while (nextCookie_ == 0 || sinks_.contains(nextCookie_)) {
        ++nextCookie_;
    }
    const DWORD cookie = nextCookie_++;
    try {
        sinks_.emplace(cookie, std::move(sink));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT CConnectionPoint::Unadvise(DWORD dwCookie) {
    ComPtr<IUnknown> released;  // released after the lock is gone
    {
        const std::lock_guard lock(mutex_);
        const auto it = sinks_.find(dwCookie);
        if (it == sinks_.end()) {
            return CONNECT_E_NOCONNECTION;
        }
        released = std::move(it->second);
        sinks_.erase(it);
    }
    return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    try {
        std::vector<StoredConnection> connections;
        {
            const std::lock_guard lock(mutex_);
            connections.reserve(sinks_.size());
            for (const auto& [cookie, sink] : sinks_) {
                connections.push_back(StoredConnection{sink, cookie});
            }
        }
        *ppEnum = MakeComObject<CEnumConnections>(std::move(connections)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::size_t CConnectionPoint::ConnectionCount() const {
    const std::lock_guard lock(mutex_);
    return sinks_.size();
}

std::vector<ComPtr<IUnknown>> CConnectionPoint::Sinks() const {
    std::vector<ComPtr<IUnknown>> out;
    const std::lock_guard lock(mutex_);
    out.reserve(sinks_.size());
    for (const auto& entry : sinks_) {
        out.push_back(entry.second);
    }
    return out;
}

void CConnectionPoint::UnadviseAll() {
    std::map<DWORD, ComPtr<IUnknown>> released;
    {
        const std::lock_guard lock(mutex_);
        released.swap(sinks_);
    }
}

HRESULT FindConnectionPointIn(std::span<CConnectionPoint* const> points, REFIID riid,
                              IConnectionPoint** ppCP) {
    if (ppCP == nullptr) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    for (CConnectionPoint* point : points) {
        if (point != nullptr && point->ConnectionIid() == riid) {
            point->AddRef();
            *ppCP = point;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT EnumConnectionPointsOf(std::span<CConnectionPoint* const> points,
                               IEnumConnectionPoints** ppEnum) {
    if (ppEnum == nullptr) {
        return E_POINTER;
    }
    *ppEnum = nullptr;
    try {
        std::vector<ComPtr<IConnectionPoint>> items;
        items.reserve(points.size());
        for (CConnectionPoint* point : points) {
            if (point != nullptr) {
                items.emplace_back(point);
            }
        }
        *ppEnum = MakeComObject<CEnumConnectionPoints>(std::move(items)).Detach();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
