// IOPCGroupStateMgt, IOPCItemMgt and IEnumOPCItemAttributes across a connection.

#include "opcda/opcda.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// ---- Blobs and item structures ---------------------------------------------------------------

template <class Init>
void PutBlob(const BYTE* blob, DWORD size, Init&& init) {
    if (blob != nullptr) {
        auto data = init(size);
        std::memcpy(data.begin(), blob, size);
    }
}

// A task-allocator copy of a blob; null when absent. RPC_E_INVALID_DATA when its length is not
// the size that goes with it.
HRESULT TakeBlob(bool present, capnp::Data::Reader data, DWORD size, BYTE** out) {
    *out = nullptr;
    if (!present) {
        return S_OK;
    }
    if (data.size() != size) {
        return RPC_E_INVALID_DATA;
    }
    TaskBlock<BYTE> blob;
    if (!blob.Allocate(size)) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(blob.Get(), data.begin(), size);
    *out = blob.Release();
    return S_OK;
}

void PutItemDefs(const OPCITEMDEF* defs, DWORD count, capnp::List<wire::ItemDef>::Builder out) {
    for (DWORD i = 0; i < count; ++i) {
        const OPCITEMDEF& d = defs[i];
        auto w = out[i];
        PutWide(d.szAccessPath, [&](unsigned n) { return w.initAccessPath(n); });
        PutWide(d.szItemID, [&](unsigned n) { return w.initItemId(n); });
        w.setActive(d.bActive);
        w.setClient(d.hClient);
        w.setBlobSize(d.dwBlobSize);
        PutBlob(d.pBlob, d.dwBlobSize, [&](unsigned n) { return w.initBlob(n); });
        w.setRequestedDataType(d.vtRequestedDataType);
        w.setReserved(d.wReserved);
    }
}

// The item definitions of a call as the callee sees them, with their strings and blobs.
class ItemDefsArg {
  public:
    HRESULT Read(bool present, capnp::List<wire::ItemDef>::Reader list, DWORD count) {
        present_ = present;
        if (!present) {
            return S_OK;
        }
        if (list.size() != count) {
            return RPC_E_INVALID_DATA;
        }
        const unsigned n = list.size();
        paths_.resize(n);
        ids_.resize(n);
        blobs_.resize(n);
        defs_.resize(n);
        for (unsigned i = 0; i < n; ++i) {
            auto w = list[i];
            paths_[i] = WideArg(w.hasAccessPath(), w.getAccessPath());
            ids_[i] = WideArg(w.hasItemId(), w.getItemId());
            if (w.hasBlob()) {
                auto data = w.getBlob();
                if (data.size() != w.getBlobSize()) {
                    return RPC_E_INVALID_DATA;
                }
                blobs_[i].assign(data.begin(), data.end());
            }
            OPCITEMDEF& d = defs_[i];
            d.bActive = w.getActive();
            d.hClient = w.getClient();
            d.dwBlobSize = w.getBlobSize();
            d.vtRequestedDataType = w.getRequestedDataType();
            d.wReserved = w.getReserved();
            hasBlob_.push_back(w.hasBlob());
        }
        return S_OK;
    }
    // Points the definitions at the copies; call after the holder has its final address.
    OPCITEMDEF* Get() {
        if (!present_) {
            return nullptr;
        }
        for (std::size_t i = 0; i < defs_.size(); ++i) {
            defs_[i].szAccessPath = paths_[i].Get();
            defs_[i].szItemID = ids_[i].Get();
            defs_[i].pBlob = hasBlob_[i] ? blobs_[i].data() : nullptr;
        }
        return defs_.empty() ? &empty_ : defs_.data();
    }

  private:
    bool present_ = false;
    std::vector<WideArg> paths_;
    std::vector<WideArg> ids_;
    std::vector<std::vector<BYTE>> blobs_;
    std::vector<bool> hasBlob_;
    std::vector<OPCITEMDEF> defs_;
    OPCITEMDEF empty_{};
};

