// IConnectionPointContainer, IConnectionPoint, IEnumConnections and IEnumConnectionPoints across
// a connection.

#include "com/connection_point.h"
#include "rpc/enum_support.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// ---- IConnectionPointContainer ---------------------------------------------------------------

class ContainerProxy final
    : public ProxyOf<IConnectionPointContainer, wire::ConnectionPointContainer> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::ConnectionPointContainer::Client;

    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        if (ppEnum != nullptr) {
            *ppEnum = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.enumConnectionPointsRequest();
            request.setWants(Wants(ppEnum));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getEnum(), IID_IEnumConnectionPoints,
                                  ppEnum);
            });
        });
    }

    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        if (ppCP != nullptr) {
            *ppCP = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.findConnectionPointRequest();
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(ppCP));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getPoint(), IID_IConnectionPoint, ppCP);
            });
        });
    }
};

class ContainerStub final
    : public StubOf<wire::ConnectionPointContainer, IConnectionPointContainer> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> enumConnectionPoints(EnumConnectionPointsContext context) override {
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), wants = context.getParams().getWants()](ObjectOut& out) {
                       IEnumConnectionPoints* e = nullptr;
                       out.hr = itf->EnumConnectionPoints(Wanted(wants, 0) ? &e : nullptr);
                       out.object = OutgoingObject::Adopt(e, IID_IEnumConnectionPoints);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }

    kj::Promise<void> findConnectionPoint(FindConnectionPointContext context) override {
        auto p = context.getParams();
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), iid = GetGuid(p.getIid()), wants = p.getWants()](ObjectOut& out) {
                       IConnectionPoint* point = nullptr;
                       out.hr = itf->FindConnectionPoint(iid, Wanted(wants, 0) ? &point : nullptr);
                       out.object = OutgoingObject::Adopt(point, IID_IConnectionPoint);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initPoint(); }));
            });
    }
};

// ---- IConnectionPoint ------------------------------------------------------------------------

class PointProxy final : public ProxyOf<IConnectionPoint, wire::ConnectionPoint> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::ConnectionPoint::Client;

    HRESULT GetConnectionInterface(IID* pIID) override {
        return Call([&](Cap& cap) {
            auto request = cap.getConnectionInterfaceRequest();
            request.setWants(Wants(pIID));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pIID != nullptr) {
                    *pIID = GetGuid(r.getIid());
                }
                return r.getHr();
            });
        });
    }

    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
        if (ppCPC != nullptr) {
            *ppCPC = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.getConnectionPointContainerRequest();
            request.setWants(Wants(ppCPC));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getContainer(),
                                  IID_IConnectionPointContainer, ppCPC);
            });
        });
    }

    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
        // The sink is exported as it is; the server asks it for the interface it calls.
        OutgoingObject sink = OutgoingObject::Copy(pUnkSink, IID_IUnknown);
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.adviseRequest();
            const HRESULT sent = ExportObject(Conn(), std::move(sink), request.initSink());
            if (FAILED(sent)) {
                return sent;
            }
            request.setWants(Wants(pdwCookie));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwCookie != nullptr) {
                    *pdwCookie = r.getCookie();
                }
                return r.getHr();
            });
        });
    }

    HRESULT Unadvise(DWORD dwCookie) override {
        return Call([&](Cap& cap) {
            auto request = cap.unadviseRequest();
            request.setCookie(dwCookie);
            return SendForHr(request);
        });
    }

    HRESULT EnumConnections(IEnumConnections** ppEnum) override {
        if (ppEnum != nullptr) {
            *ppEnum = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.enumConnectionsRequest();
            request.setWants(Wants(ppEnum));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getEnum(), IID_IEnumConnections, ppEnum);
            });
        });
    }
};

