#pragma once
// Interface pointers across a connection.
//
// The client side holds one ProxyManager per remote object: it is the object's identity (the
// IUnknown every QueryInterface(IID_IUnknown) gives) and owns one interface proxy per interface
// asked for, each backed by the capability the peer gave for that interface. The serving side
// holds one stub per capability handed out, over the interface pointer it serves.

#include <capnp/capability.h>
#include <kj/async.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "com/apartment.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/malloc.h"
#include "com/unknown.h"
#include "rpc/connection.h"
#include "rpc/opcda.capnp.h"
#include "rpc/runtime.h"

namespace tgv::rpc {

// Answered only by the proxy managers of this transport: tells a proxy from a local object.
inline constexpr IID IID_IRpcProxyManager{
    0x5D1C7A3E, 0x2B49, 0x4C8F, {0xA6, 0x13, 0x7E, 0x90, 0x4B, 0x2D, 0xC5, 0x18}};

class ProxyManager;

// The proxy of one interface of a remote object. Its reference count is the manager's.
class InterfaceProxy {
  public:
    virtual ~InterfaceProxy() = default;
    // The interface pointer the proxy implements, as IUnknown*.
    virtual IUnknown* Pointer() = 0;
};

// How one interface crosses: its proxy class and its stub class.
struct InterfaceMarshaler {
    IID iid;
    std::unique_ptr<InterfaceProxy> (*makeProxy)(ProxyManager& manager);
    // A capability serving itf (an interface pointer of iid) under export number exportId.
    wire::Unknown::Client (*makeStub)(std::shared_ptr<Connection> connection, ComPtr<IUnknown> itf,
                                      std::uint64_t exportId);
};
// Null for an interface that cannot cross.
const InterfaceMarshaler* FindMarshaler(REFIID iid);

class ProxyManager final : public IUnknown {
  public:
    static constexpr IID iid = IID_IRpcProxyManager;

    ProxyManager(std::shared_ptr<Connection> connection, std::uint64_t identity);
    ProxyManager(const ProxyManager&) = delete;
    ProxyManager& operator=(const ProxyManager&) = delete;

    // IID_IUnknown gives the manager itself; another interface gives its proxy, asking the
    // remote object first when this proxy does not have it yet.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override;
    // A reference when the count has not yet reached 0 (the manager is not going away).
    bool TryAddRef();

    Connection& Conn() { return *connection_; }
    std::uint64_t Identity() const { return identity_; }

    // RPC thread: the capabilities of the object, by interface.
    void AddCap(REFIID iid, wire::Unknown::Client cap);
    kj::Maybe<wire::Unknown::Client&> CapFor(REFIID iid);
    kj::Maybe<wire::Unknown::Client&> AnyCap();
    void DropCaps();

    // The proxy of iid with a new reference (E_NOINTERFACE when the interface cannot cross).
    // Does not ask the remote object: the caller holds a capability for iid.
    HRESULT ProxyPointer(REFIID iid, IUnknown** out);

    // Runs a call on the capability for iid, on the RPC thread, and waits for its HRESULT.
    // fn(typed client) returns kj::Promise<HRESULT>. Fails with RPC_E_DISCONNECTED when the
    // connection is gone (or goes while waiting), RPC_E_TIMEOUT when no answer comes in time,
    // RPC_E_WRONG_THREAD when called on the RPC thread.
    template <class W, class Fn>
    HRESULT Call(REFIID iid, Fn&& fn);

  private:
    ~ProxyManager();

    std::atomic<ULONG> refs_{1};
    const std::shared_ptr<Connection> connection_;
    const std::uint64_t identity_;
    std::mutex mutex_;
    std::vector<std::pair<IID, std::unique_ptr<InterfaceProxy>>> proxies_;
    std::vector<std::pair<IID, wire::Unknown::Client>> caps_;  // RPC thread only
};

HRESULT RunCall(Connection& connection, kj::Function<kj::Promise<HRESULT>()> body);

template <class W, class Fn>
HRESULT ProxyManager::Call(REFIID iid, Fn&& fn) {
    return RunCall(*connection_, [this, &iid, &fn]() -> kj::Promise<HRESULT> {
        KJ_IF_MAYBE (cap, CapFor(iid)) {
            typename W::Client typed = cap->template castAs<W>();
            return fn(typed);
        }
        return HRESULT{RPC_E_DISCONNECTED};
    });
}

// An interface pointer about to be sent: taken on the thread that has it, sent on the RPC
// thread.
struct OutgoingObject {
    IID iid = IID_IUnknown;
    ComPtr<IUnknown> itf;  // the pointer for iid, as IUnknown*
    IUnknown* identity = nullptr;
    ComPtr<ProxyManager> proxy;  // set when the object is a proxy of this transport