// The result array of AddItems or ValidateItems, as the callee allocated it.
struct ItemResultsOut {
    HRESULT hr = E_FAIL;
    DWORD count = 0;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ItemResultsOut() = default;
    ItemResultsOut(const ItemResultsOut&) = delete;
    ItemResultsOut& operator=(const ItemResultsOut&) = delete;
    ~ItemResultsOut() {
        if (results != nullptr) {
            for (DWORD i = 0; i < count; ++i) {
                CoTaskMemFree(results[i].pBlob);
            }
        }
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
};

template <class Results>
void PutItemResults(ItemResultsOut& out, Results results) {
    if (out.results != nullptr) {
        auto list = results.initResults(out.count);
        for (DWORD i = 0; i < out.count; ++i) {
            const OPCITEMRESULT& r = out.results[i];
            auto w = list[i];
            w.setServer(r.hServer);
            w.setCanonicalDataType(r.vtCanonicalDataType);
            w.setReserved(r.wReserved);
            w.setAccessRights(r.dwAccessRights);
            w.setBlobSize(r.dwBlobSize);
            PutBlob(r.pBlob, r.dwBlobSize, [&](unsigned n) { return w.initBlob(n); });
        }
    }
    PutErrors(out.errors, out.count, [&](unsigned n) { return results.initErrors(n); });
    results.setHr(out.hr);
}

// Frees an OPCITEMRESULT array with its blobs.
void FreeItemResults(OPCITEMRESULT* results, DWORD count) {
    if (results == nullptr) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
}

template <class Response>
HRESULT TakeItemResults(Response& r, DWORD count, OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
    TaskBlock<HRESULT> errors;
    HRESULT decoded = TakeArray(r.hasErrors(), r.getErrors(), count, &errors);
    if (FAILED(decoded)) {
        return decoded;
    }
    OPCITEMRESULT* results = nullptr;
    if (r.hasResults()) {
        auto list = r.getResults();
        if (list.size() != count) {
            return RPC_E_INVALID_DATA;
        }
        TaskBlock<OPCITEMRESULT> block;
        if (!block.Allocate(count)) {
            return E_OUTOFMEMORY;
        }
        // The blobs taken so far go with the block on a failure or when the reader throws.
        auto guard = kj::defer([&] { FreeItemResults(block.Release(), count); });
        for (DWORD i = 0; i < count; ++i) {
            auto w = list[i];
            OPCITEMRESULT& res = block[i];
            res.hServer = w.getServer();
            res.vtCanonicalDataType = w.getCanonicalDataType();
            res.wReserved = w.getReserved();
            res.dwAccessRights = w.getAccessRights();
            res.dwBlobSize = w.getBlobSize();
            decoded = TakeBlob(w.hasBlob(), w.getBlob(), w.getBlobSize(), &res.pBlob);
            if (FAILED(decoded)) {
                return decoded;
            }
        }
        results = block.Release();
    }
    auto resultsGuard = kj::defer([&] { FreeItemResults(results, count); });
    if (ppResults != nullptr) {
        *ppResults = std::exchange(results, nullptr);
    }
    Hand(errors, ppErrors);
    return r.getHr();
}

// ---- IOPCGroupStateMgt -----------------------------------------------------------------------

class GroupStateProxy final : public ProxyOf<IOPCGroupStateMgt, wire::OpcGroupStateMgt> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcGroupStateMgt::Client;

    HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                     FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                     OPCHANDLE* phServerGroup) override {
        if (ppName != nullptr) {
            *ppName = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.getStateRequest();
            request.setWants(Wants(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband, pLCID,
                                   phClientGroup, phServerGroup));
            return request.send().then([&](auto&& r) -> HRESULT {
                HRESULT decoded = S_OK;
                LPWSTR name = TaskWide(r.hasName(), r.getName(), &decoded);
                if (FAILED(decoded)) {
                    return decoded;
                }
                if (ppName != nullptr) {
                    *ppName = name;
                } else {
                    CoTaskMemFree(name);
                }
                if (pUpdateRate != nullptr) {
                    *pUpdateRate = r.getUpdateRate();
                }
                if (pActive != nullptr) {
                    *pActive = r.getActive();
                }
                if (pTimeBias != nullptr) {
                    *pTimeBias = r.getTimeBias();
                }
                if (pPercentDeadband != nullptr) {
                    *pPercentDeadband = r.getPercentDeadband();
                }
                if (pLCID != nullptr) {
                    *pLCID = r.getLcid();
                }
                if (phClientGroup != nullptr) {
                    *phClientGroup = r.getClientGroup();
                }
                if (phServerGroup != nullptr) {
                    *phServerGroup = r.getServerGroup();
                }
                return r.getHr();
            });
        });
    }

    HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                     LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                     OPCHANDLE* phClientGroup) override {
        return Call([&](Cap& cap) {
            auto request = cap.setStateRequest();
            if (pRequestedUpdateRate != nullptr) {
                request.setRequestedUpdateRate(*pRequestedUpdateRate);
                request.setHasRequestedUpdateRate(true);
            }
            if (pActive != nullptr) {
                request.setActive(*pActive);
                request.setHasActive(true);
            }
            if (pTimeBias != nullptr) {
                request.setTimeBias(*pTimeBias);
                request.setHasTimeBias(true);
            }
            if (pPercentDeadband != nullptr) {
                request.setPercentDeadband(*pPercentDeadband);
                request.setHasPercentDeadband(true);
            }
            if (pLCID != nullptr) {
                request.setLcid(*pLCID);
                request.setHasLcid(true);
            }
            if (phClientGroup != nullptr) {
                request.setClientGroup(*phClientGroup);
                request.setHasClientGroup(true);
            }
            request.setWants(Wants(pRevisedUpdateRate));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pRevisedUpdateRate != nullptr) {
                    *pRevisedUpdateRate = r.getRevisedUpdateRate();
                }
                return r.getHr();
            });
        });
    }

    HRESULT SetName(LPCWSTR szName) override {
        return Call([&](Cap& cap) {
            auto request = cap.setNameRequest();
            PutWide(szName, [&](unsigned n) { return request.initName(n); });
            return SendForHr(request);
        });
    }

    HRESULT CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (ppUnk != nullptr) {
            *ppUnk = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.cloneGroupRequest();
            PutWide(szName, [&](unsigned n) { return request.initName(n); });
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(ppUnk));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, ppUnk);
            });
        });
    }
};

class GroupStateStub final : public StubOf<wire::OpcGroupStateMgt, IOPCGroupStateMgt> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> getState(GetStateContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD rate = 0;
            BOOL active = FALSE;
            LPWSTR name = nullptr;
            LONG timeBias = 0;
            FLOAT deadband = 0;
            DWORD lcid = 0;
            OPCHANDLE client = 0;
            OPCHANDLE server = 0;
            ~Out() { CoTaskMemFree(name); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), w = context.getParams().getWants()](Out& out) {
                                 out.hr = itf->GetState(Wanted(w, 0) ? &out.rate : nullptr,
                                                        Wanted(w, 1) ? &out.active : nullptr,
                                                        Wanted(w, 2) ? &out.name : nullptr,
                                                        Wanted(w, 3) ? &out.timeBias : nullptr,
                                                        Wanted(w, 4) ? &out.deadband : nullptr,
                                                        Wanted(w, 5) ? &out.lcid : nullptr,
                                                        Wanted(w, 6) ? &out.client : nullptr,
                                                        Wanted(w, 7) ? &out.server : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setUpdateRate(out->rate);
                results.setActive(out->active);
                PutWide(out->name, [&](unsigned n) { return results.initName(n); });
                results.setTimeBias(out->timeBias);
                results.setPercentDeadband(out->deadband);
                results.setLcid(out->lcid);
                results.setClientGroup(out->client);
                results.setServerGroup(out->server);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> setState(SetStateContext context) override {
        auto p = context.getParams();
        struct Args {
            DWORD rate;
            bool hasRate;
            BOOL active;
            bool hasActive;
            LONG timeBias;
            bool hasTimeBias;
            FLOAT deadband;
            bool hasDeadband;
            DWORD lcid;
            bool hasLcid;
            OPCHANDLE client;
            bool hasClient;
            std::uint32_t wants;
        };
        Args a{p.getRequestedUpdateRate(),
               p.getHasRequestedUpdateRate(),
               p.getActive(),
               p.getHasActive(),
               p.getTimeBias(),
               p.getHasTimeBias(),
               p.getPercentDeadband(),
               p.getHasPercentDeadband(),
               p.getLcid(),
               p.getHasLcid(),
               p.getClientGroup(),
               p.getHasClientGroup(),
               p.getWants()};
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD revised = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), a](Out& out) mutable {
                                 out.hr = itf->SetState(a.hasRate ? &a.rate : nullptr,
                                                        Wanted(a.wants, 0) ? &out.revised : nullptr,
                                                        a.hasActive ? &a.active : nullptr,
                                                        a.hasTimeBias ? &a.timeBias : nullptr,
                                                        a.hasDeadband ? &a.deadband : nullptr,
                                                        a.hasLcid ? &a.lcid : nullptr,
                                                        a.hasClient ? &a.client : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setRevisedUpdateRate(out->revised);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> setName(SetNameContext context) override {
        auto p = context.getParams();
        return AnswerHr(Conn(), context,
                        [itf = Itf(), name = WideArg(p.hasName(), p.getName())](
                            HRESULT& hr) mutable { hr = itf->SetName(name.Get()); });
    }

    kj::Promise<void> cloneGroup(CloneGroupContext context) override {
        auto p = context.getParams();
        const IID iid = GetGuid(p.getIid());
        return Dispatch<ObjectOut>(Conn(),
                                   [itf = Itf(), name = WideArg(p.hasName(), p.getName()), iid,
                                    wants = p.getWants()](ObjectOut& out) mutable {
                                       IUnknown* group = nullptr;
                                       out.hr = itf->CloneGroup(
                                           name.Get(), iid, Wanted(wants, 0) ? &group : nullptr);
                                       out.object = OutgoingObject::Adopt(group, iid);
                                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initObject(); }));
            });
    }
};

