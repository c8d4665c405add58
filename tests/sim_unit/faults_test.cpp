// The fault switches: fixed results by method name, per-item errors, refused interfaces and
// slow answers.

#include <gtest/gtest.h>

#include <chrono>

#include "sim_client.h"

namespace {

TEST(Faults, CallResultsByQualifiedOrPlainName) {
    Simulator sim;
    TestServer s(sim);
    auto group = s.AddGroup(u"g", 1000);
    const auto handles = AddItems(group.Get(), {u"Static.Double"});
    ComPtr<IOPCSyncIO> sync;
    ASSERT_EQ(group.As(sync), S_OK);
    auto callback = MakeComObject<RecordingCallback>();
    Advise(group.Get(), callback.Get());
    ComPtr<IOPCAsyncIO2> async;
    ASSERT_EQ(group.As(async), S_OK);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 1.0;
    OPCHANDLE h = handles[0];
    HRESULT* errors = nullptr;
    DWORD cancel = 0;

    // Only the asynchronous Write is broken.
    sim.Faults().callResults["IOPCAsyncIO2::Write"] = E_ACCESSDENIED;
    EXPECT_EQ(async->Write(1, &h, &v, 1, &cancel, &errors), E_ACCESSDENIED);
    EXPECT_EQ(errors, nullptr);
    ASSERT_EQ(sync->Write(1, &h, &v, &errors), S_OK);
    CoTaskMemFree(errors);

    // A plain name breaks every method of that name, and may be a success code.
    sim.Faults().callResults.clear();
    sim.Faults().callResults["Write"] = S_FALSE;
    EXPECT_EQ(sync->Write(1, &h, &v, &errors), S_FALSE);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(async->Write(1, &h, &v, 1, &cancel, &errors), S_FALSE);
    sim.Faults().callResults.clear();

    // "Advise" breaks the connection point.
    sim.Faults().callResults["Advise"] = CONNECT_E_ADVISELIMIT;
    auto second = MakeComObject<RecordingCallback>();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(group.As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    DWORD cookie = 7;
    EXPECT_EQ(point->Advise(second.Get(), &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(cookie, 0u);
}

TEST(Faults, ItemErrorsMissingInterfacesAndCreateInstance) {
    Simulator sim;
    sim.Faults().itemErrors["Signals.Ramp"] = OPC_E_BADRIGHTS;
    sim.Faults().missingInterfaces.insert(IID_IOPCBrowseServerAddressSpace);
    sim.Faults().missingInterfaces.insert(IID_IOPCAsyncIO2);
    TestServer s(sim);

    ComPtr<IOPCBrowseServerAddressSpace> browse;
    EXPECT_EQ(s.server.As(browse), E_NOINTERFACE);
    auto group = s.AddGroup(u"g", 1000);
    ComPtr<IOPCAsyncIO2> async;
    EXPECT_EQ(group.As(async), E_NOINTERFACE);
    // Asking AddGroup for a refused interface creates no group.
    ComPtr<IUnknown> none;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_EQ(s.server->AddGroup(u"h", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                 IID_IOPCAsyncIO2, none.Put()),
              E_NOINTERFACE);
    ComPtr<IUnknown> byName;
    EXPECT_EQ(s.server->GetGroupByName(u"h", IID_IUnknown, byName.Put()), E_INVALIDARG);

    std::u16string ids[2] = {u"Signals.Ramp", u"Signals.Sine"};
    OPCITEMDEF defs[2] = {{nullptr, ids[0].data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0},
                          {nullptr, ids[1].data(), TRUE, 2, 0, nullptr, VT_EMPTY, 0}};
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(group->AddItems(2, defs, &results, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_BADRIGHTS);
    EXPECT_EQ(errors[1], S_OK);
    EXPECT_EQ(results[0].hServer, 0u);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    sim.Faults().callResults["CreateInstance"] = E_OUTOFMEMORY;
    ComPtr<IUnknown> created;
    EXPECT_EQ(sim.ClassFactory()->CreateInstance(nullptr, IID_IOPCServer, created.PutVoid()),
              E_OUTOFMEMORY);
    EXPECT_FALSE(created);
    EXPECT_EQ(sim.LiveServerCount(), 1);
}

TEST(Faults, DelayedAnswers) {
    Simulator sim;
    TestServer s(sim);
    sim.Faults().delayMs = 30;
    const auto start = std::chrono::steady_clock::now();
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(s.server->GetStatus(&status), S_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
}

}  // namespace
