// The client's sinks across a connection: IOPCDataCallback and IOPCShutdown.
//
// The server's proxy calls them synchronously. The client's stub copies what arrives, answers
// S_OK at once and queues the call for the user-interface thread (Apartment::Ui()), where it
// runs in arrival order; the arrays it passes live until the sink returns.
//
// A server that sends faster than the user-interface thread applies would make the queue grow
// without end. So once the values queued for that thread pass a bound, the answer to the next
// data callback waits (without holding up the RPC thread) until the queue has shrunk: the
// server's own call waits, and it sends no faster than the client takes. The wait is bounded,
// so a user-interface thread that stops draining costs memory, never a hung server.

#include <atomic>
#include <cstdint>

#include "com/apartment.h"
#include "opcda/opcda.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// Item values queued for the user-interface thread by data callbacks and not yet run there.
std::atomic<std::uint64_t> queuedItems{0};
// Above this many the answers wait; they go again below the lower mark, or after the longest
// wait.
constexpr std::uint64_t kQueueHighMark = 200000;
constexpr std::uint64_t kQueueLowMark = 100000;
constexpr auto kLongestWait = 2 * kj::SECONDS;

// Counts the items of one queued callback until it has run (or was dropped unrun).
class QueuedItems {
  public:
    explicit QueuedItems(std::uint64_t count) : count_(count) { queuedItems += count_; }
    QueuedItems(const QueuedItems&) = delete;
    QueuedItems& operator=(const QueuedItems&) = delete;
    ~QueuedItems() { Done(); }
    void Done() {
        queuedItems -= count_;
        count_ = 0;
    }

  private:
    std::uint64_t count_;
};

// RPC thread: ready once the queue is below the lower mark, or at the deadline.
kj::Promise<void> RoomInQueue(kj::TimePoint deadline) {
    kj::Timer& timer = RpcRuntime::Instance().Timer();
    if (queuedItems.load(std::memory_order_relaxed) <= kQueueLowMark || timer.now() >= deadline) {
        return kj::READY_NOW;
    }
    return timer.afterDelay(1 * kj::MILLISECONDS).then([deadline] {
        return RoomInQueue(deadline);
    });
}

// ---- IOPCDataCallback ------------------------------------------------------------------------

// Writes the arrays of a data callback; DISP_E_BADVARTYPE when a value cannot cross.
template <class Request>
HRESULT PutItemArrays(Request& request, DWORD count, const OPCHANDLE* handles,
                      const VARIANT* values, const WORD* qualities, const FILETIME* times,
                      const HRESULT* errors) {
    PutArray(handles, count, [&](unsigned n) { return request.initClientHandles(n); });
    if (values != nullptr) {
        auto list = request.initValues(count);
        for (DWORD i = 0; i < count; ++i) {
            const HRESULT hr = EncodeVariant(values[i], list[i]);
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    PutArray(qualities, count, [&](unsigned n) { return request.initQualities(n); });
    if (times != nullptr) {
        auto list = request.initTimeStamps(count);
        for (DWORD i = 0; i < count; ++i) {
            list.set(i, FileTimeToWire(times[i]));
        }
    }
    PutArray(errors, count, [&](unsigned n) { return request.initErrors(n); });
    return S_OK;
}

class DataCallbackProxy final : public ProxyOf<IOPCDataCallback, wire::OpcDataCallback> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::OpcDataCallback::Client;

    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override {
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.onDataChangeRequest();
            request.setTransactionId(dwTransid);
            request.setGroup(hGroup);
            request.setMasterQuality(hrMasterquality);
            request.setMasterError(hrMastererror);
            request.setCount(dwCount);
            const HRESULT put = PutItemArrays(request, dwCount, phClientItems, pvValues,
                                              pwQualities, pftTimeStamps, pErrors);
            if (FAILED(put)) {
                return put;
            }
            return SendForHr(request);
        });
    }

    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                           VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                           HRESULT* pErrors) override {
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.onReadCompleteRequest();
            request.setTransactionId(dwTransid);
            request.setGroup(hGroup);
            request.setMasterQuality(hrMasterquality);
            request.setMasterError(hrMastererror);
            request.setCount(dwCount);
            const HRESULT put = PutItemArrays(request, dwCount, phClientItems, pvValues,
                                              pwQualities, pftTimeStamps, pErrors);
            if (FAILED(put)) {
                return put;
            }
            return SendForHr(request);
        });
    }

    HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        return Call([&](Cap& cap) {
            auto request = cap.onWriteCompleteRequest();
            request.setTransactionId(dwTransid);
            request.setGroup(hGroup);
            request.setMasterError(hrMastererr);
            request.setCount(dwCount);
            PutArray(pClienthandles, dwCount,
                     [&](unsigned n) { return request.initClientHandles(n); });
            PutArray(pErrors, dwCount, [&](unsigned n) { return request.initErrors(n); });
            return SendForHr(request);
        });
    }

    HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        return Call([&](Cap& cap) {
            auto request = cap.onCancelCompleteRequest();
            request.setTransactionId(dwTransid);
            request.setGroup(hGroup);
            return SendForHr(request);
        });
    }
};

