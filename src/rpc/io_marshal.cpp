// IOPCSyncIO, IOPCAsyncIO2 and IOPCAsyncIO across a connection.

#include "opcda/opcda.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// Writes count VARIANTs of a call; DISP_E_BADVARTYPE when one cannot cross (nothing is sent).
template <class Init>
HRESULT PutValues(const VARIANT* values, DWORD count, Init&& init) {
    if (values == nullptr) {
        return S_OK;
    }
    auto list = init(count);
    for (DWORD i = 0; i < count; ++i) {
        const HRESULT hr = EncodeVariant(values[i], list[i]);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

// The values of a call as the callee sees them: null when absent, RPC_E_INVALID_DATA when not
// one per item.
class ValuesArg {
  public:
    HRESULT Read(bool present, capnp::List<wire::Variant>::Reader list, DWORD count) {
        present_ = present;
        if (!present) {
            return S_OK;
        }
        if (list.size() != count) {
            return RPC_E_INVALID_DATA;
        }
        return DecodeVariants(list, &values_);
    }
    VARIANT* Get() { return present_ ? (values_.Size() == 0 ? &empty_ : values_.Data()) : nullptr; }

  private:
    bool present_ = false;
    VariantArray values_;
    VARIANT empty_{};
};

template <class Response>
HRESULT TakeErrorArray(Response& r, DWORD count, HRESULT** ppErrors) {
    TaskBlock<HRESULT> errors;
    const HRESULT decoded = TakeArray(r.hasErrors(), r.getErrors(), count, &errors);
    if (FAILED(decoded)) {
        return decoded;
    }
    Hand(errors, ppErrors);
    return r.getHr();
}

// Answers a call whose results are an HRESULT, an error array of the call's count entries and
// one more DWORD (cancel or transaction id), written by setExtra.
template <class Context, class Out, class SetExtra>
void PutErrorsAnd(Context& context, Out& out, DWORD count, SetExtra&& setExtra) {
    auto results = context.getResults();
    PutErrors(out.errors, count, [&](unsigned n) { return results.initErrors(n); });
    setExtra(results, out.extra);
    results.setHr(out.hr);
}

struct ErrorsAndId : ErrorsOut {
    DWORD extra = 0;
};

void FreeStates(OPCITEMSTATE* states, DWORD count) {
    if (states == nullptr) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
}

// ---- IOPCSyncIO ------------------------------------------------------------------------------

class SyncIoProxy final : public ProxyOf<IOPCSyncIO, wire::OpcSyncIo> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcSyncIo::Client;

    HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                 OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override {
        if (ppItemValues != nullptr) {
            *ppItemValues = nullptr;
        }
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.readRequest();
            request.setSource(dwSource);
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            request.setWants(Wants(ppItemValues, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                OPCITEMSTATE* states = nullptr;
                if (r.hasStates()) {
                    auto list = r.getStates();
                    if (list.size() != dwCount) {
                        return RPC_E_INVALID_DATA;
                    }
                    TaskBlock<OPCITEMSTATE> block;
                    if (!block.Allocate(dwCount)) {
                        return E_OUTOFMEMORY;
                    }
                    // The zero-filled block holds empty values; what is decoded into it goes
                    // with it on a failure or when the reader throws at damaged data.
                    auto guard = kj::defer([&] { FreeStates(block.Release(), dwCount); });
                    for (DWORD i = 0; i < dwCount; ++i) {
                        auto w = list[i];
                        OPCITEMSTATE& s = block[i];
                        s.hClient = w.getClient();
                        s.ftTimeStamp = FileTimeFromWire(w.getTimeStamp());
                        s.wQuality = w.getQuality();
                        s.wReserved = w.getReserved();
                        const HRESULT decoded = DecodeVariant(w.getValue(), &s.vDataValue);
                        if (FAILED(decoded)) {
                            return decoded;
                        }
                    }
                    states = block.Release();
                }
                auto statesGuard = kj::defer([&] { FreeStates(states, dwCount); });
                TaskBlock<HRESULT> errors;
                const HRESULT decoded = TakeArray(r.hasErrors(), r.getErrors(), dwCount, &errors);
                if (FAILED(decoded)) {
                    return decoded;
                }
                if (ppItemValues != nullptr) {
                    *ppItemValues = std::exchange(states, nullptr);
                }
                Hand(errors, ppErrors);
                return r.getHr();
            });
        });
    }

    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                  HRESULT** ppErrors) override {
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.writeRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            const HRESULT put =
                PutValues(pItemValues, dwCount, [&](unsigned n) { return request.initValues(n); });
            if (FAILED(put)) {
                return put;
            }
            request.setWants(Wants(ppErrors));
            return request.send().then(
                [&](auto&& r) -> HRESULT { return TakeErrorArray(r, dwCount, ppErrors); });
        });
    }
};

