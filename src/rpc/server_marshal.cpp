// IClassFactory, IOPCServer and IOPCCommon across a connection.

#include "com/class_factory.h"
#include "opcda/opcda.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// ---- IUnknown --------------------------------------------------------------------------------

// An object handed out only as IUnknown: its stub answers QueryInterface alone. Its proxy is the
// proxy manager itself.
class UnknownStub final : public wire::Unknown::Server {
  public:
    UnknownStub(std::shared_ptr<Connection> connection, ComPtr<IUnknown> itf,
                std::uint64_t exportId)
        : core_(std::move(connection), std::move(itf), IID_IUnknown, exportId) {}

    kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
        return core_.QueryInterface(context);
    }

  private:
    StubCore core_;
};

// ---- IClassFactory ---------------------------------------------------------------------------

class ClassFactoryProxy final : public ProxyOf<IClassFactory, wire::ClassFactory> {
  public:
    using ProxyOf::ProxyOf;

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject != nullptr) {
            *ppvObject = nullptr;
        }
        if (pUnkOuter != nullptr) {
            // An object in another process cannot be aggregated.
            return CLASS_E_NOAGGREGATION;
        }
        IUnknown** out = reinterpret_cast<IUnknown**>(ppvObject);
        return Call([&](wire::ClassFactory::Client& cap) {
            auto request = cap.createInstanceRequest();
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(out));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, out);
            });
        });
    }

    HRESULT LockServer(BOOL fLock) override {
        return Call([&](wire::ClassFactory::Client& cap) {
            auto request = cap.lockServerRequest();
            request.setLock(fLock);
            return request.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
        });
    }
};

// Writes the object of an ObjectOut into the results' "object" field, and the HRESULT.
template <class Results>
void PutObjectResult(Connection& connection, ObjectOut& out, Results results) {
    results.setHr(PutObject(connection, out, [&] { return results.initObject(); }));
}

class ClassFactoryStub final : public StubOf<wire::ClassFactory, IClassFactory> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> createInstance(CreateInstanceContext context) override {
        auto p = context.getParams();
        const IID iid = GetGuid(p.getIid());
        const std::uint32_t wants = p.getWants();
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), iid, wants](ObjectOut& out) {
                       IUnknown* object = nullptr;
                       out.hr = itf->CreateInstance(
                           nullptr, iid,
                           Wanted(wants, 0) ? reinterpret_cast<void**>(&object) : nullptr);
                       out.object = OutgoingObject::Adopt(object, iid);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                PutObjectResult(*conn, *out, context.getResults());
            });
    }

    kj::Promise<void> lockServer(LockServerContext context) override {
        const BOOL lock = context.getParams().getLock();
        return Dispatch<HRESULT>(Conn(),
                                 [itf = Itf(), lock](HRESULT& hr) { hr = itf->LockServer(lock); })
            .then([context](kj::Own<HRESULT> hr) mutable { context.getResults().setHr(*hr); });
    }

    kj::Promise<void> sync(SyncContext) override {
        // Answered from the call thread, after everything queued there before it.
        return Dispatch<bool>(Conn(), [](bool& done) { done = true; }).ignoreResult();
    }
};

// ---- IOPCServer ------------------------------------------------------------------------------

