#include "rpc/marshal.h"

#include <algorithm>

#include "rpc/wire_values.h"

namespace tgv::rpc {

ProxyManager::ProxyManager(std::shared_ptr<Connection> connection, std::uint64_t identity)
    : connection_(std::move(connection)), identity_(identity) {}

ProxyManager::~ProxyManager() = default;

bool ProxyManager::TryAddRef() {
    ULONG current = refs_.load(std::memory_order_relaxed);
    while (current != 0) {
        if (refs_.compare_exchange_weak(current, current + 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

ULONG ProxyManager::Release() {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        connection_->ForgetProxy(identity_, this);
        // The capabilities belong to the RPC thread. When it has stopped they are gone already:
        // the runtime closes every connection first.
        RpcRuntime::Instance().Run([this] { DropCaps(); });
        delete this;
    }
    return left;
}

HRESULT ProxyManager::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IRpcProxyManager) {
        AddRef();
        *ppvObject = static_cast<IUnknown*>(this);
        return S_OK;
    }
    {
        const std::lock_guard lock(mutex_);
        for (auto& [iid, proxy] : proxies_) {
            if (iid == riid) {
                AddRef();
                *ppvObject = proxy->Pointer();
                return S_OK;
            }
        }
    }
    if (FindMarshaler(riid) == nullptr) {
        return E_NOINTERFACE;
    }
    IUnknown* found = nullptr;
    const HRESULT hr = RunCall(*connection_, [&]() -> kj::Promise<HRESULT> {
        KJ_IF_MAYBE (cap, AnyCap()) {
            auto request = cap->queryInterfaceRequest();
            PutGuid(request.initIid(), riid);
            return request.send().then([&](auto&& response) -> HRESULT {
                const HRESULT answer = response.getHr();
                if (FAILED(answer)) {
                    return answer;
                }
                const HRESULT imported =
                    ImportObject(*connection_, response.getObject(), riid, &found);
                if (SUCCEEDED(imported) && found == nullptr) {
                    // Success without an object is a broken answer.
                    return E_NOINTERFACE;
                }
                return FAILED(imported) ? imported : answer;
            });
        }
        return HRESULT{RPC_E_DISCONNECTED};
    });
    if (FAILED(hr)) {
        if (found != nullptr) {
            found->Release();
        }
        return hr;
    }
    *ppvObject = found;
    return hr;
}

void ProxyManager::AddCap(REFIID iid, wire::Unknown::Client cap) {
    for (const auto& [known, c] : caps_) {
        if (known == iid) {
            return;
        }
    }
    caps_.emplace_back(iid, kj::mv(cap));
}

kj::Maybe<wire::Unknown::Client&> ProxyManager::CapFor(REFIID iid) {
    for (auto& [known, c] : caps_) {
        if (known == iid) {
            return c;
        }
    }
    return nullptr;
}

kj::Maybe<wire::Unknown::Client&> ProxyManager::AnyCap() {
    if (caps_.empty()) {
        return nullptr;
    }
    return caps_.front().second;
}

void ProxyManager::DropCaps() {
    caps_.clear();
}

HRESULT ProxyManager::ProxyPointer(REFIID iid, IUnknown** out) {
    *out = nullptr;
    if (iid == IID_IUnknown) {
        AddRef();
        *out = this;
        return S_OK;
    }
    const InterfaceMarshaler* marshaler = FindMarshaler(iid);
    if (marshaler == nullptr) {
        return E_NOINTERFACE;
    }
    const std::lock_guard lock(mutex_);
    for (auto& [known, proxy] : proxies_) {
        if (known == iid) {
            AddRef();
            *out = proxy->Pointer();
            return S_OK;
        }
    }
    proxies_.emplace_back(iid, marshaler->makeProxy(*this));
    AddRef();
    *out = proxies_.back().second->Pointer();
    return S_OK;
}

HRESULT RunCall(Connection& connection, kj::Function<kj::Promise<HRESULT>()> body) {
    RpcRuntime& runtime = RpcRuntime::Instance();
    if (runtime.OnRpcThread()) {
        // The RPC thread cannot wait for itself.
        return RPC_E_WRONG_THREAD;
    }
    // Releases the peer sent before its answer are carried out before the caller goes on.
    struct AfterCall {
        Connection& connection;
        ~AfterCall() { connection.RunPendingReleases(); }
    } after{connection};
    try {
        return runtime.Execute([&]() -> kj::Promise<HRESULT> {
            if (!connection.IsOpen()) {
                return HRESULT{RPC_E_DISCONNECTED};
            }
            auto call = kj::evalNow([&] { return body(); });
            const auto timeout = runtime.CallTimeout().count() * kj::MILLISECONDS;
            auto expiry =
                runtime.Timer().afterDelay(timeout).then([]() -> HRESULT { return RPC_E_TIMEOUT; });
            return call.exclusiveJoin(kj::mv(expiry)).catch_([](kj::Exception&& e) -> HRESULT {
                return HresultOfException(e);
            });
        });
    } catch (const kj::Exception&) {
        return RPC_E_DISCONNECTED;
    }
}

OutgoingObject OutgoingObject::Adopt(IUnknown* itf, REFIID iid) {
    OutgoingObject o;
    o.iid = iid;
    o.itf = ComPtr<IUnknown>::Attach(itf);
    if (itf != nullptr) {
        ComPtr<IUnknown> identity;
        if (SUCCEEDED(itf->QueryInterface(IID_IUnknown, identity.PutVoid()))) {
            o.identity = identity.Get();
        }
        ComPtr<IUnknown> proxy;
        if (SUCCEEDED(itf->QueryInterface(IID_IRpcProxyManager, proxy.PutVoid())) && proxy) {
            o.proxy = ComPtr<ProxyManager>::Attach(static_cast<ProxyManager*>(proxy.Detach()));
        }
    }
    return o;
}

OutgoingObject OutgoingObject::Copy(IUnknown* itf, REFIID iid) {
    if (itf != nullptr) {
        itf->AddRef();
    }
    return Adopt(itf, iid);
}

HRESULT ExportCap(Connection& connection, OutgoingObject object, ExportedCap* out) {
    // An object that cannot be sent is let go where it lives, not here.
    auto refuse = [&](HRESULT hr) {
        connection.ReleaseLater(std::move(object.itf));
        return hr;
    };
    if (object.identity == nullptr) {
        return refuse(E_NOINTERFACE);
    }
    if (object.proxy && &object.proxy->Conn() == &connection) {
        // The peer's own object goes back as the peer's capability.
        ProxyManager& manager = *object.proxy;
        kj::Maybe<wire::Unknown::Client&> cap = manager.CapFor(object.iid);
        if (cap == nullptr) {
            cap = manager.AnyCap();
        }
        KJ_IF_MAYBE (c, cap) {
            out->cap = *c;
            out->identity = manager.Identity();
            out->home = true;
            return S_OK;
        }
        return RPC_E_DISCONNECTED;
    }
    const InterfaceMarshaler* marshaler = FindMarshaler(object.iid);
    if (marshaler == nullptr) {
        return refuse(E_NOINTERFACE);
    }
    const std::uint64_t id = connection.AddExport(object.identity, object.iid, object.itf.Get());
    out->cap = marshaler->makeStub(connection.shared_from_this(), std::move(object.itf), id);
    out->identity = id;
    out->home = false;
    return S_OK;
}

HRESULT ExportObject(Connection& connection, OutgoingObject object, wire::ObjectRef::Builder out) {
    if (!object.itf) {
        return S_OK;
    }
    ExportedCap exported;
    const HRESULT hr = ExportCap(connection, std::move(object), &exported);
    if (FAILED(hr)) {
        return hr;
    }
    KJ_IF_MAYBE (cap, exported.cap) {
        out.setCap(kj::mv(*cap));
    }
    out.setIdentity(exported.identity);
    out.setHome(exported.home);
    return S_OK;
}

HRESULT ImportCap(Connection& connection, wire::Unknown::Client cap, std::uint64_t identity,
                  bool home, REFIID iid, IUnknown** out) {
    *out = nullptr;
    if (home) {
        return connection.FindExport(identity, iid, out);
    }
    if (iid != IID_IUnknown && FindMarshaler(iid) == nullptr) {
        return E_NOINTERFACE;
    }
    ComPtr<ProxyManager> manager = connection.ProxyOf(identity);
    manager->AddCap(iid, kj::mv(cap));
    return manager->ProxyPointer(iid, out);
}

HRESULT ImportObject(Connection& connection, wire::ObjectRef::Reader ref, REFIID iid,
                     IUnknown** out) {
    *out = nullptr;
    if (!ref.hasCap()) {
        return S_OK;
    }
    return ImportCap(connection, ref.getCap(), ref.getIdentity(), ref.getHome(), iid, out);
}

StubCore::StubCore(std::shared_ptr<Connection> connection, ComPtr<IUnknown> itf, REFIID iid,
                   std::uint64_t exportId)
    : connection_(std::move(connection)), itf_(std::move(itf)), iid_(iid), exportId_(exportId) {}

StubCore::~StubCore() {
    connection_->RemoveExport(exportId_, iid_, itf_.Get());
    connection_->ReleaseLater(std::move(itf_));
}

kj::Promise<void> StubCore::QueryInterface(QueryInterfaceContext context) {
    const IID riid = GetGuid(context.getParams().getIid());
    ComPtr<IUnknown> itf = itf_;
    return Dispatch<ObjectOut>(*connection_,
                               [itf = std::move(itf), riid](ObjectOut& out) {
                                   IUnknown* found = nullptr;
                                   out.hr =
                                       itf->QueryInterface(riid, reinterpret_cast<void**>(&found));
                                   if (FAILED(out.hr)) {
                                       found = nullptr;
                                   }
                                   out.object = OutgoingObject::Adopt(found, riid);
                               })
        .then([connection = connection_, context](kj::Own<ObjectOut> out) mutable {
            auto results = context.getResults();
            results.setHr(PutObject(*connection, *out, [&] { return results.initObject(); }));
        });
}

}  // namespace tgv::rpc
