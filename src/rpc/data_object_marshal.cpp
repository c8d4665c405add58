// The data objects of the 1.0 subscription across a connection: IDataObject (the calls the
// subscription uses: GetData, QueryGetData, GetCanonicalFormatEtc, SetData, DAdvise, DUnadvise)
// and the client's IAdviseSink.
//
// Registered clipboard formats cross by name, since each process numbers them itself; media
// cross as the bytes of their global memory block.

#include <cstring>

#include "com/apartment.h"
#include "com/clipboard_format.h"
#include "com/data_object.h"
#include "rpc/marshal_registry.h"
#include "rpc/proxy_stub.h"

namespace tgv::rpc {
namespace {

// The smallest target device: its size field and the four offsets.
constexpr std::size_t kTargetDeviceHeader = offsetof(DVTARGETDEVICE, tdData);

HRESULT PutFormat(const FORMATETC& f, wire::FormatEtc::Builder out) {
    if (f.cfFormat >= CF_FIRST_REGISTERED) {
        char name[CF_MAX_NAME_LENGTH + 1] = {};
        if (GetClipboardFormatNameA(f.cfFormat, name, sizeof name) <= 0) {
            return DV_E_CLIPFORMAT;
        }
        out.initFormat().setRegistered(name);
    } else {
        out.initFormat().setStandard(f.cfFormat);
    }
    if (f.ptd != nullptr) {
        if (f.ptd->tdSize < kTargetDeviceHeader) {
            return DV_E_DVTARGETDEVICE;
        }
        auto bytes = out.initTargetDevice(f.ptd->tdSize);
        std::memcpy(bytes.begin(), f.ptd, f.ptd->tdSize);
    }
    out.setAspect(f.dwAspect);
    out.setIndex(f.lindex);
    out.setTymed(f.tymed);
    return S_OK;
}

// A FORMATETC read from a message, with its own copy of the target device.
class FormatArg {
  public:
    HRESULT Read(wire::FormatEtc::Reader in) {
        auto format = in.getFormat();
        if (format.isRegistered()) {
            const UINT number = RegisterClipboardFormatA(format.getRegistered().cStr());
            if (number == 0) {
                return DV_E_CLIPFORMAT;
            }
            format_.cfFormat = static_cast<CLIPFORMAT>(number);
        } else {
            format_.cfFormat = format.getStandard();
        }
        if (in.hasTargetDevice()) {
            auto bytes = in.getTargetDevice();
            if (bytes.size() < kTargetDeviceHeader) {
                return RPC_E_INVALID_DATA;
            }
            device_.assign(bytes.begin(), bytes.end());
            DWORD size = 0;
            std::memcpy(&size, device_.data(), sizeof size);
            if (size != device_.size()) {
                return RPC_E_INVALID_DATA;
            }
        }
        format_.dwAspect = in.getAspect();
        format_.lindex = in.getIndex();
        format_.tymed = in.getTymed();
        return S_OK;
    }
    // The pointer the callee gets; it may write through it, as through any FORMATETC* it gets.
    FORMATETC* Get() const {
        format_.ptd = device_.empty() ? nullptr : reinterpret_cast<DVTARGETDEVICE*>(device_.data());
        return &format_;
    }
    // A FORMATETC the caller owns: its target device copied to the task allocator.
    HRESULT CopyTo(FORMATETC* out) const {
        *out = *Get();
        out->ptd = nullptr;
        if (!device_.empty()) {
            void* copy = CoTaskMemAlloc(device_.size());
            if (copy == nullptr) {
                return E_OUTOFMEMORY;
            }
            std::memcpy(copy, device_.data(), device_.size());
            out->ptd = static_cast<DVTARGETDEVICE*>(copy);
        }
        return S_OK;
    }