class PointStub final : public StubOf<wire::ConnectionPoint, IConnectionPoint> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> getConnectionInterface(GetConnectionInterfaceContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            IID iid = GUID_NULL;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), w = context.getParams().getWants()](Out& out) {
                                 out.hr =
                                     itf->GetConnectionInterface(Wanted(w, 0) ? &out.iid : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                PutGuid(results.initIid(), out->iid);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> getConnectionPointContainer(
        GetConnectionPointContainerContext context) override {
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), wants = context.getParams().getWants()](ObjectOut& out) {
                       IConnectionPointContainer* c = nullptr;
                       out.hr = itf->GetConnectionPointContainer(Wanted(wants, 0) ? &c : nullptr);
                       out.object = OutgoingObject::Adopt(c, IID_IConnectionPointContainer);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initContainer(); }));
            });
    }

    kj::Promise<void> advise(AdviseContext context) override {
        auto p = context.getParams();
        IUnknown* sink = nullptr;
        const HRESULT imported = ImportObject(Conn(), p.getSink(), IID_IUnknown, &sink);
        if (FAILED(imported)) {
            context.getResults().setHr(imported);
            return kj::READY_NOW;
        }
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD cookie = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), sink = ComPtr<IUnknown>::Attach(sink),
                              w = p.getWants()](Out& out) {
                                 out.hr =
                                     itf->Advise(sink.Get(), Wanted(w, 0) ? &out.cookie : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setCookie(out->cookie);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> unadvise(UnadviseContext context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), cookie = context.getParams().getCookie()](HRESULT& hr) {
                            hr = itf->Unadvise(cookie);
                        });
    }

    kj::Promise<void> enumConnections(EnumConnectionsContext context) override {
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), wants = context.getParams().getWants()](ObjectOut& out) {
                       IEnumConnections* e = nullptr;
                       out.hr = itf->EnumConnections(Wanted(wants, 0) ? &e : nullptr);
                       out.object = OutgoingObject::Adopt(e, IID_IEnumConnections);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }
};

// ---- IEnumConnections ------------------------------------------------------------------------

class EnumConnectionsProxy final : public EnumProxyBase<IEnumConnections, wire::EnumConnections> {
  public:
    using EnumProxyBase::EnumProxyBase;

    HRESULT Next(ULONG celt, CONNECTDATA* rgcd, ULONG* pcFetched) override {
        if (pcFetched != nullptr) {
            *pcFetched = 0;
        }
        return Call([&](wire::EnumConnections::Client& cap) {
            auto request = cap.nextRequest();
            request.setCount(celt);
            request.setWants(Wants(rgcd, pcFetched));
            return request.send().then([&](auto&& r) -> HRESULT {
                auto items = r.getItems();
                if (items.size() > celt || (items.size() > 0 && rgcd == nullptr)) {
                    return RPC_E_INVALID_DATA;
                }
                std::vector<ComPtr<IUnknown>> sinks(items.size());
                for (unsigned i = 0; i < items.size(); ++i) {
                    const HRESULT imported =
                        ImportObject(Conn(), items[i].getSink(), IID_IUnknown, sinks[i].Put());
                    if (FAILED(imported)) {
                        return imported;
                    }
                }
                for (unsigned i = 0; i < items.size(); ++i) {
                    rgcd[i].pUnk = sinks[i].Detach();
                    rgcd[i].dwCookie = items[i].getCookie();
                }
                if (pcFetched != nullptr) {
                    *pcFetched = items.size();
                }
                return r.getHr();
            });
        });
    }
};

class EnumConnectionsStub final : public EnumStubBase<wire::EnumConnections, IEnumConnections> {
  public:
    using EnumStubBase::EnumStubBase;

    kj::Promise<void> next(NextContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            std::vector<CONNECTDATA> got;
            std::vector<OutgoingObject> sinks;
        };
        return Dispatch<Out>(
                   Conn(),
                   [itf = Itf(), celt = p.getCount(), w = p.getWants()](Out& out) {
                       out.hr = ChunkedNext<CONNECTDATA>(
                           celt, Wanted(w, 0), Wanted(w, 1),
                           [&](ULONG n, CONNECTDATA* a, ULONG* f) { return itf->Next(n, a, f); },
                           [](CONNECTDATA& c) { c.pUnk->Release(); }, out.got);
                       for (const CONNECTDATA& c : out.got) {
                           out.sinks.push_back(OutgoingObject::Adopt(c.pUnk, IID_IUnknown));
                       }
                   })
            .then([conn = SharedConn(), context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                auto items = results.initItems(static_cast<unsigned>(out->got.size()));
                HRESULT hr = out->hr;
                for (unsigned i = 0; i < items.size(); ++i) {
                    items[i].setCookie(out->got[i].dwCookie);
                    const HRESULT sent =
                        ExportObject(*conn, std::move(out->sinks[i]), items[i].initSink());
                    if (FAILED(sent)) {
                        hr = sent;
                    }
                }
                results.setFetched(items.size());
                results.setHr(hr);
            });
    }
};