    // Takes over a reference the caller owns (an out parameter's) / adds one (an [in] one).
    static OutgoingObject Adopt(IUnknown* itf, REFIID iid);
    static OutgoingObject Copy(IUnknown* itf, REFIID iid);
};

struct ExportedCap {
    kj::Maybe<wire::Unknown::Client> cap;
    std::uint64_t identity = 0;
    bool home = false;
};
// RPC thread. The capability for a non-null object: a stub for a local one, the capability
// itself for the peer's own object.
HRESULT ExportCap(Connection& connection, OutgoingObject object, ExportedCap* out);
HRESULT ImportCap(Connection& connection, wire::Unknown::Client cap, std::uint64_t identity,
                  bool home, REFIID iid, IUnknown** out);

// RPC thread. Writes the object (a stub for a local one, the capability itself for the peer's
// own object). E_NOINTERFACE when the interface cannot cross.
HRESULT ExportObject(Connection& connection, OutgoingObject object, wire::ObjectRef::Builder out);

// What a call that hands out one object leaves for the RPC thread (null object on failure).
struct ObjectOut {
    HRESULT hr = E_FAIL;
    OutgoingObject object;
};

// RPC thread. Sends the object of an ObjectOut through init (a results field's initX) and gives the
// HRESULT to answer: a failure to send the object replaces a success.
template <class Init>
HRESULT PutObject(Connection& connection, ObjectOut& out, Init&& init) {
    HRESULT hr = out.hr;
    if (out.object.itf) {
        const HRESULT sent = ExportObject(connection, std::move(out.object), init());
        if (FAILED(sent) && SUCCEEDED(hr)) {
            hr = sent;
        }
    }
    return hr;
}

// RPC thread. The local pointer for a received reference, with one reference: a proxy, or the
// local object itself when the peer hands back one of ours. Null for an unset reference.
HRESULT ImportObject(Connection& connection, wire::ObjectRef::Reader ref, REFIID iid,
                     IUnknown** out);

using QueryInterfaceContext =
    capnp::CallContext<wire::Unknown::QueryInterfaceParams, wire::Unknown::QueryInterfaceResults>;

// The state every stub shares: the connection, the served pointer and its export number.
class StubCore {
  public:
    StubCore(std::shared_ptr<Connection> connection, ComPtr<IUnknown> itf, REFIID iid,
             std::uint64_t exportId);
    StubCore(const StubCore&) = delete;
    StubCore& operator=(const StubCore&) = delete;
    ~StubCore();

    Connection& Conn() { return *connection_; }
    IUnknown* Itf() const { return itf_.Get(); }
    const std::shared_ptr<Connection>& SharedConn() const { return connection_; }

    kj::Promise<void> QueryInterface(QueryInterfaceContext context);

  private:
    std::shared_ptr<Connection> connection_;
    ComPtr<IUnknown> itf_;
    IID iid_;
    std::uint64_t exportId_;
};

// Runs fn(Out&) on the connection's call thread and gives the Out back on the RPC thread. The
// Out owns what the call produced, so nothing leaks when the answer is no longer wanted.
template <class Out, class Fn>
kj::Promise<kj::Own<Out>> Dispatch(Connection& connection, Fn&& fn) {
    auto paf = kj::newPromiseAndCrossThreadFulfiller<kj::Own<Out>>();
    const bool posted = connection.Calls().Post(
        [fn = kj::fwd<Fn>(fn), fulfiller = kj::mv(paf.fulfiller)]() mutable {
            auto out = kj::heap<Out>();
            fn(*out);
            fulfiller->fulfill(kj::mv(out));
        });
    if (!posted) {
        return KJ_EXCEPTION(DISCONNECTED, "the connection is closing");
    }
    return kj::mv(paf.promise);
}

// Posts a callback to the user-interface apartment; the state is shared so that the call can
// be queued as a copyable function.
template <class State>
void PostToUi(std::shared_ptr<State> state) {
    Apartment::Ui().Post([state = std::move(state)] { (*state)(); });
}

// The "wants" mask of a call: bit i for each non-null [out] pointer.
template <class... P>
std::uint32_t Wants(P*... pointers) {
    std::uint32_t mask = 0;
    std::uint32_t bit = 1;
    ((mask |= (pointers != nullptr ? bit : 0), bit <<= 1), ...);
    return mask;
}
inline bool Wanted(std::uint32_t wants, int index) {
    return (wants >> index) & 1u;
}

// A task-allocator block owned until it is handed to the caller.
template <class T>
class TaskBlock {
  public:
    TaskBlock() = default;
    TaskBlock(const TaskBlock&) = delete;
    TaskBlock& operator=(const TaskBlock&) = delete;
    TaskBlock(TaskBlock&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    TaskBlock& operator=(TaskBlock&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~TaskBlock() { CoTaskMemFree(p_); }
    // count zero-filled elements; false when out of memory.
    bool Allocate(std::size_t count);
    T* Get() const { return p_; }
    T** Put() {
        CoTaskMemFree(std::exchange(p_, nullptr));
        return &p_;
    }
    T* Release() { return std::exchange(p_, nullptr); }
    T& operator[](std::size_t i) const { return p_[i]; }

  private:
    T* p_ = nullptr;
};

template <class T>
bool TaskBlock<T>::Allocate(std::size_t count) {
    CoTaskMemFree(std::exchange(p_, nullptr));
    const std::size_t n = count == 0 ? 1 : count;
    if (n > (std::size_t{1} << 40) / sizeof(T)) {
        return false;
    }
    p_ = static_cast<T*>(CoTaskMemAlloc(n * sizeof(T)));
    if (p_ != nullptr) {
        std::memset(static_cast<void*>(p_), 0, n * sizeof(T));
    }
    return p_ != nullptr;
}

}  // namespace tgv::rpc