class OpcServerProxy final : public ProxyOf<IOPCServer, wire::OpcServer> {
  public:
    using ProxyOf::ProxyOf;

    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                     OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID,
                     OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                     LPUNKNOWN* ppUnk) override {
        if (ppUnk != nullptr) {
            *ppUnk = nullptr;
        }
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.addGroupRequest();
            PutWide(szName, [&](unsigned n) { return request.initName(n); });
            request.setActive(bActive);
            request.setRequestedUpdateRate(dwRequestedUpdateRate);
            request.setClientGroup(hClientGroup);
            if (pTimeBias != nullptr) {
                request.setTimeBias(*pTimeBias);
                request.setHasTimeBias(true);
            }
            if (pPercentDeadband != nullptr) {
                request.setPercentDeadband(*pPercentDeadband);
                request.setHasPercentDeadband(true);
            }
            request.setLcid(dwLCID);
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(phServerGroup, pRevisedUpdateRate, ppUnk));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (phServerGroup != nullptr) {
                    *phServerGroup = r.getServerGroup();
                }
                if (pRevisedUpdateRate != nullptr) {
                    *pRevisedUpdateRate = r.getRevisedUpdateRate();
                }
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, ppUnk);
            });
        });
    }

    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        if (ppString != nullptr) {
            *ppString = nullptr;
        }
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.getErrorStringRequest();
            request.setError(dwError);
            request.setLocale(dwLocale);
            request.setWants(Wants(ppString));
            return request.send().then([&](auto&& r) -> HRESULT {
                HRESULT decoded = S_OK;
                if (ppString != nullptr) {
                    *ppString = TaskWide(r.hasText(), r.getText(), &decoded);
                }
                return FirstFailure(r.getHr(), decoded);
            });
        });
    }

    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (ppUnk != nullptr) {
            *ppUnk = nullptr;
        }
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.getGroupByNameRequest();
            PutWide(szName, [&](unsigned n) { return request.initName(n); });
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(ppUnk));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, ppUnk);
            });
        });
    }

    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        if (ppServerStatus != nullptr) {
            *ppServerStatus = nullptr;
        }
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.getStatusRequest();
            request.setWants(Wants(ppServerStatus));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (ppServerStatus == nullptr || !r.hasStatus()) {
                    return r.getHr();
                }
                auto s = r.getStatus();
                TaskBlock<OPCSERVERSTATUS> status;
                if (!status.Allocate(1)) {
                    return E_OUTOFMEMORY;
                }
                status[0].ftStartTime = FileTimeFromWire(s.getStartTime());
                status[0].ftCurrentTime = FileTimeFromWire(s.getCurrentTime());
                status[0].ftLastUpdateTime = FileTimeFromWire(s.getLastUpdateTime());
                status[0].dwServerState = static_cast<OPCSERVERSTATE>(s.getServerState());
                status[0].dwGroupCount = s.getGroupCount();
                status[0].dwBandWidth = s.getBandWidth();
                status[0].wMajorVersion = s.getMajorVersion();
                status[0].wMinorVersion = s.getMinorVersion();
                status[0].wBuildNumber = s.getBuildNumber();
                status[0].wReserved = s.getReserved();
                HRESULT decoded = S_OK;
                status[0].szVendorInfo = TaskWide(s.hasVendorInfo(), s.getVendorInfo(), &decoded);
                if (FAILED(decoded)) {
                    return decoded;
                }
                *ppServerStatus = status.Release();
                return r.getHr();
            });
        });
    }

    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.removeGroupRequest();
            request.setServerGroup(hServerGroup);
            request.setForce(bForce);
            return request.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
        });
    }

    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (ppUnk != nullptr) {
            *ppUnk = nullptr;
        }
        return Call([&](wire::OpcServer::Client& cap) {
            auto request = cap.createGroupEnumeratorRequest();
            request.setScope(dwScope);
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(ppUnk));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, ppUnk);
            });
        });
    }
};

