// The server connection: activation and its messages, creating and removing groups on the
// server, the order of teardown, display texts and the stored image.

#include <algorithm>
#include <memory>
#include <vector>

#include "com/registry.h"
#include "model/archive.h"
#include "opc/runtime_classes.h"
#include "opcda/errors.h"
#include "opcda/ids.h"
#include "recording_server.h"
#include "runtime_fixture.h"

namespace {

using ServerTest = RuntimeTest;

TEST_F(ServerTest, ConnectsToTheRegisteredServerAndReleasesItOnDestruction) {
    auto server = Connected();
    EXPECT_EQ(server->connected, 1);
    EXPECT_TRUE(server->ServerObject());
    EXPECT_EQ(sim.LiveServerCount(), 1);
    EXPECT_EQ(ui.MessageCount(), 0u);

    // Remote without a node name means this machine.
    auto local = std::make_unique<COPCServer>(&host);
    local->progId = kSimulatorProgId;
    local->remote = 1;
    EXPECT_TRUE(local->Connect());
    EXPECT_EQ(sim.LiveServerCount(), 2);

    server.reset();
    local.reset();
    EXPECT_EQ(sim.LiveServerCount(), 0);
}

TEST_F(ServerTest, LocalActivationReportsEachFailureWithItsOwnMessage) {
    COPCServer unknown(&host);
    unknown.progId = "No.Such.Server";
    EXPECT_FALSE(unknown.Connect());
    EXPECT_EQ(unknown.connected, 0);
    EXPECT_FALSE(unknown.ServerObject());

    // Registered by ProgID, but nothing provides the class.
    ASSERT_EQ(RegSetStringInMemory(HKEY_CLASSES_ROOT, "Tagvista.Test.Orphan.1\\Clsid", "",
                                   "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"),
              ERROR_SUCCESS);
    COPCServer orphan(&host);
    orphan.progId = "Tagvista.Test.Orphan.1";
    EXPECT_FALSE(orphan.Connect());
    RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, "Tagvista.Test.Orphan.1");

    sim.Faults().callResults["CreateInstance"] = E_OUTOFMEMORY;
    COPCServer refused(&host);
    refused.progId = kSimulatorProgId;
    EXPECT_FALSE(refused.Connect());
    EXPECT_EQ(refused.connected, 0);

    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     "Failed connect to No.Such.Server",
                                     "CoGetClassObject- no Local server for (80040154)\n",
                                     "Error from CreateInstance (8007000e)\n",
                                 }));
}

// A node whose registry knows one ProgID, and whose activation creates simulation servers.
class FakeNode final : public IRemoteRegistryProvider, public IRemoteActivationProvider {
  public:
    FakeNode(Simulator& sim, std::string clsidText) : sim_(sim), clsidText_(std::move(clsidText)) {}

    LSTATUS Connect(const std::string& node, std::shared_ptr<IRemoteRegistryHive>& hive) override {
        registryNodes.push_back(node);
        if (node != "plant-host") {
            return ERROR_BAD_NETPATH;
        }
        hive = std::make_shared<Hive>(clsidText_);
        return ERROR_SUCCESS;
    }
    HRESULT CreateInstance(const std::string& node, REFCLSID clsid, DWORD count,
                           MULTI_QI* results) override {
        activations.push_back(node + " " + GuidToString(clsid));
        const ComPtr<IUnknown> server = sim_.CreateServer();
        HRESULT overall = E_NOINTERFACE;
        for (DWORD i = 0; i < count; ++i) {
            results[i].hr = server->QueryInterface(*results[i].pIID,
                                                   reinterpret_cast<void**>(&results[i].pItf));
            if (SUCCEEDED(results[i].hr)) {
                overall = S_OK;
            }
        }
        return overall;
    }
    HRESULT GetClassObject(const std::string&, REFCLSID, REFIID, void**) override {
        return E_NOTIMPL;
    }

    std::vector<std::string> registryNodes;
    std::vector<std::string> activations;

  private:
    class Hive final : public IRemoteRegistryHive {
      public:
        explicit Hive(std::string clsidText) : clsidText_(std::move(clsidText)) {}
        LSTATUS OpenKey(const std::string& keyPath) override {
            return Known(keyPath) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        }
        LSTATUS QueryValue(const std::string& keyPath, const std::string& valueName, DWORD& type,
                           std::vector<BYTE>& data) override {
            if (!Known(keyPath) || !valueName.empty()) {
                return ERROR_FILE_NOT_FOUND;
            }
            type = REG_SZ;
            data.assign(clsidText_.begin(), clsidText_.end());
            data.push_back(0);
            return ERROR_SUCCESS;
        }
        LSTATUS EnumKey(const std::string&, DWORD, std::string&) override {
            return ERROR_NO_MORE_ITEMS;
        }

