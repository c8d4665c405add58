// The transport between a client and a served class factory: identity, the memory rule,
// HRESULTs, callbacks through the apartment, disconnection, timeouts and hostile messages.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "com/com_object.h"
#include "com/connection_point.h"
#include "rpc/connection.h"
#include "rpc/marshal.h"
#include "rpc/wire_values.h"
#include "rpc_fixture.h"

namespace rpc_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Adds a group through a proxy and returns it as IUnknown.
ComPtr<IUnknown> AddGroup(IOPCServer& server, const char16_t* name, OPCHANDLE* handle = nullptr) {
    ComPtr<IUnknown> group;
    OPCHANDLE serverHandle = 0;
    DWORD revised = 0;
    EXPECT_EQ(server.AddGroup(name, TRUE, 1000, 7, nullptr, nullptr, 0, &serverHandle, &revised,
                              IID_IUnknown, group.Put()),
              S_OK);
    if (handle != nullptr) {
        *handle = serverHandle;
    }
    return group;
}

ComPtr<IOPCServer> OpcServer(const ComPtr<IUnknown>& unknown) {
    ComPtr<IOPCServer> server;
    EXPECT_EQ(unknown.As(server), S_OK);
    return server;
}

bool IsTaskBlock(void* p) {
    IMalloc* malloc = nullptr;
    CoGetMalloc(MEMCTX_TASK, &malloc);
    const bool ours = malloc->DidAlloc(p) == 1;
    malloc->Release();
    return ours;
}

// Records the data callbacks it gets, and the thread they run on.
class RecordingSink final : public ComObject<IOPCDataCallback> {
  public:
    struct Call {
        DWORD transid;
        std::thread::id thread;
        std::vector<OPCHANDLE> handles;
        std::u16string text;
    };
    std::vector<Call> calls;
    int writeCompletes = 0;
    int cancelCompletes = 0;

    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                         OPCHANDLE* phClientItems, VARIANT* pvValues, WORD*, FILETIME*,
                         HRESULT*) override {
        Call call{dwTransid, std::this_thread::get_id(), {}, {}};
        for (DWORD i = 0; i < dwCount; ++i) {
            call.handles.push_back(phClientItems[i]);
        }
        if (dwCount > 0 && pvValues[0].vt == VT_BSTR) {
            call.text = BstrView(pvValues[0].bstrVal);
        }
        calls.push_back(std::move(call));
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT q, HRESULT e, DWORD dwCount,
                           OPCHANDLE* h, VARIANT* v, WORD* w, FILETIME* t, HRESULT* x) override {
        return OnDataChange(dwTransid, hGroup, q, e, dwCount, h, v, w, t, x);
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override {
        ++writeCompletes;
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override {
        ++cancelCompletes;
        return S_OK;
    }
};

// A served object with one connection point for IOPCDataCallback, through which the test calls
// the client's sinks as a server would.
class Source final : public ComObject<IConnectionPointContainer> {
  public:
    Source() : point_(*this, IID_IOPCDataCallback) {}
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        CConnectionPoint* points[] = {&point_};
        return EnumConnectionPointsOf(points, ppEnum);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        CConnectionPoint* points[] = {&point_};
        return FindConnectionPointIn(points, riid, ppCP);
    }
    std::vector<ComPtr<IOPCDataCallback>> Sinks() { return point_.SinksAs<IOPCDataCallback>(); }

  private:
    CConnectionPoint point_;
};