  private:
    mutable FORMATETC format_{};
    mutable std::vector<BYTE> device_;
};

HRESULT PutMedium(const STGMEDIUM& m, wire::Medium::Builder out) {
    out.setTymed(m.tymed);
    if (m.tymed == TYMED_NULL) {
        return S_OK;
    }
    if (m.tymed != TYMED_HGLOBAL) {
        return DV_E_TYMED;
    }
    if (m.hGlobal == nullptr) {
        return S_OK;
    }
    const SIZE_T size = GlobalSize(m.hGlobal);
    const void* bytes = GlobalLock(m.hGlobal);
    if (bytes == nullptr) {
        return E_INVALIDARG;
    }
    auto data = out.initHGlobal(static_cast<unsigned>(size));
    std::memcpy(data.begin(), bytes, size);
    GlobalUnlock(m.hGlobal);
    return S_OK;
}

// A medium read from a message, kept as bytes until a block is made of it.
class MediumArg {
  public:
    HRESULT Read(wire::Medium::Reader in) {
        tymed_ = in.getTymed();
        if (tymed_ != TYMED_NULL && tymed_ != TYMED_HGLOBAL) {
            return DV_E_TYMED;
        }
        present_ = in.hasHGlobal();
        if (present_) {
            auto data = in.getHGlobal();
            bytes_.assign(data.begin(), data.end());
        }
        return S_OK;
    }
    // A new medium holding a new global memory block; the receiver releases it.
    HRESULT Make(STGMEDIUM* out) const {
        *out = STGMEDIUM{};
        out->tymed = tymed_;
        if (!present_) {
            return S_OK;
        }
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
        if (block == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (!bytes_.empty()) {
            void* target = GlobalLock(block);
            std::memcpy(target, bytes_.data(), bytes_.size());
            GlobalUnlock(block);
        }
        out->hGlobal = block;
        return S_OK;
    }

  private:
    DWORD tymed_ = TYMED_NULL;
    bool present_ = false;
    std::vector<BYTE> bytes_;
};

// ---- IDataObject -----------------------------------------------------------------------------

class DataObjectProxy final : public ProxyOf<IDataObject, wire::DataObject> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::DataObject::Client;

    HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override {
        if (pformatetcIn == nullptr) {
            return E_INVALIDARG;
        }
        if (pmedium != nullptr) {
            *pmedium = STGMEDIUM{};
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.getDataRequest();
            const HRESULT put = PutFormat(*pformatetcIn, request.initFormat());
            if (FAILED(put)) {
                return put;
            }
            request.setWants(Wants(pmedium));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pmedium != nullptr && r.hasMedium()) {
                    MediumArg medium;
                    HRESULT decoded = medium.Read(r.getMedium());
                    if (SUCCEEDED(decoded)) {
                        decoded = medium.Make(pmedium);
                    }
                    if (FAILED(decoded)) {
                        return decoded;
                    }
                }
                return r.getHr();
            });
        });
    }

    HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override {
        // Filling a medium the caller provides is not used by the subscription and does not
        // cross.
        return E_NOTIMPL;
    }

    HRESULT QueryGetData(FORMATETC* pformatetc) override {
        if (pformatetc == nullptr) {
            return E_INVALIDARG;
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.queryGetDataRequest();
            const HRESULT put = PutFormat(*pformatetc, request.initFormat());
            if (FAILED(put)) {
                return put;
            }
            return SendForHr(request);
        });
    }

    HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override {
        if (pformatectIn == nullptr) {
            return E_INVALIDARG;
        }
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.getCanonicalFormatEtcRequest();
            const HRESULT put = PutFormat(*pformatectIn, request.initFormat());
            if (FAILED(put)) {
                return put;
            }
            request.setWants(Wants(pformatetcOut));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pformatetcOut != nullptr && r.hasFormat()) {
                    FormatArg format;
                    HRESULT decoded = format.Read(r.getFormat());
                    if (SUCCEEDED(decoded)) {
                        decoded = format.CopyTo(pformatetcOut);
                    }
                    if (FAILED(decoded)) {
                        return decoded;
                    }
                }
                return r.getHr();
            });
        });
    }

    HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override {
        if (pformatetc == nullptr || pmedium == nullptr) {
            return E_INVALIDARG;
        }
        const HRESULT hr = Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.setDataRequest();
            HRESULT put = PutFormat(*pformatetc, request.initFormat());
            put = FirstFailure(put, PutMedium(*pmedium, request.initMedium()));
            if (FAILED(put)) {
                return put;
            }
            // The other side gets its own copy of the medium and always owns it.
            request.setRelease(TRUE);
            return SendForHr(request);
        });
        if (SUCCEEDED(hr) && fRelease) {
            // Handed over: this side's medium is no longer needed.
            ReleaseStgMedium(pmedium);
        }
        return hr;
    }

    HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) override {
        if (ppenumFormatEtc != nullptr) {
            *ppenumFormatEtc = nullptr;
        }
        return E_NOTIMPL;
    }

    HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                    DWORD* pdwConnection) override {
        if (pformatetc == nullptr) {
            return E_INVALIDARG;
        }
        OutgoingObject sink = OutgoingObject::Copy(pAdvSink, IID_IAdviseSink);
        return Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.dAdviseRequest();
            HRESULT put = PutFormat(*pformatetc, request.initFormat());
            put = FirstFailure(put, ExportObject(Conn(), std::move(sink), request.initSink()));
            if (FAILED(put)) {
                return put;
            }
            request.setAdvf(advf);
            request.setWants(Wants(pdwConnection));
            return request.send().then([&](auto&& r) -> HRESULT {
                if (pdwConnection != nullptr) {
                    *pdwConnection = r.getConnection();
                }
                return r.getHr();
            });
        });
    }

    HRESULT DUnadvise(DWORD dwConnection) override {
        return Call([&](Cap& cap) {
            auto request = cap.dUnadviseRequest();
            request.setConnection(dwConnection);
            return SendForHr(request);
        });
    }

    HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override {
        if (ppenumAdvise != nullptr) {
            *ppenumAdvise = nullptr;
        }
        return E_NOTIMPL;
    }
};