class OpcServerStub final : public StubOf<wire::OpcServer, IOPCServer> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> addGroup(AddGroupContext context) override {
        auto p = context.getParams();
        struct Out : ObjectOut {
            OPCHANDLE serverGroup = 0;
            DWORD revised = 0;
        };
        struct Args {
            WideArg name;
            BOOL active;
            DWORD rate;
            OPCHANDLE client;
            LONG timeBias;
            bool hasTimeBias;
            FLOAT deadband;
            bool hasDeadband;
            DWORD lcid;
            IID iid;
            std::uint32_t wants;
        };
        Args a{WideArg(p.hasName(), p.getName()),
               p.getActive(),
               p.getRequestedUpdateRate(),
               p.getClientGroup(),
               p.getTimeBias(),
               p.getHasTimeBias(),
               p.getPercentDeadband(),
               p.getHasPercentDeadband(),
               p.getLcid(),
               GetGuid(p.getIid()),
               p.getWants()};
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), a = std::move(a)](Out& out) mutable {
                                 IUnknown* group = nullptr;
                                 out.hr =
                                     itf->AddGroup(a.name.Get(), a.active, a.rate, a.client,
                                                   a.hasTimeBias ? &a.timeBias : nullptr,
                                                   a.hasDeadband ? &a.deadband : nullptr, a.lcid,
                                                   Wanted(a.wants, 0) ? &out.serverGroup : nullptr,
                                                   Wanted(a.wants, 1) ? &out.revised : nullptr,
                                                   a.iid, Wanted(a.wants, 2) ? &group : nullptr);
                                 out.object = OutgoingObject::Adopt(group, a.iid);
                             })
            .then([conn = SharedConn(), context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setServerGroup(out->serverGroup);
                results.setRevisedUpdateRate(out->revised);
                PutObjectResult(*conn, *out, results);
            });
    }

    kj::Promise<void> getErrorString(GetErrorStringContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            LPWSTR text = nullptr;
            ~Out() { CoTaskMemFree(text); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), error = p.getError(), locale = p.getLocale(),
                              wants = p.getWants()](Out& out) {
                                 out.hr = itf->GetErrorString(
                                     error, locale, Wanted(wants, 0) ? &out.text : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                PutWide(out->text, [&](unsigned n) { return results.initText(n); });
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> getGroupByName(GetGroupByNameContext context) override {
        auto p = context.getParams();
        const IID iid = GetGuid(p.getIid());
        return Dispatch<ObjectOut>(Conn(),
                                   [itf = Itf(), name = WideArg(p.hasName(), p.getName()), iid,
                                    wants = p.getWants()](ObjectOut& out) mutable {
                                       IUnknown* group = nullptr;
                                       out.hr = itf->GetGroupByName(
                                           name.Get(), iid, Wanted(wants, 0) ? &group : nullptr);
                                       out.object = OutgoingObject::Adopt(group, iid);
                                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                PutObjectResult(*conn, *out, context.getResults());
            });
    }

    kj::Promise<void> getStatus(GetStatusContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            OPCSERVERSTATUS* status = nullptr;
            ~Out() {
                if (status != nullptr) {
                    CoTaskMemFree(status->szVendorInfo);
                    CoTaskMemFree(status);
                }
            }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), wants = context.getParams().getWants()](Out& out) {
                                 out.hr = itf->GetStatus(Wanted(wants, 0) ? &out.status : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                if (const OPCSERVERSTATUS* s = out->status) {
                    auto w = results.initStatus();
                    w.setStartTime(FileTimeToWire(s->ftStartTime));
                    w.setCurrentTime(FileTimeToWire(s->ftCurrentTime));
                    w.setLastUpdateTime(FileTimeToWire(s->ftLastUpdateTime));
                    w.setServerState(s->dwServerState);
                    w.setGroupCount(s->dwGroupCount);
                    w.setBandWidth(s->dwBandWidth);
                    w.setMajorVersion(s->wMajorVersion);
                    w.setMinorVersion(s->wMinorVersion);
                    w.setBuildNumber(s->wBuildNumber);
                    w.setReserved(s->wReserved);
                    PutWide(s->szVendorInfo, [&](unsigned n) { return w.initVendorInfo(n); });
                }
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> removeGroup(RemoveGroupContext context) override {
        auto p = context.getParams();
        return Dispatch<HRESULT>(Conn(),
                                 [itf = Itf(), group = p.getServerGroup(), force = p.getForce()](
                                     HRESULT& hr) { hr = itf->RemoveGroup(group, force); })
            .then([context](kj::Own<HRESULT> hr) mutable { context.getResults().setHr(*hr); });
    }

    kj::Promise<void> createGroupEnumerator(CreateGroupEnumeratorContext context) override {
        auto p = context.getParams();
        const IID iid = GetGuid(p.getIid());
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), scope = p.getScope(), iid, wants = p.getWants()](ObjectOut& out) {
                       IUnknown* e = nullptr;
                       out.hr = itf->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(scope), iid,
                                                           Wanted(wants, 0) ? &e : nullptr);
                       out.object = OutgoingObject::Adopt(e, iid);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                PutObjectResult(*conn, *out, context.getResults());
            });
    }
};

// ---- IOPCCommon ------------------------------------------------------------------------------

class OpcCommonProxy final : public ProxyOf<IOPCCommon, wire::OpcCommon> {
  public:
    using ProxyOf::ProxyOf;

    HRESULT SetLocaleID(LCID dwLcid) override {
        return Call([&](wire::OpcCommon::Client& cap) {
            auto request = cap.setLocaleIdRequest();
            request.setLcid(dwLcid);
            return request.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
        });
    }