// A class factory that hands out one object.
class OneObjectFactory final : public ComObject<IClassFactory> {
  public:
    explicit OneObjectFactory(ComPtr<IUnknown> object) : object_(std::move(object)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return object_->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

  private:
    ComPtr<IUnknown> object_;
};

TEST_F(SimOverRpc, OneRemoteObjectHasOneProxyAndLocalObjectsComeBackAsThemselves) {
    ComPtr<IOPCServer> server = OpcServer(NewServer());
    OPCHANDLE handle = 0;
    ComPtr<IUnknown> group = AddGroup(*server, u"Same", &handle);
    ComPtr<IUnknown> byName;
    ASSERT_EQ(server->GetGroupByName(u"Same", IID_IOPCItemMgt, byName.Put()), S_OK);
    ComPtr<IUnknown> a;
    ComPtr<IUnknown> b;
    ASSERT_EQ(group->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
    ASSERT_EQ(byName->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
    EXPECT_EQ(a.Get(), b.Get()) << "two proxies of one group";
    ComPtr<IUnknown> other = AddGroup(*server, u"Other");
    EXPECT_NE(other.Get(), group.Get());

    // An interface nothing can carry is refused without asking the server.
    void* out = &out;
    EXPECT_EQ(group->QueryInterface(IID_IOPCItemProperties, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    // The client's own sink, listed by the server, comes back as the client's object.
    ComPtr<RecordingSink> sink = MakeComObject<RecordingSink>();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(group.As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->GetUnknown(), &cookie), S_OK);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
    CONNECTDATA data{};
    ULONG fetched = 0;
    ASSERT_EQ(connections->Next(1, &data, &fetched), S_OK);
    ASSERT_EQ(fetched, 1u);
    ComPtr<IUnknown> listed = ComPtr<IUnknown>::Attach(data.pUnk);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(listed->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    EXPECT_EQ(identity.Get(), sink->GetUnknown()) << "the sink came back as a proxy";
    EXPECT_EQ(data.dwCookie, cookie);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(server->RemoveGroup(handle, TRUE), S_OK);
}

TEST_F(SimOverRpc, MemoryTheClientGetsIsTaskMemoryAndHresultsCrossUnchanged) {
    ComPtr<IOPCServer> server = OpcServer(NewServer());
    ComPtr<IUnknown> group = AddGroup(*server, u"Memory");
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(group.As(items), S_OK);
    std::u16string good = u"Static.Int32";
    std::u16string bad = u"No.Such.Item";
    OPCITEMDEF defs[2] = {};
    defs[0].szItemID = good.data();
    defs[0].bActive = TRUE;
    defs[0].hClient = 1;
    defs[1].szItemID = bad.data();
    defs[1].hClient = 2;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(items->AddItems(2, defs, &results, &errors), S_FALSE);
    ASSERT_NE(results, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_TRUE(IsTaskBlock(results));
    EXPECT_TRUE(IsTaskBlock(errors));
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(results[0].vtCanonicalDataType, VT_I4);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    LPWSTR text = nullptr;
    ASSERT_EQ(server->GetErrorString(OPC_E_BADTYPE, 0, &text), S_OK);
    EXPECT_TRUE(IsTaskBlock(text));
    CoTaskMemFree(text);

    // Whatever the server answers reaches the client as it is, success codes included.
    simulator_.Faults().callResults["AddGroup"] = static_cast<HRESULT>(0x8004ABCD);
    simulator_.Faults().callResults["ChangeBrowsePosition"] = S_FALSE;
    simulator_.Faults().callResults["SetClientName"] = static_cast<HRESULT>(0x0004ABCD);
    ComPtr<IUnknown> refused;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_EQ(server->AddGroup(u"X", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, refused.Put()),
              static_cast<HRESULT>(0x8004ABCD));
    EXPECT_FALSE(refused);
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(server.As(browse), S_OK);
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Signals"), S_FALSE);
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(server.As(common), S_OK);
    EXPECT_EQ(common->SetClientName(u"test"), static_cast<HRESULT>(0x0004ABCD));
    simulator_.Faults() = SimFaults{};
}

TEST(CallbacksOverRpc, AreAnsweredAtOnceAndRunOnTheUiThreadInArrivalOrder) {
    Apartment::Ui().Drain();
    ComPtr<Source> source = MakeComObject<Source>();
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::shared_ptr<RpcLink> serverLink;
    std::shared_ptr<RpcLink> clientLink;
    ASSERT_EQ(
        ServeClassFactory(MakeComObject<OneObjectFactory>(ComPtr<IUnknown>(source->GetUnknown())),
                          fds[0], &serverLink),
        S_OK);
    IClassFactory* rawFactory = nullptr;
    ASSERT_EQ(ConnectClassFactory(fds[1], &rawFactory, &clientLink), S_OK);
    ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Attach(rawFactory);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IConnectionPointContainer, container.PutVoid()),
              S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    ComPtr<RecordingSink> sink = MakeComObject<RecordingSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink->GetUnknown(), &cookie), S_OK);
    ASSERT_EQ(source->Sinks().size(), 1u);

    // The server calls from a thread of its own; every call is answered S_OK while the
    // client's user-interface thread is busy elsewhere.
    constexpr DWORD kCalls = 50;
    std::vector<HRESULT> answers;
    std::thread server([&] {
        ComPtr<IOPCDataCallback> callback = source->Sinks().at(0);
        for (DWORD i = 1; i <= kCalls; ++i) {
            OPCHANDLE handles[2] = {i, i + 1000};
            VARIANT values[2];
            VariantInit(&values[0]);
            VariantInit(&values[1]);
            values[0].vt = VT_BSTR;
            values[0].bstrVal = SysAllocString(u"value");
            values[1].vt = VT_R8;
            values[1].dblVal = i;
            WORD qualities[2] = {192, 192};
            FILETIME times[2] = {};
            HRESULT errors[2] = {S_OK, S_OK};
            answers.push_back(callback->OnDataChange(i, 0, S_OK, S_OK, 2, handles, values,
                                                     qualities, times, errors));
            // The server's arrays are gone as soon as the call returns.
            VariantClear(&values[0]);
        }
        HRESULT errors[1] = {S_OK};
        OPCHANDLE handles[1] = {1};
        answers.push_back(callback->OnWriteComplete(9, 0, S_OK, 1, handles, errors));
        answers.push_back(callback->OnCancelComplete(10, 0));
    });
    server.join();
    EXPECT_EQ(answers, std::vector<HRESULT>(kCalls + 2, S_OK));
    EXPECT_TRUE(sink->calls.empty()) << "a callback ran before the apartment was drained";
    EXPECT_EQ(Apartment::Ui().Pending(), kCalls + 2);

    Apartment::Ui().Drain();
    ASSERT_EQ(sink->calls.size(), kCalls);
    for (DWORD i = 0; i < kCalls; ++i) {
        EXPECT_EQ(sink->calls[i].transid, i + 1) << "out of order";
        EXPECT_EQ(sink->calls[i].thread, std::this_thread::get_id());
        EXPECT_EQ(sink->calls[i].handles, (std::vector<OPCHANDLE>{i + 1, i + 1001}));
        EXPECT_EQ(sink->calls[i].text, u"value");
    }
    EXPECT_EQ(sink->writeCompletes, 1);
    EXPECT_EQ(sink->cancelCompletes, 1);

    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_TRUE(source->Sinks().empty());
    point.Reset();
    container.Reset();
    factory.Reset();
    clientLink.reset();
    serverLink.reset();
    Apartment::Ui().Drain();
}

TEST_F(SimOverRpc, APeerThatGoesAwayFailsTheCallInProgressAndEveryLaterOne) {
    ComPtr<IOPCServer> server = OpcServer(NewServer());
    ComPtr<IUnknown> group = AddGroup(*server, u"Doomed");
    ComPtr<IOPCSyncIO> sync;
    ASSERT_EQ(group.As(sync), S_OK);

    // The server takes its time over the next call, and its end goes away meanwhile.
    simulator_.Faults().delayMs = 1000;
    const Clock::time_point start = Clock::now();
    std::thread killer([&] {
        std::this_thread::sleep_for(100ms);
        serverLink_->Close();
    });
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
    const auto waited = Clock::now() - start;
    killer.join();
    EXPECT_EQ(status, nullptr);
    EXPECT_LT(waited, 700ms) << "the call waited for the dead server";
    EXPECT_TRUE(clientLink_->WaitClosed(1s));

    // Every object of the server fails at once, new interfaces included; releasing is safe.
    const Clock::time_point later = Clock::now();
    EXPECT_EQ(server->RemoveGroup(1, FALSE), RPC_E_DISCONNECTED);
    OPCHANDLE handle = 1;
    HRESULT* errors = nullptr;
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(sync->Write(1, &handle, &value, &errors), RPC_E_DISCONNECTED);
    EXPECT_EQ(errors, nullptr);
    ComPtr<IOPCItemMgt> items;
    EXPECT_EQ(group.As(items), RPC_E_DISCONNECTED);
    EXPECT_LT(Clock::now() - later, 200ms);
    sync.Reset();
    group.Reset();
    server.Reset();
    IUnknown* none = nullptr;
    EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&none)),
              RPC_E_DISCONNECTED);
    EXPECT_EQ(none, nullptr);