class DataObjectStub final : public StubOf<wire::DataObject, IDataObject> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> getData(GetDataContext context) override {
        auto p = context.getParams();
        auto format = kj::heap<FormatArg>();
        const HRESULT bad = format->Read(p.getFormat());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        struct Out {
            HRESULT hr = E_FAIL;
            STGMEDIUM medium{};
            ~Out() { ReleaseStgMedium(&medium); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), format = kj::mv(format), w = p.getWants()](Out& out) {
                                 out.hr = itf->GetData(format->Get(),
                                                       Wanted(w, 0) ? &out.medium : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                HRESULT hr = out->hr;
                if (SUCCEEDED(hr)) {
                    hr = FirstFailure(hr, PutMedium(out->medium, results.initMedium()));
                }
                results.setHr(hr);
            });
    }

    kj::Promise<void> queryGetData(QueryGetDataContext context) override {
        auto format = kj::heap<FormatArg>();
        const HRESULT bad = format->Read(context.getParams().getFormat());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        return AnswerHr(Conn(), context, [itf = Itf(), format = kj::mv(format)](HRESULT& hr) {
            hr = itf->QueryGetData(format->Get());
        });
    }

    kj::Promise<void> getCanonicalFormatEtc(GetCanonicalFormatEtcContext context) override {
        auto p = context.getParams();
        auto format = kj::heap<FormatArg>();
        const HRESULT bad = format->Read(p.getFormat());
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        struct Out {
            HRESULT hr = E_FAIL;
            bool wanted = false;
            FORMATETC format{};
            ~Out() { CoTaskMemFree(format.ptd); }
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), format = kj::mv(format), w = p.getWants()](Out& out) {
                                 out.wanted = Wanted(w, 0);
                                 out.hr = itf->GetCanonicalFormatEtc(
                                     format->Get(), out.wanted ? &out.format : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                HRESULT hr = out->hr;
                if (out->wanted && SUCCEEDED(hr)) {
                    hr = FirstFailure(hr, PutFormat(out->format, results.initFormat()));
                }
                results.setHr(hr);
            });
    }

    kj::Promise<void> setData(SetDataContext context) override {
        auto p = context.getParams();
        auto format = kj::heap<FormatArg>();
        auto medium = kj::heap<MediumArg>();
        HRESULT bad = format->Read(p.getFormat());
        bad = FirstFailure(bad, medium->Read(p.getMedium()));
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        return AnswerHr(
            Conn(), context,
            [itf = Itf(), format = kj::mv(format), medium = kj::mv(medium)](HRESULT& hr) {
                STGMEDIUM m{};
                hr = medium->Make(&m);
                if (FAILED(hr)) {
                    return;
                }
                // The copy is the callee's on success; it stays ours otherwise.
                hr = itf->SetData(format->Get(), &m, TRUE);
                if (FAILED(hr)) {
                    ReleaseStgMedium(&m);
                }
            });
    }

    kj::Promise<void> dAdvise(DAdviseContext context) override {
        auto p = context.getParams();
        auto format = kj::heap<FormatArg>();
        HRESULT bad = format->Read(p.getFormat());
        IUnknown* sink = nullptr;
        if (SUCCEEDED(bad)) {
            bad = ImportObject(Conn(), p.getSink(), IID_IAdviseSink, &sink);
        }
        if (FAILED(bad)) {
            context.getResults().setHr(bad);
            return kj::READY_NOW;
        }
        struct Out {
            HRESULT hr = E_FAIL;
            DWORD connection = 0;
        };
        return Dispatch<Out>(Conn(),
                             [itf = Itf(), format = kj::mv(format),
                              sink = ComPtr<IAdviseSink>::Attach(static_cast<IAdviseSink*>(sink)),
                              advf = p.getAdvf(), w = p.getWants()](Out& out) {
                                 out.hr = itf->DAdvise(format->Get(), advf, sink.Get(),
                                                       Wanted(w, 0) ? &out.connection : nullptr);
                             })
            .then([context](kj::Own<Out> out) mutable {
                auto results = context.getResults();
                results.setConnection(out->connection);
                results.setHr(out->hr);
            });
    }

    kj::Promise<void> dUnadvise(DUnadviseContext context) override {
        return AnswerHr(Conn(), context,
                        [itf = Itf(), connection = context.getParams().getConnection()](
                            HRESULT& hr) { hr = itf->DUnadvise(connection); });
    }
};

