#pragma once
// The bases every interface proxy and stub is written on, and the helpers that move arrays
// between the C++ calls and the messages.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "com/unknown.h"
#include "rpc/marshal.h"
#include "rpc/wire_values.h"

namespace tgv::rpc {

// The proxy of interface I, speaking the schema interface W.
template <class I, class W>
class ProxyOf : public I, public InterfaceProxy {
  public:
    explicit ProxyOf(ProxyManager& manager) : manager_(manager) {}
    IUnknown* Pointer() override { return static_cast<I*>(this); }

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        return manager_.QueryInterface(riid, ppvObject);
    }
    ULONG AddRef() override { return manager_.AddRef(); }
    ULONG Release() override { return manager_.Release(); }

  protected:
    template <class Fn>
    HRESULT Call(Fn&& fn) {
        return manager_.template Call<W>(I::iid, std::forward<Fn>(fn));
    }
    Connection& Conn() { return manager_.Conn(); }

  private:
    ProxyManager& manager_;
};

// The stub serving interface I as the schema interface W.
template <class W, class I>
class StubOf : public W::Server {
  public:
    using Serves = W;

    StubOf(std::shared_ptr<Connection> connection, ComPtr<IUnknown> itf, std::uint64_t exportId)
        : core_(std::move(connection), std::move(itf), I::iid, exportId) {}

    kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
        return core_.QueryInterface(context);
    }

  protected:
    // A reference to the served interface, for the call thread.
    ComPtr<I> Itf() const { return ComPtr<I>(static_cast<I*>(core_.Itf())); }
    Connection& Conn() { return core_.Conn(); }
    std::shared_ptr<Connection> SharedConn() const { return core_.SharedConn(); }

  private:
    StubCore core_;
};

template <class I, class P, class S>
InterfaceMarshaler MarshalerOf() {
    return InterfaceMarshaler{
        I::iid,
        [](ProxyManager& m) -> std::unique_ptr<InterfaceProxy> { return std::make_unique<P>(m); },
        [](std::shared_ptr<Connection> c, ComPtr<IUnknown> itf,
           std::uint64_t id) -> wire::Unknown::Client {
            return typename S::Serves::Client(kj::heap<S>(std::move(c), std::move(itf), id));
        }};
}

// ---- Arrays on the way out (proxies: [in] arrays; stubs: results) ---------------------------

// Writes count entries of values through init (a field's initX); nothing for a null pointer.
template <class T, class Init>
void PutArray(const T* values, std::size_t count, Init&& init) {
    if (values == nullptr) {
        return;
    }
    auto list = init(static_cast<unsigned>(count));
    for (std::size_t i = 0; i < count; ++i) {
        list.set(static_cast<unsigned>(i), values[i]);
    }
}

// ---- Arrays on the way in --------------------------------------------------------------------

// An [in] array as the callee sees it: null when absent; RPC_E_INVALID_DATA when its length is
// not the call's count.
template <class T>
class ArrayArg {
  public:
    template <class List>
    HRESULT Read(bool present, List list, std::uint32_t count) {
        present_ = present;
        if (!present) {
            return S_OK;
        }
        if (list.size() != count) {
            return RPC_E_INVALID_DATA;
        }
        values_.resize(list.size());
        for (unsigned i = 0; i < list.size(); ++i) {
            values_[i] = static_cast<T>(list[i]);
        }
        return S_OK;
    }
    T* Get() { return present_ ? (values_.empty() ? &empty_ : values_.data()) : nullptr; }

  private:
    bool present_ = false;
    std::vector<T> values_;
    T empty_{};
};

// A task-allocator copy of a result array of exactly count entries (RPC_E_INVALID_DATA
// otherwise); null when absent.
template <class T, class List>
HRESULT TakeArray(bool present, List list, std::uint32_t count, TaskBlock<T>* out) {
    if (!present) {
        return S_OK;
    }
    if (list.size() != count) {
        return RPC_E_INVALID_DATA;
    }
    if (!out->Allocate(count)) {
        return E_OUTOFMEMORY;
    }
    for (unsigned i = 0; i < list.size(); ++i) {
        (*out)[i] = static_cast<T>(list[i]);
    }
    return S_OK;
}

// Hands a result block to the caller's out parameter when it asked for it.
template <class T>
void Hand(TaskBlock<T>& block, T** out) {
    if (out != nullptr) {
        *out = block.Release();
    }
}

// The result of a call on the call thread: the HRESULT, and an error array of count entries
// the callee allocated (freed with the result).
struct ErrorsOut {
    HRESULT hr = E_FAIL;
    HRESULT* errors = nullptr;
    ErrorsOut() = default;
    ErrorsOut(const ErrorsOut&) = delete;
    ErrorsOut& operator=(const ErrorsOut&) = delete;
    ~ErrorsOut() { CoTaskMemFree(errors); }
};

template <class Init>
void PutErrors(const HRESULT* errors, std::uint32_t count, Init&& init) {
    PutArray(errors, count, std::forward<Init>(init));
}

// The answer of a call whose results the proxy could not all take: a failure to take them
// wins over the callee's success.
inline HRESULT FirstFailure(HRESULT answer, HRESULT decoding) {
    return FAILED(decoding) ? decoding : answer;
}

// The answer of a call that hands out one object: the reference imported into *out as an I
// when the caller asked for it, and the call's HRESULT unless the import failed.
template <class I>
HRESULT TakeObject(Connection& connection, HRESULT answer, wire::ObjectRef::Reader ref, REFIID iid,
                   I** out) {
    HRESULT imported = S_OK;
    if (out != nullptr) {
        IUnknown* object = nullptr;
        imported = ImportObject(connection, ref, iid, &object);
        *out = static_cast<I*>(object);
    }
    return FirstFailure(answer, imported);
}

// Sends a request whose only result is an HRESULT.
template <class Request>
kj::Promise<HRESULT> SendForHr(Request& request) {
    return request.send().then([](auto&& r) -> HRESULT { return r.getHr(); });
}

// Runs fn(HRESULT&) on the call thread and answers its HRESULT.
template <class Context, class Fn>
kj::Promise<void> AnswerHr(Connection& connection, Context context, Fn&& fn) {
    return Dispatch<HRESULT>(connection, std::forward<Fn>(fn))
        .then([context](kj::Own<HRESULT> hr) mutable { context.getResults().setHr(*hr); });
}

}  // namespace tgv::rpc