class SyncIoStub final : public StubOf<wire::OpcSyncIo, IOPCSyncIO> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> read(ReadContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        const HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        struct Out : ErrorsOut {
            OPCITEMSTATE* states = nullptr;
            DWORD count = 0;
            ~Out() { FreeStates(states, count); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), handles = std::move(handles), source = p.getSource(),
                              count = p.getCount(), w = p.getWants()](Out& out) mutable {
                                 out.count = count;
                                 out.hr =
                                     itf->Read(static_cast<OPCDATASOURCE>(source), count,
                                               handles.Get(), Wanted(w, 0) ? &out.states : nullptr,
                                               Wanted(w, 1) ? &out.errors : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                if (out->states != nullptr) {
                    auto list = results.initStates(out->count);
                    for (DWORD i = 0; i < out->count; ++i) {
                        const OPCITEMSTATE& s = out->states[i];
                        auto w = list[i];
                        w.setClient(s.hClient);
                        w.setTimeStamp(FileTimeToWire(s.ftTimeStamp));
                        w.setQuality(s.wQuality);
                        w.setReserved(s.wReserved);
                        KJ_REQUIRE(SUCCEEDED(EncodeVariant(s.vDataValue, w.initValue())),
                                   "a value read cannot cross");
                    }
                }
                PutErrors(out->errors, out->count,
                          [&](unsigned n) { return results.initErrors(n); });
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> write(WriteContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        auto values = kj::heap<ValuesArg>();
        HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        bad = FirstFailure(bad, values->Read(p.hasValues(), p.getValues(), p.getCount()));
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        const DWORD count = p.getCount();
        return Dispatch<ErrorsOut>(
                   Conn(),
                   [itf = Itf(), handles = std::move(handles), values = kj::mv(values), count,
                    w = p.getWants()](ErrorsOut& out) mutable {
                       out.hr = itf->Write(count, handles.Get(), values->Get(),
                                           Wanted(w, 0) ? &out.errors : nullptr);
                   })
            .then([context, count](kj::Own<ErrorsOut> out) mutable {
                auto results = context.getResults();
                PutErrors(out->errors, count, [&](unsigned n) { return results.initErrors(n); });
                results.setHr(out->hr);
            });
    }
};

// ---- IOPCAsyncIO2 ----------------------------------------------------------------------------

class AsyncIo2Proxy final : public ProxyOf<IOPCAsyncIO2, wire::OpcAsyncIo2> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcAsyncIo2::Client;

    HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                 HRESULT** ppErrors) override {
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.readRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            request.setTransactionId(dwTransactionID);
            request.setWants(Wants(pdwCancelID, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwCancelID != nullptr) {
                    *pdwCancelID = r.getCancelId();
                }
                return TakeErrorArray(r, dwCount, ppErrors);
            });
        });
    }

    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                  DWORD* pdwCancelID, HRESULT** ppErrors) override {
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.writeRequest();
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            const HRESULT put =
                PutValues(pItemValues, dwCount, [&](unsigned n) { return request.initValues(n); });
            if (FAILED(put)) {
                return put;
            }
            request.setTransactionId(dwTransactionID);
            request.setWants(Wants(pdwCancelID, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwCancelID != nullptr) {
                    *pdwCancelID = r.getCancelId();
                }
                return TakeErrorArray(r, dwCount, ppErrors);
            });
        });
    }

    HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
        return Call([&](Cap& cap) {
            auto request = cap.refresh2Request();
            request.setSource(dwSource);
            request.setTransactionId(dwTransactionID);
            request.setWants(Wants(pdwCancelID));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwCancelID != nullptr) {
                    *pdwCancelID = r.getCancelId();
                }
                return r.getHr();
            });
        });
    }

    HRESULT Cancel2(DWORD dwCancelID) override {
        return Call([&](Cap& cap) {
            auto request = cap.cancel2Request();
            request.setCancelId(dwCancelID);
            return SendForHr(request);
        });
    }

    HRESULT SetEnable(BOOL bEnable) override {
        return Call([&](Cap& cap) {
            auto request = cap.setEnableRequest();
            request.setEnable(bEnable);
            return SendForHr(request);
        });
    }

    HRESULT GetEnable(BOOL* pbEnable) override {
        return Call([&](Cap& cap) {
            auto request = cap.getEnableRequest();
            request.setWants(Wants(pbEnable));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pbEnable != nullptr) {
                    *pbEnable = r.getEnable();
                }
                return r.getHr();
            });
        });
    }
};