// ---- IEnumConnectionPoints -------------------------------------------------------------------

class EnumPointsProxy final
    : public EnumProxyBase<IEnumConnectionPoints, wire::EnumConnectionPoints> {
  public:
    using EnumProxyBase::EnumProxyBase;

    HRESULT Next(ULONG celt, IConnectionPoint** ppCP, ULONG* pcFetched) override {
        if (pcFetched != nullptr) {
            *pcFetched = 0;
        }
        return Call([&](wire::EnumConnectionPoints::Client& cap) {
            auto request = cap.nextRequest();
            request.setCount(celt);
            request.setWants(Wants(ppCP, pcFetched));
            return request.send().then([&](auto&& r) -> HRESULT {
                auto items = r.getItems();
                if (items.size() > celt || (items.size() > 0 && ppCP == nullptr)) {
                    return RPC_E_INVALID_DATA;
                }
                std::vector<ComPtr<IUnknown>> points(items.size());
                for (unsigned i = 0; i < items.size(); ++i) {
                    const HRESULT imported =
                        ImportObject(Conn(), items[i], IID_IConnectionPoint, points[i].Put());
                    if (FAILED(imported)) {
                        return imported;
                    }
                }
                for (unsigned i = 0; i < items.size(); ++i) {
                    ppCP[i] = static_cast<IConnectionPoint*>(points[i].Detach());
                }
                if (pcFetched != nullptr) {
                    *pcFetched = items.size();
                }
                return r.getHr();
            });
        });
    }
};

class EnumPointsStub final
    : public EnumStubBase<wire::EnumConnectionPoints, IEnumConnectionPoints> {
  public:
    using EnumStubBase::EnumStubBase;

    kj::Promise<void> next(NextContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            std::vector<IConnectionPoint*> got;
            std::vector<OutgoingObject> points;
        };
        return Dispatch<Out>(
                   Conn(),
                   [itf = Itf(), celt = p.getCount(), w = p.getWants()](Out& out) {
                       out.hr = ChunkedNext<IConnectionPoint*>(
                           celt, Wanted(w, 0), Wanted(w, 1),
                           [&](ULONG n, IConnectionPoint** a, ULONG* f) {
                               return itf->Next(n, a, f);
                           },
                           [](IConnectionPoint*& c) { c->Release(); }, out.got);
                       for (IConnectionPoint* c : out.got) {
                           out.points.push_back(OutgoingObject::Adopt(c, IID_IConnectionPoint));
                       }
                   })
            .then([conn = SharedConn(), context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                auto items = results.initItems(static_cast<unsigned>(out->points.size()));
                HRESULT hr = out->hr;
                for (unsigned i = 0; i < items.size(); ++i) {
                    const HRESULT sent = ExportObject(*conn, std::move(out->points[i]), items[i]);
                    if (FAILED(sent)) {
                        hr = sent;
                    }
                }
                results.setFetched(items.size());
                results.setHr(hr);
            });
    }
};

}  // namespace

InterfaceMarshaler ConnectionPointContainerMarshaler() {
    return MarshalerOf<IConnectionPointContainer, ContainerProxy, ContainerStub>();
}
InterfaceMarshaler ConnectionPointMarshaler() {
    return MarshalerOf<IConnectionPoint, PointProxy, PointStub>();
}
InterfaceMarshaler EnumConnectionsMarshaler() {
    return MarshalerOf<IEnumConnections, EnumConnectionsProxy, EnumConnectionsStub>();
}
InterfaceMarshaler EnumConnectionPointsMarshaler() {
    return MarshalerOf<IEnumConnectionPoints, EnumPointsProxy, EnumPointsStub>();
}

}  // namespace tgv::rpc