// The copied arguments of one data callback, kept until the sink has run.
struct ItemArrays {
    DWORD count = 0;
    ArrayArg<OPCHANDLE> handles;
    bool hasValues = false;
    VariantArray values;
    ArrayArg<WORD> qualities;
    bool hasTimes = false;
    std::vector<FILETIME> times;
    ArrayArg<HRESULT> errors;

    template <class Params>
    HRESULT Read(Params p) {
        count = p.getCount();
        HRESULT hr = handles.Read(p.hasClientHandles(), p.getClientHandles(), count);
        hr = FirstFailure(hr, qualities.Read(p.hasQualities(), p.getQualities(), count));
        hr = FirstFailure(hr, errors.Read(p.hasErrors(), p.getErrors(), count));
        if (FAILED(hr)) {
            return hr;
        }
        hasValues = p.hasValues();
        if (hasValues) {
            if (p.getValues().size() != count) {
                return RPC_E_INVALID_DATA;
            }
            hr = DecodeVariants(p.getValues(), &values);
            if (FAILED(hr)) {
                return hr;
            }
        }
        hasTimes = p.hasTimeStamps();
        if (hasTimes) {
            auto list = p.getTimeStamps();
            if (list.size() != count) {
                return RPC_E_INVALID_DATA;
            }
            times.resize(count);
            for (DWORD i = 0; i < count; ++i) {
                times[i] = FileTimeFromWire(list[i]);
            }
        }
        return S_OK;
    }
    VARIANT* Values() {
        static VARIANT none{};
        return hasValues ? (values.Size() == 0 ? &none : values.Data()) : nullptr;
    }
    FILETIME* Times() {
        static FILETIME none{};
        return hasTimes ? (times.empty() ? &none : times.data()) : nullptr;
    }
};