class AsyncIo2Stub final : public StubOf<wire::OpcAsyncIo2, IOPCAsyncIO2> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> read(ReadContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        const HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        const DWORD count = p.getCount();
        return Dispatch<ErrorsAndId>(Conn(),
                                     [itf = Itf(), handles = std::move(handles), count,
                                      transaction = p.getTransactionId(),
                                      w = p.getWants()](ErrorsAndId& out) mutable {
                                         out.hr = itf->Read(count, handles.Get(), transaction,
                                                            Wanted(w, 0) ? &out.extra : nullptr,
                                                            Wanted(w, 1) ? &out.errors : nullptr);
                                     })
            .then([context, count](kj::Own<ErrorsAndId> out) mutable {
                PutErrorsAnd(context, *out, count,
                             [](auto& results, DWORD id) { results.setCancelId(id); });
            });
    }

    kj::Promise<void> write(WriteContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        auto values = kj::heap<ValuesArg>();
        HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        bad = FirstFailure(bad, values->Read(p.hasValues(), p.getValues(), p.getCount()));
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        const DWORD count = p.getCount();
        return Dispatch<ErrorsAndId>(
                   Conn(),
                   [itf = Itf(), handles = std::move(handles), values = kj::mv(values), count,
                    transaction = p.getTransactionId(),
                    w = p.getWants()](ErrorsAndId& out) mutable {
                       out.hr = itf->Write(count, handles.Get(), values->Get(), transaction,
                                           Wanted(w, 0) ? &out.extra : nullptr,
                                           Wanted(w, 1) ? &out.errors : nullptr);
                   })
            .then([context, count](kj::Own<ErrorsAndId> out) mutable {
                PutErrorsAnd(context, *out, count,
                             [](auto& results, DWORD id) { results.setCancelId(id); });
            });
    }

    kj::Promise<void> refresh2(Refresh2Context context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD cancel = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), source = p.getSource(),
                              transaction = p.getTransactionId(), w = p.getWants()](Out& out) {
                                 out.hr =
                                     itf->Refresh2(static_cast<OPCDATASOURCE>(source), transaction,
                                                   Wanted(w, 0) ? &out.cancel : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setCancelId(out->cancel);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> cancel2(Cancel2Context context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), id = context.getParams().getCancelId()](HRESULT& hr) {
                            hr = itf->Cancel2(id);
                        });
    }

    kj::Promise<void> setEnable(SetEnableContext context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), enable = context.getParams().getEnable()](HRESULT& hr) {
                            hr = itf->SetEnable(enable);
                        });
    }

    kj::Promise<void> getEnable(GetEnableContext context) override {
        struct Out {
            HRESULT hr = E_FAIL;
            BOOL enable = FALSE;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), w = context.getParams().getWants()](Out& out) {
                                 out.hr = itf->GetEnable(Wanted(w, 0) ? &out.enable : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setEnable(out->enable);
                results.setHr(out->hr);
            });
    }
};

// ---- IOPCAsyncIO -----------------------------------------------------------------------------