    // The abandoned call finishes on the server's call thread before the memory is counted.
    std::this_thread::sleep_until(start + 1300ms);
    simulator_.Faults() = SimFaults{};
}

TEST_F(SimOverRpc, ACallWithoutAnAnswerInTimeFailsAndTheConnectionStays) {
    ComPtr<IOPCServer> server = OpcServer(NewServer());
    const std::chrono::milliseconds before = RpcCallTimeout();
    SetRpcCallTimeout(200ms);
    simulator_.Faults().delayMs = 700;
    const Clock::time_point start = Clock::now();
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(&status), RPC_E_TIMEOUT);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(status, nullptr);
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 650ms);
    SetRpcCallTimeout(before);

    // The late answer is dropped; the next call is answered as usual.
    std::this_thread::sleep_until(start + 800ms);
    simulator_.Faults() = SimFaults{};
    EXPECT_TRUE(clientLink_->IsOpen());
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

TEST_F(SimOverRpc, ARequestWhoseArraysDoNotMatchItsCountIsRefused) {
    ComPtr<IOPCServer> server = OpcServer(NewServer());
    ComPtr<IUnknown> group = AddGroup(*server, u"Checked");
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(group.As(items), S_OK);
    std::u16string id = u"Static.Int32";
    OPCITEMDEF def{};
    def.szItemID = id.data();
    def.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->AddItems(1, &def, &results, &errors), S_OK);
    const OPCHANDLE handle = results[0].hServer;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    // A client that claims three handles and sends one.
    ComPtr<tgv::rpc::ProxyManager> manager;
    ASSERT_EQ(items->QueryInterface(tgv::rpc::IID_IRpcProxyManager, manager.PutVoid()), S_OK);
    const HRESULT hr = manager->Call<tgv::wire::OpcItemMgt>(
        IID_IOPCItemMgt, [&](tgv::wire::OpcItemMgt::Client& cap) {
            auto request = cap.removeItemsRequest();
            request.setCount(3);
            request.initServerHandles(1).set(0, handle);
            request.setWants(1);
            return request.send().then([](auto&& r) -> HRESULT {
                EXPECT_FALSE(r.hasErrors());
                return r.getHr();
            });
        });
    EXPECT_EQ(hr, RPC_E_INVALID_DATA);
    // Nothing was done: the item is still there.
    EXPECT_EQ(items->RemoveItems(1, const_cast<OPCHANDLE*>(&handle), &errors), S_OK);
    EXPECT_EQ(errors[0], S_OK);
    CoTaskMemFree(errors);
}