// ---- IOPCItemMgt -----------------------------------------------------------------------------

class ItemMgtProxy final : public ProxyOf<IOPCItemMgt, wire::OpcItemMgt> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcItemMgt::Client;

    HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                     HRESULT** ppErrors) override {
        Clear(ppAddResults, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.addItemsRequest();
            request.setCount(dwCount);
            if (pItemArray != nullptr) {
                PutItemDefs(pItemArray, dwCount, request.initItems(dwCount));
            }
            request.setWants(Wants(ppAddResults, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeItemResults(r, dwCount, ppAddResults, ppErrors);
            });
        });
    }

    HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                          OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override {
        Clear(ppValidationResults, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.validateItemsRequest();
            request.setCount(dwCount);
            if (pItemArray != nullptr) {
                PutItemDefs(pItemArray, dwCount, request.initItems(dwCount));
            }
            request.setBlobUpdate(bBlobUpdate);
            request.setWants(Wants(ppValidationResults, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeItemResults(r, dwCount, ppValidationResults, ppErrors);
            });
        });
    }

    HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override {
        Clear(nullptr, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.removeItemsRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            request.setWants(Wants(ppErrors));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeErrors(r, dwCount, ppErrors); });
        });
    }

    HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                           HRESULT** ppErrors) override {
        Clear(nullptr, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.setActiveStateRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            request.setActive(bActive);
            request.setWants(Wants(ppErrors));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeErrors(r, dwCount, ppErrors); });
        });
    }

    HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                             HRESULT** ppErrors) override {
        Clear(nullptr, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.setClientHandlesRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            PutArray(phClient, dwCount, [&](unsigned n) { return request.initClientHandles(n); });
            request.setWants(Wants(ppErrors));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeErrors(r, dwCount, ppErrors); });
        });
    }

    HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                         HRESULT** ppErrors) override {
        Clear(nullptr, ppErrors);
        return Call([&](Cap& cap) {
            auto request = cap.setDatatypesRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            PutArray(pRequestedDatatypes, dwCount,
                     [&](unsigned n) { return request.initRequestedDatatypes(n); });
            request.setWants(Wants(ppErrors));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeErrors(r, dwCount, ppErrors); });
        });
    }

    HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override {
        if (ppUnk != nullptr) {
            *ppUnk = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.createEnumeratorRequest();
            PutGuid(request.initIid(), riid);
            request.setWants(Wants(ppUnk));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getObject(), riid, ppUnk);
            });
        });
    }

  private:
    static void Clear(OPCITEMRESULT** results, HRESULT** errors) {
        if (results != nullptr) {
            *results = nullptr;
        }
        if (errors != nullptr) {
            *errors = nullptr;
        }
    }
    template <class Response>
    static HRESULT TakeErrors(Response& r, DWORD count, HRESULT** ppErrors) {
        TaskBlock<HRESULT> errors;
        const HRESULT decoded = TakeArray(r.hasErrors(), r.getErrors(), count, &errors);
        if (FAILED(decoded)) {
            return decoded;
        }
        Hand(errors, ppErrors);
        return r.getHr();
    }
};

