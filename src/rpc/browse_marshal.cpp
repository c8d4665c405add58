// IOPCBrowseServerAddressSpace, IEnumString and IEnumUnknown across a connection.

#include "com/enum.h"
#include "opcda/opcda.h"
#include "rpc/enum_support.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// ---- IOPCBrowseServerAddressSpace ------------------------------------------------------------

class BrowseProxy final
    : public ProxyOf<IOPCBrowseServerAddressSpace, wire::OpcBrowseServerAddressSpace> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcBrowseServerAddressSpace::Client;

    HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        return Call([&](Cap& cap) {
            auto request = cap.queryOrganizationRequest();
            request.setWants(Wants(pNameSpaceType));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pNameSpaceType != nullptr) {
                    *pNameSpaceType = static_cast<OPCNAMESPACETYPE>(r.getNameSpaceType());
                }
                return r.getHr();
            });
        });
    }

    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
        return Call([&](Cap& cap) {
            auto request = cap.changeBrowsePositionRequest();
            request.setDirection(dwBrowseDirection);
            PutWide(szString, [&](unsigned n) { return request.initName(n); });
            return SendForHr(request);
        });
    }

    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                             LPENUMSTRING* ppIEnumString) override {
        if (ppIEnumString != nullptr) {
            *ppIEnumString = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.browseOpcItemIdsRequest();
            request.setFilterType(dwBrowseFilterType);
            PutWide(szFilterCriteria, [&](unsigned n) { return request.initCriteria(n); });
            request.setDataTypeFilter(vtDataTypeFilter);
            request.setAccessRightsFilter(dwAccessRightsFilter);
            request.setWants(Wants(ppIEnumString));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeEnum(r, ppIEnumString); });
        });
    }

    HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        if (szItemID != nullptr) {
            *szItemID = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.getItemIdRequest();
            PutWide(szItemDataID, [&](unsigned n) { return request.initItemDataId(n); });
            request.setWants(Wants(szItemID));
            return request.send().then([&](auto&& r) -> HRESULT {
                HRESULT decoded = S_OK;
                if (szItemID != nullptr) {
                    *szItemID = TaskWide(r.hasItemId(), r.getItemId(), &decoded);
                }
                return FirstFailure(r.getHr(), decoded);
            });
        });
    }

    HRESULT BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override {
        if (ppIEnumString != nullptr) {
            *ppIEnumString = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.browseAccessPathsRequest();
            PutWide(szItemID, [&](unsigned n) { return request.initItemId(n); });
            request.setWants(Wants(ppIEnumString));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeEnum(r, ppIEnumString); });
        });
    }

  private:
    template <class Response>
    HRESULT TakeEnum(Response& r, LPENUMSTRING* out) {
        return TakeObject(Conn(), r.getHr(), r.getEnum(), IID_IEnumString, out);
    }
};

