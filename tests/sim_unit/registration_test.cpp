// The simulator registered as a class of this process: found by ProgID and category, created
// through the activation calls, with no program to start.

#include <gtest/gtest.h>

#include "com/activation.h"
#include "com/registry.h"
#include "com/registry_fixture.h"
#include "sim_client.h"

namespace {

// In a registry of its own: a simulator the user registered as a local server must not count.
using RegistrationInPrivateRegistry = RegistryTest;

TEST_F(RegistrationInPrivateRegistry, ActivationReachesTheInProcessSimulator) {
    Simulator sim;
    ASSERT_EQ(RegisterSimulatorInProcess(sim), S_OK);

    CLSID clsid = GUID_NULL;
    ASSERT_EQ(CLSIDFromProgID(u"Tagvista.Simulator.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TagvistaSimulator);
    const std::string key = "CLSID\\" + GuidToString(CLSID_TagvistaSimulator);
    EXPECT_TRUE(KeyExists(
        HKEY_CLASSES_ROOT,
        (key + "\\Implemented Categories\\" + GuidToString(CATID_OPCDAServer20)).c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, (key + "\\LocalServer32").c_str()));

    ComPtr<IOPCServer> server;
    ASSERT_EQ(CoCreateInstance(CLSID_TagvistaSimulator, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IOPCServer, server.PutVoid()),
              S_OK);
    EXPECT_EQ(sim.LiveServerCount(), 1);
    server.Reset();
    EXPECT_EQ(sim.LiveServerCount(), 0);

    // Registering again replaces the first registration; revoking removes it.
    Simulator other;
    ASSERT_EQ(RegisterSimulatorInProcess(other), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_TagvistaSimulator, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IOPCServer, server.PutVoid()),
              S_OK);
    EXPECT_EQ(other.LiveServerCount(), 1);
    EXPECT_EQ(sim.LiveServerCount(), 0);
    server.Reset();
    RevokeSimulatorInProcess();
    EXPECT_NE(CLSIDFromProgID(u"Tagvista.Simulator.1", &clsid), S_OK);
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_TagvistaSimulator, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_IOPCServer, server.PutVoid())));
}

}  // namespace

namespace {

class ShutdownSink final : public ComObject<IOPCShutdown> {
  public:
    std::vector<std::u16string> reasons;
    HRESULT ShutdownRequest(LPCWSTR szReason) override {
        reasons.emplace_back(szReason);
        return S_OK;
    }
};

TEST(Registration, ShutdownRequestsReachAdvisedClients) {
    Simulator sim;
    TestServer first(sim);
    TestServer second(sim);
    auto sink = MakeComObject<ShutdownSink>();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(first.server.As(container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()),
              CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCShutdown, point.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);

    sim.RequestShutdown(u"maintenance");
    EXPECT_EQ(sink->reasons, (std::vector<std::u16string>{u"maintenance"}));
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    sim.RequestShutdown(u"again");
    EXPECT_EQ(sink->reasons.size(), 1u);
}

}  // namespace