    HRESULT GetLocaleID(LCID* pdwLcid) override {
        return Call([&](wire::OpcCommon::Client& cap) {
            auto request = cap.getLocaleIdRequest();
            request.setWants(Wants(pdwLcid));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwLcid != nullptr) {
                    *pdwLcid = r.getLcid();
                }
                return r.getHr();
            });
        });
    }

    HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
        if (pdwLcid != nullptr) {
            *pdwLcid = nullptr;
        }
        return Call([&](wire::OpcCommon::Client& cap) {
            auto request = cap.queryAvailableLocaleIdsRequest();
            request.setWants(Wants(pdwCount, pdwLcid));
            return request.send().then([&](auto&& r) -> HRESULT {
                const DWORD count = r.getCount();
                TaskBlock<LCID> lcids;
                const HRESULT decoded = TakeArray(r.hasLcids(), r.getLcids(), count, &lcids);
                if (FAILED(decoded)) {
                    return decoded;
                }
                if (pdwCount != nullptr) {
                    *pdwCount = count;
                }
                Hand(lcids, pdwLcid);
                return r.getHr();
            });
        });
    }

    HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        if (ppString != nullptr) {
            *ppString = nullptr;
        }
        return Call([&](wire::OpcCommon::Client& cap) {
            auto request = cap.getErrorStringRequest();
            request.setError(dwError);
            request.setWants(Wants(ppString));
            return request.send().then([&](auto&& r) -> HRESULT {
                HRESULT decoded = S_OK;
                if (ppString != nullptr) {
                    *ppString = TaskWide(r.hasText(), r.getText(), &decoded);
                }
                return FirstFailure(r.getHr(), decoded);
            });
        });
    }

    HRESULT SetClientName(LPCWSTR szName) override {
        return Call([&](wire::OpcCommon::Client& cap) {
            auto request = cap.setClientNameRequest();
            PutWide(szName, [&](unsigned n) { return request.initName(n); });
            return request.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
        });
    }
};

class OpcCommonStub final : public StubOf<wire::OpcCommon, IOPCCommon> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> setLocaleId(SetLocaleIdContext context) override {
        return Dispatch<HRESULT>(Conn(), [itf = Itf(), lcid = context.getParams().getLcid()](
                                             HRESULT& hr) { hr = itf->SetLocaleID(lcid); })
            .then([context](kj::Own<HRESULT> hr) mutable { context.getResults().setHr(*hr); });
    }

    kj::Promise<void> getLocaleId(GetLocaleIdContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            LCID lcid = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), wants = context.getParams().getWants()](Out& out) {
                                 out.hr = itf->GetLocaleID(Wanted(wants, 0) ? &out.lcid : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setLcid(out->lcid);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> queryAvailableLocaleIds(QueryAvailableLocaleIdsContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD count = 0;
            LCID* lcids = nullptr;
            ~Out() { CoTaskMemFree(lcids); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), wants = context.getParams().getWants()](Out& out) {
                                 out.hr = itf->QueryAvailableLocaleIDs(
                                     Wanted(wants, 0) ? &out.count : nullptr,
                                     Wanted(wants, 1) ? &out.lcids : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setCount(out->count);
                PutArray(out->lcids, out->count, [&](unsigned n) { return results.initLcids(n); });
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> getErrorString(GetErrorStringContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            LPWSTR text = nullptr;
            ~Out() { CoTaskMemFree(text); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), error = p.getError(), wants = p.getWants()](Out& out) {
                                 out.hr = itf->GetErrorString(
                                     error, Wanted(wants, 0) ? &out.text : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                PutWide(out->text, [&](unsigned n) { return results.initText(n); });
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> setClientName(SetClientNameContext context) override {
        auto p = context.getParams();
        return Dispatch<HRESULT>(Conn(),
                                 [itf = Itf(), name = WideArg(p.hasName(), p.getName())](
                                     HRESULT& hr) mutable { hr = itf->SetClientName(name.Get()); })
            .then([context](kj::Own<HRESULT> hr) mutable { context.getResults().setHr(*hr); });
    }
};

}  // namespace

InterfaceMarshaler UnknownMarshaler() {
    return InterfaceMarshaler{IID_IUnknown, nullptr,
                              [](std::shared_ptr<Connection> c, ComPtr<IUnknown> itf,
                                 std::uint64_t id) -> wire::Unknown::Client {
                                  return kj::heap<UnknownStub>(std::move(c), std::move(itf), id);
                              }};
}
InterfaceMarshaler ClassFactoryMarshaler() {
    return MarshalerOf<IClassFactory, ClassFactoryProxy, ClassFactoryStub>();
}
InterfaceMarshaler OpcServerMarshaler() {
    return MarshalerOf<IOPCServer, OpcServerProxy, OpcServerStub>();
}
InterfaceMarshaler OpcCommonMarshaler() {
    return MarshalerOf<IOPCCommon, OpcCommonProxy, OpcCommonStub>();
}

}  // namespace tgv::rpc