      private:
        static bool Known(const std::string& keyPath) {
            std::string lower = keyPath;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            return lower == "software\\classes\\remote.only.1\\clsid" ||
                   lower == "software\\classes\\remote.only.1" || lower == "software\\classes" ||
                   lower == "software" || lower.empty();
        }
        std::string clsidText_;
    };

    Simulator& sim_;
    std::string clsidText_;
};

TEST_F(ServerTest, RemoteActivationTakesTheClassIdFromTheNodeAndFailsQuietly) {
    const std::string clsidText = GuidToString(CLSID_TagvistaSimulator);
    auto node = std::make_shared<FakeNode>(sim, clsidText);
    const auto previousRegistry = SetRemoteRegistryProvider(node);
    const auto previousActivation = SetRemoteActivationProvider(node);

    // Known only on the node: this machine's registry has no "Remote.Only.1".
    COPCServer remote(&host);
    remote.progId = "Remote.Only.1";
    remote.nodeName = "plant-host";
    remote.remote = 1;
    EXPECT_TRUE(remote.Connect());
    EXPECT_EQ(remote.connected, 1);
    EXPECT_EQ(node->activations, (std::vector<std::string>{"plant-host " + clsidText}));

    // Unknown there, an unreachable node: no message from the connection itself.
    COPCServer unknown(&host);
    unknown.progId = kSimulatorProgId;
    unknown.nodeName = "plant-host";
    unknown.remote = 1;
    EXPECT_FALSE(unknown.Connect());
    COPCServer unreachable(&host);
    unreachable.progId = "Remote.Only.1";
    unreachable.nodeName = "gone-host";
    unreachable.remote = 1;
    EXPECT_FALSE(unreachable.Connect());
    EXPECT_EQ(unreachable.connected, 0);
    EXPECT_EQ(ui.MessageCount(), 0u);

    // A class id text that does not parse leaves only the trace.
    auto badNode = std::make_shared<FakeNode>(sim, "not-a-clsid");
    SetRemoteRegistryProvider(badNode);
    SetRemoteActivationProvider(badNode);
    COPCServer bad(&host);
    bad.progId = "Remote.Only.1";
    bad.nodeName = "plant-host";
    bad.remote = 1;
    EXPECT_FALSE(bad.Connect());
    EXPECT_EQ(ui.Traces(), (std::vector<std::string>{"Failed"}));
    EXPECT_TRUE(badNode->activations.empty());
    EXPECT_EQ(ui.MessageCount(), 0u);

    SetRemoteRegistryProvider(previousRegistry);
    SetRemoteActivationProvider(previousActivation);
}

TEST_F(ServerTest, AddGroupCreatesAtRateZeroThenSetsTheConfiguredRate) {
    RecordingLog log;
    ScopedRecordingServer recording(sim, log);
    {
        COPCServer server(&host);
        server.progId = kRecordingProgId;
        ASSERT_TRUE(server.Connect());
        COPCGroup* group = AddGroup(server, "G1", 1234);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(server.Groups().size(), 1u);
        EXPECT_EQ(&server.Groups().front()->Server(), &server);
        EXPECT_TRUE(group->IsSubscribed());
        EXPECT_EQ(group->updateRate, 1234u);  // the revised rate is not kept

        ComPtr<IOPCGroupStateMgt> state;
        ASSERT_EQ(group->GroupObject().As(state), S_OK);
        DWORD rate = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT deadband = 0;
        DWORD lcid = 0;
        OPCHANDLE client = 99;
        OPCHANDLE serverHandle = 0;
        ASSERT_EQ(
            state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &serverHandle),
            S_OK);
        CoTaskMemFree(name);
        EXPECT_EQ(rate, 1240u);  // the simulator runs at multiples of 10 ms
        EXPECT_EQ(active, TRUE);
        EXPECT_EQ(client, 0u);
        EXPECT_EQ(serverHandle, group->ServerGroupHandle());
    }
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"AddGroup G1 rate 0", "RemoveGroup G1", "released"}));
    EXPECT_EQ(ui.MessageCount(), 0u);
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(ServerTest, AddGroupFailuresReportTheStepAndLeaveTheGroupUnlisted) {
    auto server = Connected();
    ASSERT_NE(AddGroup(*server, "Same"), nullptr);
    EXPECT_EQ(AddGroup(*server, "Same"), nullptr);  // the server refuses a duplicate name

    sim.Faults().missingInterfaces.insert(IID_IOPCGroupStateMgt);
    EXPECT_EQ(AddGroup(*server, "NoState"), nullptr);
    sim.Faults().missingInterfaces.clear();

    sim.Faults().missingInterfaces.insert(IID_IOPCServer);
    EXPECT_EQ(AddGroup(*server, "NoServer"), nullptr);
    sim.Faults().missingInterfaces.clear();

    EXPECT_EQ(server->Groups().size(), 1u);
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{
                                     "Error from AddGroup (c004000c)\n",
                                     "Error from AddGroup (80004002)\n",
                                     "Failed from query IID_IOPCServer interface ...",
                                 }));
    // A group made for another server is refused without a call.
    COPCServer other(&host);
    EXPECT_EQ(other.AddGroup(std::make_unique<COPCGroup>(*server)), nullptr);
    EXPECT_EQ(other.AddGroup(nullptr), nullptr);
    EXPECT_EQ(ui.MessageCount(), 3u);
}