class DataCallbackStub final : public StubOf<wire::OpcDataCallback, IOPCDataCallback> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> onDataChange(OnDataChangeContext context) override {
        return Queue(context, [](IOPCDataCallback& sink, DWORD transid, OPCHANDLE group,
                                 HRESULT quality, HRESULT error, ItemArrays& a) {
            sink.OnDataChange(transid, group, quality, error, a.count, a.handles.Get(), a.Values(),
                              a.qualities.Get(), a.Times(), a.errors.Get());
        });
    }

    kj::Promise<void> onReadComplete(OnReadCompleteContext context) override {
        return Queue(context, [](IOPCDataCallback& sink, DWORD transid, OPCHANDLE group,
                                 HRESULT quality, HRESULT error, ItemArrays& a) {
            sink.OnReadComplete(transid, group, quality, error, a.count, a.handles.Get(),
                                a.Values(), a.qualities.Get(), a.Times(), a.errors.Get());
        });
    }

    kj::Promise<void> onWriteComplete(OnWriteCompleteContext context) override {
        auto p = context.getParams();
        struct Call {
            ComPtr<IOPCDataCallback> sink;
            DWORD transid;
            OPCHANDLE group;
            HRESULT error;
            DWORD count;
            ArrayArg<OPCHANDLE> handles;
            ArrayArg<HRESULT> errors;
            void operator()() {
                sink->OnWriteComplete(transid, group, error, count, handles.Get(), errors.Get());
            }
        };
        auto call = std::make_shared<Call>(Call{
            Itf(), p.getTransactionId(), p.getGroup(), p.getMasterError(), p.getCount(), {}, {}});
        HRESULT hr = call->handles.Read(p.hasClientHandles(), p.getClientHandles(), call->count);
        hr = FirstFailure(hr, call->errors.Read(p.hasErrors(), p.getErrors(), call->count));
        if (SUCCEEDED(hr)) {
            PostToUi(std::move(call));
        }
        context.getResults().setHr(hr);
        return kj::READY_NOW;
    }

    kj::Promise<void> onCancelComplete(OnCancelCompleteContext context) override {
        auto p = context.getParams();
        struct Call {
            ComPtr<IOPCDataCallback> sink;
            DWORD transid;
            OPCHANDLE group;
            void operator()() { sink->OnCancelComplete(transid, group); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf(), p.getTransactionId(), p.getGroup()}));
        context.getResults().setHr(S_OK);
        return kj::READY_NOW;
    }

  private:
    template <class Context, class Fn>
    kj::Promise<void> Queue(Context& context, Fn fn) {
        auto p = context.getParams();
        struct Call {
            ComPtr<IOPCDataCallback> sink;
            DWORD transid = 0;
            OPCHANDLE group = 0;
            HRESULT quality = S_OK;
            HRESULT error = S_OK;
            ItemArrays arrays;
            Fn fn;
            std::unique_ptr<QueuedItems> queued;
            void operator()() {
                fn(*sink, transid, group, quality, error, arrays);
                queued->Done();
            }
        };
        auto call = std::make_shared<Call>(Call{Itf(), p.getTransactionId(), p.getGroup(),
                                                p.getMasterQuality(), p.getMasterError(),
                                                ItemArrays{}, fn, nullptr});
        const HRESULT hr = call->arrays.Read(p);
        context.getResults().setHr(hr);
        if (FAILED(hr)) {
            return kj::READY_NOW;
        }
        call->queued = std::make_unique<QueuedItems>(call->arrays.count);
        PostToUi(std::move(call));
        if (queuedItems.load(std::memory_order_relaxed) <= kQueueHighMark) {
            return kj::READY_NOW;
        }
        return RoomInQueue(RpcRuntime::Instance().Timer().now() + kLongestWait);
    }
};

// ---- IOPCShutdown ----------------------------------------------------------------------------

class ShutdownProxy final : public ProxyOf<IOPCShutdown, wire::OpcShutdown> {
  public:
    using ProxyOf::ProxyOf;

    HRESULT ShutdownRequest(LPCWSTR szReason) override {
        return Call([&](wire::OpcShutdown::Client& cap) {
            auto request = cap.shutdownRequestRequest();
            PutWide(szReason, [&](unsigned n) { return request.initReason(n); });
            return SendForHr(request);
        });
    }
};

class ShutdownStub final : public StubOf<wire::OpcShutdown, IOPCShutdown> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> shutdownRequest(ShutdownRequestContext context) override {
        auto p = context.getParams();
        struct Call {
            ComPtr<IOPCShutdown> sink;
            WideArg reason;
            void operator()() { sink->ShutdownRequest(reason.Get()); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf(), WideArg(p.hasReason(), p.getReason())}));
        context.getResults().setHr(S_OK);
        return kj::READY_NOW;
    }
};

}  // namespace

InterfaceMarshaler DataCallbackMarshaler() {
    return MarshalerOf<IOPCDataCallback, DataCallbackProxy, DataCallbackStub>();
}
InterfaceMarshaler ShutdownMarshaler() {
    return MarshalerOf<IOPCShutdown, ShutdownProxy, ShutdownStub>();
}

}  // namespace tgv::rpc