// ---- IAdviseSink -----------------------------------------------------------------------------

class AdviseSinkProxy final : public ProxyOf<IAdviseSink, wire::AdviseSink> {
  public:
    using ProxyOf::ProxyOf;
    using Cap = wire::AdviseSink::Client;

    void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
        if (pFormatetc == nullptr || pStgmed == nullptr) {
            return;
        }
        Call([&](Cap& cap) -> kj::Promise<HRESULT> {
            auto request = cap.onDataChangeRequest();
            HRESULT put = PutFormat(*pFormatetc, request.initFormat());
            put = FirstFailure(put, PutMedium(*pStgmed, request.initMedium()));
            if (FAILED(put)) {
                return put;
            }
            return request.send().then([](auto&&) -> HRESULT { return S_OK; });
        });
    }

    void OnViewChange(DWORD dwAspect, LONG lindex) override {
        Call([&](Cap& cap) {
            auto request = cap.onViewChangeRequest();
            request.setAspect(dwAspect);
            request.setIndex(lindex);
            return request.send().then([](auto&&) -> HRESULT { return S_OK; });
        });
    }

    void OnRename(IMoniker*) override {
        // Monikers do not cross; the sink hears of the rename without one.
        Call([&](Cap& cap) {
            return cap.onRenameRequest().send().then([](auto&&) -> HRESULT { return S_OK; });
        });
    }

    void OnSave() override {
        Call([&](Cap& cap) {
            return cap.onSaveRequest().send().then([](auto&&) -> HRESULT { return S_OK; });
        });
    }

    void OnClose() override {
        Call([&](Cap& cap) {
            return cap.onCloseRequest().send().then([](auto&&) -> HRESULT { return S_OK; });
        });
    }
};

class AdviseSinkStub final : public StubOf<wire::AdviseSink, IAdviseSink> {
  public:
    using StubOf::StubOf;

    kj::Promise<void> onDataChange(OnDataChangeContext context) override {
        auto p = context.getParams();
        struct Call {
            ComPtr<IAdviseSink> sink;
            FormatArg format;
            MediumArg medium;
            void operator()() {
                STGMEDIUM m{};
                if (FAILED(medium.Make(&m))) {
                    return;
                }
                sink->OnDataChange(format.Get(), &m);
                ReleaseStgMedium(&m);
            }
        };
        auto call = std::make_shared<Call>(Call{Itf(), {}, {}});
        // A call that does not hold together is dropped: the sink has no answer to give.
        if (SUCCEEDED(call->format.Read(p.getFormat())) &&
            SUCCEEDED(call->medium.Read(p.getMedium()))) {
            PostToUi(std::move(call));
        }
        return kj::READY_NOW;
    }

    kj::Promise<void> onViewChange(OnViewChangeContext context) override {
        auto p = context.getParams();
        struct Call {
            ComPtr<IAdviseSink> sink;
            DWORD aspect;
            LONG index;
            void operator()() { sink->OnViewChange(aspect, index); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf(), p.getAspect(), p.getIndex()}));
        return kj::READY_NOW;
    }

    kj::Promise<void> onRename(OnRenameContext) override {
        struct Call {
            ComPtr<IAdviseSink> sink;
            void operator()() { sink->OnRename(nullptr); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf()}));
        return kj::READY_NOW;
    }

    kj::Promise<void> onSave(OnSaveContext) override {
        struct Call {
            ComPtr<IAdviseSink> sink;
            void operator()() { sink->OnSave(); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf()}));
        return kj::READY_NOW;
    }

    kj::Promise<void> onClose(OnCloseContext) override {
        struct Call {
            ComPtr<IAdviseSink> sink;
            void operator()() { sink->OnClose(); }
        };
        PostToUi(std::make_shared<Call>(Call{Itf()}));
        return kj::READY_NOW;
    }
};

}  // namespace

InterfaceMarshaler DataObjectMarshaler() {
    return MarshalerOf<IDataObject, DataObjectProxy, DataObjectStub>();
}
InterfaceMarshaler AdviseSinkMarshaler() {
    return MarshalerOf<IAdviseSink, AdviseSinkProxy, AdviseSinkStub>();
}

}  // namespace tgv::rpc
