// Interfaces and rules the conformance suite does not reach: enumerator counts beyond what one
// answer should carry, the shutdown request, data objects with global memory, and a server
// calling a client that has gone.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com/clipboard_format.h"
#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/data_object.h"
#include "rpc_fixture.h"

namespace rpc_test {
namespace {

using namespace std::chrono_literals;

ComPtr<IOPCBrowseServerAddressSpace> Browser(const ComPtr<IUnknown>& server) {
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    EXPECT_EQ(server.As(browse), S_OK);
    return browse;
}

void FreeNames(LPOLESTR* names, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        CoTaskMemFree(names[i]);
    }
}

TEST_F(SimOverRpc, EnumeratorCountsBeyondOneAnswerAreServedFromWhatExists) {
    ComPtr<IOPCBrowseServerAddressSpace> browse = Browser(NewServer());
    ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Load"), S_OK);
    ComPtr<IEnumString> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, names.Put()), S_OK);

    // More than the serving side fetches at a time, in one call.
    std::vector<LPOLESTR> chunk(2500, nullptr);
    ULONG fetched = 0;
    ASSERT_EQ(names->Next(2500, chunk.data(), &fetched), S_OK);
    ASSERT_EQ(fetched, 2500u);
    EXPECT_EQ(std::u16string(chunk[0]), u"Item00000");
    EXPECT_EQ(std::u16string(chunk[2499]), u"Item02499");
    FreeNames(chunk.data(), fetched);

    // A count no enumerator has: the rest comes, and S_FALSE says it ended.
    std::vector<LPOLESTR> rest(7500, nullptr);
    fetched = 0;
    ASSERT_EQ(names->Next(0xFFFFFFFFu, rest.data(), &fetched), S_FALSE);
    ASSERT_EQ(fetched, 7500u);
    EXPECT_EQ(std::u16string(rest[7499]), u"Item09999");
    FreeNames(rest.data(), fetched);

    // Without a count to report into, only one element may be asked for.
    ASSERT_EQ(names->Reset(), S_OK);
    LPOLESTR two[2] = {nullptr, nullptr};
    EXPECT_EQ(names->Next(2, two, nullptr), E_POINTER);
    EXPECT_EQ(two[0], nullptr);
    LPOLESTR one = nullptr;
    ASSERT_EQ(names->Next(1, &one, nullptr), S_OK);
    EXPECT_EQ(std::u16string(one), u"Item00000");
    CoTaskMemFree(one);

    // A clone goes on from where its original stands.
    ComPtr<IEnumString> clone;
    ASSERT_EQ(names->Clone(clone.Put()), S_OK);
    ASSERT_EQ(clone->Skip(9998), S_OK);
    ASSERT_EQ(clone->Next(1, &one, nullptr), S_OK);
    EXPECT_EQ(std::u16string(one), u"Item09999");
    CoTaskMemFree(one);
}

class ShutdownSink final : public ComObject<IOPCShutdown> {
  public:
    HRESULT ShutdownRequest(LPCWSTR szReason) override {
        reasons.emplace_back(szReason != nullptr ? szReason : u"(null)");
        return S_OK;
    }
    std::vector<std::u16string> reasons;
};

TEST_F(SimOverRpc, AShutdownRequestReachesTheClientThroughTheApartment) {
    ComPtr<IUnknown> server = NewServer();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(server.As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    ComPtr<ShutdownSink> sink = MakeComObject<ShutdownSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->GetUnknown(), &cookie), S_OK);

    simulator_.RequestShutdown(u"maintenance");
    EXPECT_TRUE(sink->reasons.empty()) << "the request ran before the apartment was drained";
    Apartment::Ui().Drain();
    EXPECT_EQ(sink->reasons, std::vector<std::u16string>{u"maintenance"});
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// A data object with one registered format held in global memory.
class Blob final : public ComObject<IDataObject> {
  public:
    explicit Blob(CLIPFORMAT format) : format_(format) {}

    HRESULT GetData(FORMATETC* f, STGMEDIUM* m) override {
        if (f == nullptr || m == nullptr) {
            return E_INVALIDARG;
        }
        const HRESULT hr = QueryGetData(f);
        if (FAILED(hr)) {
            return hr;
        }
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
        GlobalUnlock(block);
        *m = STGMEDIUM{};
        m->tymed = TYMED_HGLOBAL;
        m->hGlobal = block;
        return S_OK;
    }
    HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT QueryGetData(FORMATETC* f) override {
        if (f->cfFormat != format_) {
            return DV_E_FORMATETC;
        }
        return (f->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_TYMED;
    }
    HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT SetData(FORMATETC* f, STGMEDIUM* m, BOOL release) override {
        const HRESULT hr = QueryGetData(f);
        if (FAILED(hr)) {
            return hr;
        }
        const auto* data = static_cast<const BYTE*>(GlobalLock(m->hGlobal));
        bytes.assign(data, data + GlobalSize(m->hGlobal));
        GlobalUnlock(m->hGlobal);
        if (release) {
            ReleaseStgMedium(m);
        }
        return S_OK;
    }
    HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT DUnadvise(DWORD) override { return OLE_E_NOCONNECTION; }
    HRESULT EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

    std::vector<BYTE> bytes{1, 2, 3, 0, 255};

  private:
    CLIPFORMAT format_;
};

class OneObjectFactory final : public ComObject<IClassFactory> {
  public:
    explicit OneObjectFactory(ComPtr<IUnknown> object) : object_(std::move(object)) {}
    HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        return object_->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