TEST_F(ServerTest, RemoveGroupUnlistsOnlyWhenTheServerAnswersOk) {
    auto server = Connected();
    COPCGroup* kept = AddGroup(*server, "Kept");
    COPCGroup* removed = AddGroup(*server, "Removed");
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(removed, nullptr);

    EXPECT_TRUE(server->RemoveGroup(removed));
    EXPECT_EQ(server->Groups().size(), 1u);
    EXPECT_FALSE(server->RemoveGroup(nullptr));
    EXPECT_FALSE(server->RemoveGroup(removed));  // no longer listed

    // A success code other than S_OK is a failure: the group stays listed, unsubscribed.
    sim.Faults().callResults["RemoveGroup"] = OPC_S_INUSE;
    EXPECT_FALSE(server->RemoveGroup(kept));
    ASSERT_EQ(server->Groups().size(), 1u);
    EXPECT_EQ(server->Groups().front().get(), kept);
    EXPECT_FALSE(kept->IsSubscribed());
    EXPECT_FALSE(kept->GroupObject());
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from Remove Group Kept,4000f"}));

    // Without IOPCServer the removal fails quietly.
    sim.Faults().callResults.clear();
    sim.Faults().missingInterfaces.insert(IID_IOPCServer);
    EXPECT_FALSE(server->RemoveGroup(kept));
    sim.Faults().missingInterfaces.clear();
    EXPECT_EQ(ui.MessageCount(), 1u);

    // The next try, with the server willing, takes it.
    EXPECT_TRUE(server->RemoveGroup(kept));
    EXPECT_TRUE(server->Groups().empty());
    EXPECT_EQ(LeakedTaskBlocks(), 0u);
}

TEST_F(ServerTest, DestructionRemovesEveryGroupInListOrderThenReleasesTheServer) {
    RecordingLog log;
    ScopedRecordingServer recording(sim, log);
    auto server = std::make_unique<COPCServer>(&host);
    server->progId = kRecordingProgId;
    ASSERT_TRUE(server->Connect());
    for (const char* name : {"Zeta", "Alpha", "Mid"}) {
        ASSERT_NE(AddGroup(*server, name), nullptr);
    }
    // Each removal happens after the group was taken off the list.
    std::vector<std::size_t> listedAtRemoval;
    COPCServer* raw = server.get();
    log.onRemoveGroup = [&] { listedAtRemoval.push_back(raw->Groups().size()); };
    log.calls.clear();
    sim.Faults().callResults["RemoveGroup"] = S_FALSE;  // failures are shown, nothing stops
    server.reset();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"RemoveGroup Zeta", "RemoveGroup Alpha",
                                                   "RemoveGroup Mid", "released"}));
    EXPECT_EQ(listedAtRemoval, (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error from Remove Group Zeta,1",
                                                           "Error from Remove Group Alpha,1",
                                                           "Error from Remove Group Mid,1"}));
}

TEST_F(ServerTest, PropertyTextsAndTheStoredImage) {
    COPCServer server(&host);
    server.displayName = "OPCServer3";
    server.progId = "Vendor.Server.2";
    server.nodeName = "node7";
    EXPECT_EQ(server.GetPropertyText("name"), "OPCServer3");
    EXPECT_EQ(server.GetPropertyText("SERVER"), "Vendor.Server.2");
    EXPECT_EQ(server.GetPropertyText("Node"), "node7");
    EXPECT_EQ(server.GetPropertyText("REMOTE"), "Disable");
    server.remote = 1;
    EXPECT_EQ(server.GetPropertyText("remote"), "Enable");
    EXPECT_EQ(server.GetPropertyText("connected"), "");

    CArchive out;
    server.Serialize(out);
    EXPECT_EQ(out.Bytes(), (std::vector<std::uint8_t>{1, 0, 0, 0}));

    const std::vector<std::uint8_t> image{0xDE, 0xAD, 0xBE, 0xEF};
    const ClassRegistry classes = RuntimeClasses();
    CArchive in(image, classes);
    COPCServer loaded;
    loaded.Serialize(in);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(loaded.connected, 0);
    EXPECT_FALSE(loaded.ServerObject());
    EXPECT_EQ(loaded.Host(), nullptr);
    EXPECT_EQ(loaded.filterText, "*");
    EXPECT_EQ(loaded.accessRightsFilter, 3u);
    EXPECT_EQ(loaded.dataTypeFilter, VT_EMPTY);
}

}  // namespace
