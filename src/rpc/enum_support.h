#pragma once
// The Next of enumerators whose caller provides the array (IEnumString, IEnumUnknown,
// IEnumConnections, IEnumConnectionPoints), on the serving side: the count comes from the
// peer, so the elements are fetched in bounded chunks and only what the enumerator really has
// is ever held.

#include <algorithm>
#include <vector>

#include "com/hresult.h"
#include "com/types.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {

inline constexpr ULONG kEnumChunk = 1024;

// next(count, array, fetched) is the enumerator's Next. Appends what it hands out to got
// (the caller frees each element with destroy). wantArray and wantFetched tell which pointers
// the remote caller passed; the enumerator sees its own null for a missing array, and a
// missing fetched count with celt above 1 is refused as every enumerator refuses it.
template <class Element, class Next, class Destroy>
HRESULT ChunkedNext(ULONG celt, bool wantArray, bool wantFetched, Next&& next, Destroy&& destroy,
                    std::vector<Element>& got) {
    if (!wantArray || celt == 0) {
        ULONG fetched = 0;
        return next(celt, nullptr, wantFetched ? &fetched : nullptr);
    }
    if (!wantFetched && celt > 1) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    while (got.size() < celt) {
        const ULONG n = std::min<ULONG>(kEnumChunk, celt - static_cast<ULONG>(got.size()));
        std::vector<Element> chunk(n, Element{});
        ULONG fetched = 0;
        hr = next(n, chunk.data(), &fetched);
        if (FAILED(hr)) {
            // Nothing of a failed Next stays with the caller, whatever came before it.
            for (Element& e : got) {
                destroy(e);
            }
            got.clear();
            return hr;
        }
        fetched = std::min(fetched, n);
        got.insert(got.end(), chunk.begin(), chunk.begin() + fetched);
        if (hr != S_OK || fetched < n) {
            break;
        }
    }
    return got.size() == celt ? S_OK : (hr == S_OK ? S_FALSE : hr);
}

// Skip, Reset and Clone of a proxy whose schema interface has them.
template <class I, class W>
class EnumProxyBase : public ProxyOf<I, W> {
  public:
    using ProxyOf<I, W>::ProxyOf;

    HRESULT Skip(ULONG celt) override {
        return this->Call([&](typename W::Client& cap) {
            auto request = cap.skipRequest();
            request.setCount(celt);
            return SendForHr(request);
        });
    }
    HRESULT Reset() override {
        return this->Call([&](typename W::Client& cap) {
            auto request = cap.resetRequest();
            return SendForHr(request);
        });
    }
    HRESULT Clone(I** ppenum) override {
        if (ppenum != nullptr) {
            *ppenum = nullptr;
        }
        return this->Call([&](typename W::Client& cap) {
            auto request = cap.cloneRequest();
            request.setWants(Wants(ppenum));
            return request.send().then([&](auto&& r) -> HRESULT {
                return TakeObject(this->Conn(), r.getHr(), r.getEnum(), I::iid, ppenum);
            });
        });
    }
};

// The same calls on the serving side.
template <class W, class I>
class EnumStubBase : public StubOf<W, I> {
  public:
    using StubOf<W, I>::StubOf;

    kj::Promise<void> skip(typename W::Server::SkipContext context) override {
        return AnswerHr(this->Conn(), context,
                        [itf = this->Itf(), count = context.getParams().getCount()](HRESULT& hr) {
                            hr = itf->Skip(count);
                        });
    }
    kj::Promise<void> reset(typename W::Server::ResetContext context) override {
        return AnswerHr(this->Conn(), context,
                        [itf = this->Itf()](HRESULT& hr) { hr = itf->Reset(); });
    }
    kj::Promise<void> clone(typename W::Server::CloneContext context) override {
        return Dispatch<ObjectOut>(
                   this->Conn(),
                   [itf = this->Itf(), wants = context.getParams().getWants()](ObjectOut& out) {
                       I* e = nullptr;
                       out.hr = itf->Clone(Wanted(wants, 0) ? &e : nullptr);
                       out.object = OutgoingObject::Adopt(e, I::iid);
                   })
            .then([conn = this->SharedConn(), context](kj::Own<ObjectOut> out) mutable {
                auto results = context.getResults();
                results.setHr(PutObject(*conn, *out, [&] { return results.initEnum(); }));
            });
    }
};

}  // namespace tgv::rpc