// A server that answers a string enumerator's Next with more names than were asked for.
class GreedyEnum final : public tgv::wire::EnumString::Server {
  public:
    kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
        context.getResults().setHr(E_NOINTERFACE);
        return kj::READY_NOW;
    }
    kj::Promise<void> next(NextContext context) override {
        auto results = context.getResults();
        const unsigned count = context.getParams().getCount() + 5;
        auto items = results.initItems(count);
        for (unsigned i = 0; i < count; ++i) {
            items[i].initText(3);
        }
        results.setFetched(count);
        results.setHr(S_OK);
        return kj::READY_NOW;
    }
    kj::Promise<void> skip(SkipContext) override { return kj::READY_NOW; }
    kj::Promise<void> reset(ResetContext) override { return kj::READY_NOW; }
    kj::Promise<void> clone(CloneContext) override { return kj::READY_NOW; }
};

class GreedyFactory final : public tgv::wire::ClassFactory::Server {
  public:
    kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
        context.getResults().setHr(E_NOINTERFACE);
        return kj::READY_NOW;
    }
    kj::Promise<void> createInstance(CreateInstanceContext context) override {
        auto object = context.getResults().initObject();
        object.setCap(tgv::wire::EnumString::Client(kj::heap<GreedyEnum>()));
        object.setIdentity(42);
        context.getResults().setHr(S_OK);
        return kj::READY_NOW;
    }
    kj::Promise<void> lockServer(LockServerContext) override { return kj::READY_NOW; }
    kj::Promise<void> sync(SyncContext) override { return kj::READY_NOW; }
};

TEST(HostileServer, AnswersThatBreakTheCallsRulesAreRefusedWithoutLeaks) {
    const std::size_t blocks = CoTaskMemLiveBlocks();
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::shared_ptr<tgv::rpc::Connection> hostile;
    ASSERT_TRUE(tgv::rpc::RpcRuntime::Instance().Run([&] {
        hostile = tgv::rpc::OpenOnStream(tgv::rpc::Connection::Role::Server, fds[0],
                                         capnp::Capability::Client(kj::heap<GreedyFactory>()));
    }));
    IClassFactory* rawFactory = nullptr;
    ASSERT_EQ(ConnectClassFactory(fds[1], &rawFactory), S_OK);
    ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::Attach(rawFactory);
    ComPtr<IEnumString> names;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IEnumString, names.PutVoid()), S_OK);

    LPOLESTR got[2] = {nullptr, nullptr};
    ULONG fetched = 7;
    EXPECT_EQ(names->Next(2, got, &fetched), RPC_E_INVALID_DATA);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(got[0], nullptr);
    EXPECT_EQ(got[1], nullptr);

    names.Reset();
    factory.Reset();
    tgv::rpc::RpcRuntime::Instance().Run([&] {
        hostile->Close();
        hostile.reset();
    });
    Apartment::Ui().Drain();
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocks);
}

}  // namespace
}  // namespace rpc_test