class ItemMgtStub final : public StubOf<wire::OpcItemMgt, IOPCItemMgt> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> addItems(AddItemsContext context) override {
        auto p = context.getParams();
        auto defs = kj::heap<ItemDefsArg>();
        const HRESULT read = defs->Read(p.hasItems(), p.getItems(), p.getCount());
        if (FAILED(read)) {
            context.getResults().setHr(read);
            return kj::READY_NOW;
        }
        return Dispatch<ItemResultsOut>(Conn(),
                                        [itf = Itf(), defs = kj::mv(defs), count = p.getCount(),
                                         w = p.getWants()](ItemResultsOut& out) mutable {
                                            out.count = count;
                                            out.hr =
                                                itf->AddItems(count, defs->Get(),
                                                              Wanted(w, 0) ? &out.results : nullptr,
                                                              Wanted(w, 1) ? &out.errors : nullptr);
                                        })
            .then([context](kj::Own<ItemResultsOut> out) mutable {
                PutItemResults(*out, context.getResults());
            });
    }

    kj::Promise<void> validateItems(ValidateItemsContext context) override {
        auto p = context.getParams();
        auto defs = kj::heap<ItemDefsArg>();
        const HRESULT read = defs->Read(p.hasItems(), p.getItems(), p.getCount());
        if (FAILED(read)) {
            context.getResults().setHr(read);
            return kj::READY_NOW;
        }
        return Dispatch<ItemResultsOut>(
                   Conn(),
                   [itf = Itf(), defs = kj::mv(defs), count = p.getCount(),
                    blob = p.getBlobUpdate(), w = p.getWants()](ItemResultsOut& out) mutable {
                       out.count = count;
                       out.hr = itf->ValidateItems(count, defs->Get(), blob,
                                                   Wanted(w, 0) ? &out.results : nullptr,
                                                   Wanted(w, 1) ? &out.errors : nullptr);
                   })
            .then([context](kj::Own<ItemResultsOut> out) mutable {
                PutItemResults(*out, context.getResults());
            });
    }

    kj::Promise<void> removeItems(RemoveItemsContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        const HRESULT read = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        return ErrorsCall(context, read,
                          [itf = Itf(), handles = std::move(handles), count = p.getCount(),
                           w = p.getWants()](ErrorsOut& out) mutable {
                              out.hr = itf->RemoveItems(count, handles.Get(),
                                                        Wanted(w, 0) ? &out.errors : nullptr);
                          });
    }

    kj::Promise<void> setActiveState(SetActiveStateContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        const HRESULT read = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        return ErrorsCall(context, read,
                          [itf = Itf(), handles = std::move(handles), count = p.getCount(),
                           active = p.getActive(), w = p.getWants()](ErrorsOut& out) mutable {
                              out.hr = itf->SetActiveState(count, handles.Get(), active,
                                                           Wanted(w, 0) ? &out.errors : nullptr);
                          });
    }

    kj::Promise<void> setClientHandles(SetClientHandlesContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        ArrayArg<OPCHANDLE> clients;
        HRESULT read = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        read = FirstFailure(read,
                            clients.Read(p.hasClientHandles(), p.getClientHandles(), p.getCount()));
        return ErrorsCall(context, read,
                          [itf = Itf(), handles = std::move(handles), clients = std::move(clients),
                           count = p.getCount(), w = p.getWants()](ErrorsOut& out) mutable {
                              out.hr = itf->SetClientHandles(count, handles.Get(), clients.Get(),
                                                             Wanted(w, 0) ? &out.errors : nullptr);
                          });
    }

    kj::Promise<void> setDatatypes(SetDatatypesContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        ArrayArg<VARTYPE> types;
        HRESULT read = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        read = FirstFailure(
            read, types.Read(p.hasRequestedDatatypes(), p.getRequestedDatatypes(), p.getCount()));
        return ErrorsCall(context, read,
                          [itf = Itf(), handles = std::move(handles), types = std::move(types),
                           count = p.getCount(), w = p.getWants()](ErrorsOut& out) mutable {
                              out.hr = itf->SetDatatypes(count, handles.Get(), types.Get(),
                                                         Wanted(w, 0) ? &out.errors : nullptr);
                          });
    }

    kj::Promise<void> createEnumerator(CreateEnumeratorContext context) override {
        auto p = context.getParams();
        const IID iid = GetGuid(p.getIid());
        return Dispatch<ObjectOut>(Conn(),
                                   [itf = Itf(), iid, wants = p.getWants()](ObjectOut& out) {
                                       IUnknown* e = nullptr;
                                       out.hr = itf->CreateEnumerator(
                                           iid, Wanted(wants, 0) ? &e : nullptr);
                                       out.object = OutgoingObject::Adopt(e, iid);
                                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initObject(); }));
            });
    }

  private:
    // A call answering with an error array of the call's count entries.
    template <class Context, class Fn>
    kj::Promise<void> ErrorsCall(Context context, HRESULT read, Fn&& fn) {
        if (FAILED(read)) {
            context.getResults().setHr(read);
            return kj::READY_NOW;
        }
        const DWORD count = context.getParams().getCount();
        return Dispatch<ErrorsOut>(Conn(), std::forward<Fn>(fn))
            .then([context, count](kj::Own<ErrorsOut> out) mutable {
                auto results = context.getResults();
                PutErrors(out->errors, count, [&](unsigned n) { return results.initErrors(n); });
                results.setHr(out->hr);
            });
    }
};