class AsyncIoProxy final : public ProxyOf<IOPCAsyncIO, wire::OpcAsyncIo> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcAsyncIo::Client;

    HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                 DWORD* pTransactionID, HRESULT** ppErrors) override {
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) {
            auto request = cap.readRequest();
            request.setConnection(dwConnection);
            request.setSource(dwSource);
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            request.setWants(Wants(pTransactionID, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pTransactionID != nullptr) {
                    *pTransactionID = r.getTransactionId();
                }
                return TakeErrorArray(r, dwCount, ppErrors);
            });
        });
    }

    HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                  DWORD* pTransactionID, HRESULT** ppErrors) override {
        if (ppErrors != nullptr) {
            *ppErrors = nullptr;
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.writeRequest();
            request.setConnection(dwConnection);
            request.setCount(dwCount);
            PutArray(phServer, dwCount, [&](unsigned n) { return request.initServerHandles(n); });
            const HRESULT put =
                PutValues(pItemValues, dwCount, [&](unsigned n) { return request.initValues(n); });
            if (FAILED(put)) {
                return put;
            }
            request.setWants(Wants(pTransactionID, ppErrors));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pTransactionID != nullptr) {
                    *pTransactionID = r.getTransactionId();
                }
                return TakeErrorArray(r, dwCount, ppErrors);
            });
        });
    }

    HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override {
        return Call([&](Cap& cap) {
            auto request = cap.refreshRequest();
            request.setConnection(dwConnection);
            request.setSource(dwSource);
            request.setWants(Wants(pTransactionID));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pTransactionID != nullptr) {
                    *pTransactionID = r.getTransactionId();
                }
                return r.getHr();
            });
        });
    }

    HRESULT Cancel(DWORD dwTransactionID) override {
        return Call([&](Cap& cap) {
            auto request = cap.cancelRequest();
            request.setTransactionId(dwTransactionID);
            return SendForHr(request);
        });
    }
};

class AsyncIoStub final : public StubOf<wire::OpcAsyncIo, IOPCAsyncIO> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> read(ReadContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        const HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        const DWORD count = p.getCount();
        return Dispatch<ErrorsAndId>(Conn(),
                                     [itf = Itf(), handles = std::move(handles), count,
                                      connection = p.getConnection(), source = p.getSource(),
                                      w = p.getWants()](ErrorsAndId& out) mutable {
                                         out.hr = itf->Read(
                                             connection, static_cast<OPCDATASOURCE>(source), count,
                                             handles.Get(), Wanted(w, 0) ? &out.extra : nullptr,
                                             Wanted(w, 1) ? &out.errors : nullptr);
                                     })
            .then([context, count](kj::Own<ErrorsAndId> out) mutable {
                PutErrorsAnd(context, *out, count,
                             [](auto& results, DWORD id) { results.setTransactionId(id); });
            });
    }

    kj::Promise<void> write(WriteContext context) override {
        auto p = context.getParams();
        ArrayArg<OPCHANDLE> handles;
        auto values = kj::heap<ValuesArg>();
        HRESULT bad = handles.Read(p.hasServerHandles(), p.getServerHandles(), p.getCount());
        bad = FirstFailure(bad, values->Read(p.hasValues(), p.getValues(), p.getCount()));
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        const DWORD count = p.getCount();
        return Dispatch<ErrorsAndId>(
                   Conn(),
                   [itf = Itf(), handles = std::move(handles), values = kj::mv(values), count,
                    connection = p.getConnection(), w = p.getWants()](ErrorsAndId& out) mutable {
                       out.hr = itf->Write(connection, count, handles.Get(), values->Get(),
                                           Wanted(w, 0) ? &out.extra : nullptr,
                                           Wanted(w, 1) ? &out.errors : nullptr);
                   })
            .then([context, count](kj::Own<ErrorsAndId> out) mutable {
                PutErrorsAnd(context, *out, count,
                             [](auto& results, DWORD id) { results.setTransactionId(id); });
            });
    }

    kj::Promise<void> refresh(RefreshContext context) override {
        auto p = context.getParams();
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD transaction = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), connection = p.getConnection(), source = p.getSource(),
                              w = p.getWants()](Out& out) {
                                 out.hr =
                                     itf->Refresh(connection, static_cast<OPCDATASOURCE>(source),
                                                  Wanted(w, 0) ? &out.transaction : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setTransactionId(out->transaction);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> cancel(CancelContext context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), id = context.getParams().getTransactionId()](HRESULT& hr) {
                            hr = itf->Cancel(id);
                        });
    }
};

}  // namespace

InterfaceMarshaler SyncIoMarshaler() {
    return MarshalerOf<IOPCSyncIO, SyncIoProxy, SyncIoStub>();
}
InterfaceMarshaler AsyncIo2Marshaler() {
    return MarshalerOf<IOPCAsyncIO2, AsyncIo2Proxy, AsyncIo2Stub>();
}
InterfaceMarshaler AsyncIoMarshaler() {
    return MarshalerOf<IOPCAsyncIO, AsyncIoProxy, AsyncIoStub>();
}

}  // namespace tgv::rpc