  private:
    ComPtr<IUnknown> object_;
};

// A served object and the proxy of its class factory, over a socket pair.
struct Served {
    std::shared_ptr<RpcLink> serverLink;
    std::shared_ptr<RpcLink> clientLink;
    ComPtr<IClassFactory> factory;

    explicit Served(ComPtr<IUnknown> object) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        EXPECT_EQ(ServeClassFactory(MakeComObject<OneObjectFactory>(std::move(object)), fds[0],
                                    &serverLink),
                  S_OK);
        IClassFactory* raw = nullptr;
        EXPECT_EQ(ConnectClassFactory(fds[1], &raw, &clientLink), S_OK);
        factory = ComPtr<IClassFactory>::Attach(raw);
    }
    ~Served() {
        factory.Reset();
        clientLink.reset();
        serverLink.reset();
        Apartment::Ui().Drain();
    }
};

TEST(DataObjectOverRpc, GlobalMemoryCrossesByValueInRegisteredFormats) {
    const std::size_t globals = GlobalLiveBlocks();
    const auto format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Tagvista.Test.Blob"));
    ComPtr<Blob> blob = MakeComObject<Blob>(format);
    {
        Served served(ComPtr<IUnknown>(blob->GetUnknown()));
        ComPtr<IDataObject> data;
        ASSERT_EQ(served.factory->CreateInstance(nullptr, IID_IDataObject, data.PutVoid()), S_OK);

        FORMATETC f{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        EXPECT_EQ(data->QueryGetData(&f), S_OK);
        STGMEDIUM m{};
        ASSERT_EQ(data->GetData(&f, &m), S_OK);
        ASSERT_EQ(m.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
        ASSERT_EQ(GlobalSize(m.hGlobal), blob->bytes.size());
        EXPECT_EQ(std::memcmp(GlobalLock(m.hGlobal), blob->bytes.data(), blob->bytes.size()), 0);
        GlobalUnlock(m.hGlobal);
        ReleaseStgMedium(&m);

        // The medium handed over is released by the callee, here by the proxy once sent.
        STGMEDIUM put{};
        put.tymed = TYMED_HGLOBAL;
        put.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 3);
        std::memcpy(GlobalLock(put.hGlobal), "abc", 3);
        GlobalUnlock(put.hGlobal);
        ASSERT_EQ(data->SetData(&f, &put, TRUE), S_OK);
        EXPECT_EQ(blob->bytes, (std::vector<BYTE>{'a', 'b', 'c'}));
        EXPECT_EQ(put.tymed, static_cast<DWORD>(TYMED_NULL));

        // Answers cross as they are; a medium that cannot cross is refused before any call.
        FORMATETC other{static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Tagvista.Test.Other")),
                        nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        EXPECT_EQ(data->QueryGetData(&other), DV_E_FORMATETC);
        STGMEDIUM stream{};
        stream.tymed = TYMED_ISTREAM;
        EXPECT_EQ(data->SetData(&f, &stream, FALSE), DV_E_TYMED);
    }
    EXPECT_EQ(GlobalLiveBlocks(), globals);
}

class CountingSink final : public ComObject<IOPCDataCallback> {
  public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                         FILETIME*, HRESULT*) override {
        ++calls;
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                           FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
    int calls = 0;
};

TEST_F(SimOverRpc, ACallbackToAClientThatHasGoneFailsAtOnce) {
    ComPtr<IUnknown> server = NewServer();
    ComPtr<IOPCServer> opc;
    ASSERT_EQ(server.As(opc), S_OK);
    ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ASSERT_EQ(opc->AddGroup(u"Orphan", TRUE, 100, 0, nullptr, nullptr, 0, &handle, &revised,
                            IID_IUnknown, group.Put()),
              S_OK);
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(group.As(items), S_OK);
    std::u16string id = u"Signals.Ramp";
    OPCITEMDEF def{};
    def.szItemID = id.data();
    def.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->AddItems(1, &def, &results, &errors), S_OK);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(group.As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    ComPtr<CountingSink> sink = MakeComObject<CountingSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->GetUnknown(), &cookie), S_OK);
    simulator_.AdvanceTime(200ms);
    Apartment::Ui().Drain();
    EXPECT_GT(sink->calls, 0);

    // The client's end goes; the server's next updates fail quickly and nothing hangs.
    clientLink_->Close();
    EXPECT_TRUE(serverLink_->WaitClosed(1s));
    sink->calls = 0;
    const auto start = std::chrono::steady_clock::now();
    simulator_.AdvanceTime(1000ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    Apartment::Ui().Drain();
    EXPECT_EQ(sink->calls, 0);
    // The server lets go of everything the client held, on its call thread, soon after.
    point.Reset();
    container.Reset();
    items.Reset();
    group.Reset();
    opc.Reset();
    server.Reset();
    Apartment::Ui().Drain();
    for (int i = 0; i < 100 && simulator_.LiveServerCount() != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(simulator_.LiveServerCount(), 0);
}

}  // namespace
}  // namespace rpc_test