// ---- IEnumOPCItemAttributes ------------------------------------------------------------------

void FreeAttributes(OPCITEMATTRIBUTES* items, ULONG count) {
    if (items == nullptr) {
        return;
    }
    for (ULONG i = 0; i < count; ++i) {
        CoTaskMemFree(items[i].szAccessPath);
        CoTaskMemFree(items[i].szItemID);
        CoTaskMemFree(items[i].pBlob);
        VariantClear(&items[i].vEUInfo);
    }
    CoTaskMemFree(items);
}

class EnumItemAttributesProxy final
    : public ProxyOf<IEnumOPCItemAttributes, wire::EnumOpcItemAttributes> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::EnumOpcItemAttributes::Client;

    HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
        if (ppItemArray != nullptr) {
            *ppItemArray = nullptr;
        }
        if (pceltFetched != nullptr) {
            *pceltFetched = 0;
        }
        return Call([&](Cap& cap) {
            auto request = cap.nextRequest();
            request.setCount(celt);
            request.setWants(Wants(ppItemArray, pceltFetched));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (!r.hasItems()) {
                    return r.getHr();
                }
                auto list = r.getItems();
                const ULONG n = list.size();
                if (n > celt) {
                    return RPC_E_INVALID_DATA;
                }
                TaskBlock<OPCITEMATTRIBUTES> block;
                if (!block.Allocate(n)) {
                    return E_OUTOFMEMORY;
                }
                // What is taken so far goes with the block on a failure or when the reader
                // throws at damaged data.
                auto guard = kj::defer([&] { FreeAttributes(block.Release(), n); });
                HRESULT decoded = S_OK;
                for (ULONG i = 0; i < n && SUCCEEDED(decoded); ++i) {
                    auto w = list[i];
                    OPCITEMATTRIBUTES& a = block[i];
                    VariantInit(&a.vEUInfo);
                    a.szAccessPath = TaskWide(w.hasAccessPath(), w.getAccessPath(), &decoded);
                    a.szItemID = TaskWide(w.hasItemId(), w.getItemId(), &decoded);
                    a.bActive = w.getActive();
                    a.hClient = w.getClient();
                    a.hServer = w.getServer();
                    a.dwAccessRights = w.getAccessRights();
                    a.dwBlobSize = w.getBlobSize();
                    a.vtRequestedDataType = w.getRequestedDataType();
                    a.vtCanonicalDataType = w.getCanonicalDataType();
                    a.dwEUType = static_cast<OPCEUTYPE>(w.getEuType());
                    decoded = FirstFailure(
                        decoded, TakeBlob(w.hasBlob(), w.getBlob(), w.getBlobSize(), &a.pBlob));
                    if (SUCCEEDED(decoded)) {
                        decoded = DecodeVariant(w.getEuInfo(), &a.vEUInfo);
                    }
                }
                if (FAILED(decoded)) {
                    return decoded;
                }
                if (ppItemArray != nullptr) {
                    *ppItemArray = block.Release();
                }
                if (pceltFetched != nullptr) {
                    *pceltFetched = n;
                }
                return r.getHr();
            });
        });
    }

    HRESULT Skip(ULONG celt) override {
        return Call([&](Cap& cap) {
            auto request = cap.skipRequest();
            request.setCount(celt);
            return SendForHr(request);
        });
    }

    HRESULT Reset() override {
        return Call([&](Cap& cap) {
            auto request = cap.resetRequest();
            return SendForHr(request);
        });
    }

    HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override {
        if (ppEnumItemAttributes != nullptr) {
            *ppEnumItemAttributes = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.cloneRequest();
            request.setWants(Wants(ppEnumItemAttributes));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(Conn(), r.getHr(), r.getEnum(), IID_IEnumOPCItemAttributes,
                                  ppEnumItemAttributes);
            });
        });
    }
};