class BrowseStub final
    : public StubOf<wire::OpcBrowseServerAddressSpace, IOPCBrowseServerAddressSpace> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> queryOrganization(QueryOrganizationContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            OPCNAMESPACETYPE type = OPC_NS_HIERARCHIAL;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), wants = context.getParams().getWants()](Out& out) {
                                 out.hr =
                                     itf->QueryOrganization(Wanted(wants, 0) ? &out.type : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setNameSpaceType(out->type);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> changeBrowsePosition(ChangeBrowsePositionContext context) override {
        auto p = context.getParams();
        return AnswerHr(Conn(), context,
                        [itf = Itf(), direction = p.getDirection(),
                         name = WideArg(p.hasName(), p.getName())](HRESULT& hr) mutable {
                            hr = itf->ChangeBrowsePosition(
                                static_cast<OPCBROWSEDIRECTION>(direction), name.Get());
                        });
    }

    kj::Promise<void> browseOpcItemIds(BrowseOpcItemIdsContext context) override {
        auto p = context.getParams();
        return Dispatch<ObjectOut>(Conn(),
                                   [itf = Itf(), type = p.getFilterType(),
                                    criteria = WideArg(p.hasCriteria(), p.getCriteria()),
                                    vt = p.getDataTypeFilter(), rights = p.getAccessRightsFilter(),
                                    wants = p.getWants()](ObjectOut& out) mutable {
                                       IEnumString* e = nullptr;
                                       out.hr = itf->BrowseOPCItemIDs(
                                           static_cast<OPCBROWSETYPE>(type), criteria.Get(), vt,
                                           rights, Wanted(wants, 0) ? &e : nullptr);
                                       out.object = OutgoingObject::Adopt(e, IID_IEnumString);
                                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }

    kj::Promise<void> getItemId(GetItemIdContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            LPWSTR id = nullptr;
            ~Out() { CoTaskMemFree(id); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), name = WideArg(p.hasItemDataId(), p.getItemDataId()),
                              wants = p.getWants()](Out& out) mutable {
                                 out.hr = itf->GetItemID(name.Get(),
                                                         Wanted(wants, 0) ? &out.id : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                PutWide(out->id, [&](unsigned n) { return results.initItemId(n); });
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> browseAccessPaths(BrowseAccessPathsContext context) override {
        auto p = context.getParams();
        return Dispatch<ObjectOut>(Conn(),
                                   [itf = Itf(), id = WideArg(p.hasItemId(), p.getItemId()),
                                    wants = p.getWants()](ObjectOut& out) mutable {
                                       IEnumString* e = nullptr;
                                       out.hr = itf->BrowseAccessPaths(
                                           id.Get(), Wanted(wants, 0) ? &e : nullptr);
                                       out.object = OutgoingObject::Adopt(e, IID_IEnumString);
                                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }
};

// ---- IEnumString -----------------------------------------------------------------------------

class EnumStringProxy final : public EnumProxyBase<IEnumString, wire::EnumString> {
  public:
    using EnumProxyBase::EnumProxyBase;

    HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        if (pceltFetched != nullptr) {
            *pceltFetched = 0;
        }
        return Call([&](wire::EnumString::Client& cap) {
            auto request = cap.nextRequest();
            request.setCount(celt);
            request.setWants(Wants(rgelt, pceltFetched));
            return request.send().then([&](auto&& r) -> HRESULT {
                auto items = r.getItems();
                if (items.size() > celt || (items.size() > 0 && rgelt == nullptr)) {
                    return RPC_E_INVALID_DATA;
                }
                std::vector<TaskBlock<OLECHAR>> names(items.size());
                for (unsigned i = 0; i < items.size(); ++i) {
                    HRESULT decoded = S_OK;
                    *names[i].Put() = TaskWide(items[i].hasText(), items[i].getText(), &decoded);
                    if (FAILED(decoded)) {
                        return decoded;
                    }
                }
                for (unsigned i = 0; i < items.size(); ++i) {
                    rgelt[i] = names[i].Release();
                }
                if (pceltFetched != nullptr) {
                    *pceltFetched = items.size();
                }
                return r.getHr();
            });
        });
    }
};

class EnumStringStub final : public EnumStubBase<wire::EnumString, IEnumString> {
  public:
    using EnumStubBase::EnumStubBase;

    kj::Promise<void> next(NextContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            std::vector<LPOLESTR> names;
            ~Out() {
                for (LPOLESTR n : names) {
                    CoTaskMemFree(n);
                }
            }
        };
        return Dispatch<Out>(
                   Conn(),
                   [itf = Itf(), celt = p.getCount(), wants = p.getWants()](Out& out) {
                       out.hr = ChunkedNext<LPOLESTR>(
                           celt, Wanted(wants, 0), Wanted(wants, 1),
                           [&](ULONG n, LPOLESTR* a, ULONG* f) { return itf->Next(n, a, f); },
                           [](LPOLESTR& s) { CoTaskMemFree(s); }, out.names);
                   })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                auto items = results.initItems(static_cast<unsigned>(out->names.size()));
                for (unsigned i = 0; i < items.size(); ++i) {
                    PutWide(out->names[i], [&](unsigned n) { return items[i].initText(n); });
                }
                results.setFetched(items.size());
                results.setHr(out->hr);
            });
    }
};

// ---- IEnumUnknown ----------------------------------------------------------------------------

class EnumUnknownProxy final : public EnumProxyBase<IEnumUnknown, wire::EnumUnknown> {
  public:
    using EnumProxyBase::EnumProxyBase;

    HRESULT Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override {
        if (pceltFetched != nullptr) {
            *pceltFetched = 0;
        }
        return Call([&](wire::EnumUnknown::Client& cap) {
            auto request = cap.nextRequest();
            request.setCount(celt);
            request.setWants(Wants(rgelt, pceltFetched));
            return request.send().then([&](auto&& r) -> HRESULT {
                auto items = r.getItems();
                if (items.size() > celt || (items.size() > 0 && rgelt == nullptr)) {
                    return RPC_E_INVALID_DATA;
                }
                std::vector<ComPtr<IUnknown>> objects(items.size());
                for (unsigned i = 0; i < items.size(); ++i) {
                    const HRESULT imported =
                        ImportObject(Conn(), items[i], IID_IUnknown, objects[i].Put());
                    if (FAILED(imported)) {
                        return imported;
                    }
                }
                for (unsigned i = 0; i < items.size(); ++i) {
                    rgelt[i] = objects[i].Detach();
                }
                if (pceltFetched != nullptr) {
                    *pceltFetched = items.size();
                }
                return r.getHr();
            });
        });
    }
};

class EnumUnknownStub final : public EnumStubBase<wire::EnumUnknown, IEnumUnknown> {
  public:
    using EnumStubBase::EnumStubBase;

    kj::Promise<void> next(NextContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            std::vector<IUnknown*> got;
            std::vector<OutgoingObject> objects;
        };
        return Dispatch<Out>(
                   Conn(),
                   [itf = Itf(), celt = p.getCount(), wants = p.getWants()](Out& out) {
                       out.hr = ChunkedNext<IUnknown*>(
                           celt, Wanted(wants, 0), Wanted(wants, 1),
                           [&](ULONG n, IUnknown** a, ULONG* f) { return itf->Next(n, a, f); },
                           [](IUnknown*& u) { u->Release(); }, out.got);
                       for (IUnknown* u : out.got) {
                           out.objects.push_back(OutgoingObject::Adopt(u, IID_IUnknown));
                       }
                       out.got.clear();
                   })
            .then([conn = SharedConn(), context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                auto items = results.initItems(static_cast<unsigned>(out->objects.size()));
                HRESULT hr = out->hr;
                for (unsigned i = 0; i < items.size(); ++i) {
                    const HRESULT sent = ExportObject(*conn, std::move(out->objects[i]), items[i]);
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

InterfaceMarshaler BrowseMarshaler() {
    return MarshalerOf<IOPCBrowseServerAddressSpace, BrowseProxy, BrowseStub>();
}
InterfaceMarshaler EnumStringMarshaler() {
    return MarshalerOf<IEnumString, EnumStringProxy, EnumStringStub>();
}
InterfaceMarshaler EnumUnknownMarshaler() {
    return MarshalerOf<IEnumUnknown, EnumUnknownProxy, EnumUnknownStub>();
}

}  // namespace tgv::rpc