class EnumItemAttributesStub final
    : public StubOf<wire::EnumOpcItemAttributes, IEnumOPCItemAttributes> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> next(NextContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            OPCITEMATTRIBUTES* items = nullptr;
            ULONG fetched = 0;
            ~Out() { FreeAttributes(items, fetched); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), celt = p.getCount(), w = p.getWants()](Out& out) {
                                 // The fetched count is always taken, so that the array can be
                                 // freed whatever the caller asked for.
                                 out.hr = itf->Next(celt, Wanted(w, 0) ? &out.items : nullptr,
                                                    &out.fetched);
                                 if (out.items == nullptr) {
                                     out.fetched = 0;
                                 }
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                if (out->items != nullptr) {
                    auto list = results.initItems(out->fetched);
                    for (ULONG i = 0; i < out->fetched; ++i) {
                        const OPCITEMATTRIBUTES& a = out->items[i];
                        auto w = list[i];
                        PutWide(a.szAccessPath, [&](unsigned n) { return w.initAccessPath(n); });
                        PutWide(a.szItemID, [&](unsigned n) { return w.initItemId(n); });
                        w.setActive(a.bActive);
                        w.setClient(a.hClient);
                        w.setServer(a.hServer);
                        w.setAccessRights(a.dwAccessRights);
                        w.setBlobSize(a.dwBlobSize);
                        PutBlob(a.pBlob, a.dwBlobSize, [&](unsigned n) { return w.initBlob(n); });
                        w.setRequestedDataType(a.vtRequestedDataType);
                        w.setCanonicalDataType(a.vtCanonicalDataType);
                        w.setEuType(a.dwEUType);
                        KJ_REQUIRE(SUCCEEDED(EncodeVariant(a.vEUInfo, w.initEuInfo())),
                                   "an item's EU information cannot cross");
                    }
                }
                results.setFetched(out->fetched);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> skip(SkipContext context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), count = context.getParams().getCount()](HRESULT& hr) {
                            hr = itf->Skip(count);
                        });
    }

    kj::Promise<void> reset(ResetContext context) override {
        return AnswerHr(Conn(), context, [itf = Itf()](HRESULT& hr) { hr = itf->Reset(); });
    }

    kj::Promise<void> clone(CloneContext context) override {
        return Dispatch<ObjectOut>(
                   Conn(),
                   [itf = Itf(), wants = context.getParams().getWants()](ObjectOut& out) {
                       IEnumOPCItemAttributes* e = nullptr;
                       out.hr = itf->Clone(Wanted(wants, 0) ? &e : nullptr);
                       out.object = OutgoingObject::Adopt(e, IID_IEnumOPCItemAttributes);
                   })
            .then([conn = SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }
};

}  // namespace

InterfaceMarshaler GroupStateMgtMarshaler() {
    return MarshalerOf<IOPCGroupStateMgt, GroupStateProxy, GroupStateStub>();
}
InterfaceMarshaler ItemMgtMarshaler() {
    return MarshalerOf<IOPCItemMgt, ItemMgtProxy, ItemMgtStub>();
}
InterfaceMarshaler EnumItemAttributesMarshaler() {
    return MarshalerOf<IEnumOPCItemAttributes, EnumItemAttributesProxy, EnumItemAttributesStub>();
}

}  // namespace tgv::rpc
