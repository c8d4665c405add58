// opcsim's server options through a real process: registered with the options, started by
// activation, and seen from the client side.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "com/activation.h"
#include "com/apartment.h"
#include "com/com_object.h"
#include "com/connection_point.h"
#include "com/registry.h"
#include "opc/runtime_fixture.h"
#include "opcda/callback.h"
#include "opcda/group.h"
#include "opcda/ids.h"
#include "opcda/server.h"
#include "rpc/local_server_provider.h"
#include "transport/process_helpers.h"

namespace {

using transport_test::RunProgram;

class OpcsimOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = SetLocalServerProvider(provider_);
        dir_ = std::filesystem::temp_directory_path() /
               ("tgv-opcsim-options-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "with blank");
    }
    void TearDown() override {
        SetLocalServerProvider(previous_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::filesystem::path WriteFile(const std::string& name, const std::string& text) {
        const std::filesystem::path file = dir_ / name;
        std::ofstream(file) << text;
        return file;
    }

    static std::string LocalServerCommand() {
        const std::string key = "SOFTWARE\\Classes\\CLSID\\" +
                                GuidToString(CLSID_TagvistaSimulator) + "\\LocalServer32";
        HKEY hkey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) {
            return {};
        }
        char buffer[4096] = {};
        DWORD size = sizeof buffer - 1;
        DWORD type = 0;
        const LSTATUS status =
            RegQueryValueExA(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(hkey);
        return status == ERROR_SUCCESS ? std::string(buffer) : std::string();
    }

    // A server object of a freshly started opcsim, as IOPCServer.
    ComPtr<IOPCServer> StartServer() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                                   IID_IClassFactory, factory.PutVoid()),
                  S_OK);
        ComPtr<IOPCServer> server;
        if (factory) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.PutVoid()), S_OK);
        }
        return server;
    }

    ScopedRegistryDirectory registry;
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    RecordingHost host;
    std::shared_ptr<LocalServerProcessProvider> provider_ =
        std::make_shared<LocalServerProcessProvider>();
    std::shared_ptr<ILocalServerProvider> previous_;
    std::filesystem::path dir_;
};

TEST_F(OpcsimOptionsTest, AddressSpaceFileIsWhatTheClientBrowses) {
    const std::filesystem::path file = WriteFile("with blank/space.json", R"({"branches": [
        {"name": "Mill", "branches": [{"name": "Roller", "leaves": [
            {"name": "Speed", "type": "R4", "signal": {"kind": "ramp", "period": 1000}},
            {"name": "Mode", "type": "BSTR", "value": "auto"}]}]},
        {"name": "Load", "load": 3}]})");
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--address-space", file.string()}), 0);
    // The registration carries the option, the blank in the path quoted.
    const std::string command = LocalServerCommand();
    EXPECT_NE(command.find(" --address-space \"" + file.string() + "\""), std::string::npos)
        << command;

    auto server = std::make_unique<COPCServer>(&host);
    server->progId = kSimulatorProgId;
    ASSERT_TRUE(server->Connect()) << (ui.LastMessage() ? ui.LastMessage()->text : "");
    server->SetBrowseFilter("*", VT_EMPTY, 0);
    std::vector<std::string> names;
    ASSERT_TRUE(server->ListBrowseNames(OPC_BRANCH, names));
    EXPECT_EQ(names, (std::vector<std::string>{"Mill", "Load"}));
    ASSERT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Mill"));
    ASSERT_TRUE(server->MoveBrowsePosition(OPC_BROWSE_DOWN, "Roller"));
    ASSERT_TRUE(server->ListBrowseNames(OPC_LEAF, names));
    EXPECT_EQ(names, (std::vector<std::string>{"Speed", "Mode"}));
    EXPECT_EQ(server->GetFullItemId("Speed"), "Mill.Roller.Speed");

    // Its items deliver values of their declared type.
    auto group = std::make_unique<COPCGroup>(*server);
    group->name = "G";
    group->updateRate = 100;
    COPCGroup* const added = server->AddGroup(std::move(group));
    ASSERT_NE(added, nullptr);
    auto item = std::make_unique<COPCItem>(*added);
    item->itemId = "Mill.Roller.Mode";
    item->itemIdNumber = 1;
    ASSERT_NE(added->AddItem(std::move(item)), nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (host.updates.empty() && std::chrono::steady_clock::now() < deadline) {
        Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(host.updates.empty());
    EXPECT_EQ(host.updates.front().vt, VT_BSTR);
    EXPECT_EQ(host.updates.front().text, "auto");
    server.reset();
    Apartment::Ui().Drain();
}

TEST_F(OpcsimOptionsTest, BadAddressSpaceFileIsRefusedAndNeverServed) {
    const std::filesystem::path bad = WriteFile("bad.json", "{\"leaves\": [{\"name\": 1}]}");
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--address-space", bad.string()}), 1);
    EXPECT_TRUE(LocalServerCommand().empty());
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--address-space", bad.string()}), 1);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--fail", "AddGroup"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-UnregServer", "--delay-ms", "5"}), 2);

    // A registration whose file has gone bad since: the activation fails, nothing is served.
    const std::filesystem::path file = WriteFile("good.json", "{\"leaves\": [{\"name\": \"x\"}]}");
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--address-space", file.string()}), 0);
    WriteFile("good.json", "{\"leaves\": [");
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(factory, nullptr);
    for (const pid_t pid : provider_->RunningChildren()) {
        EXPECT_TRUE(provider_->WaitForExit(pid, std::chrono::seconds(5)));
    }
}

TEST_F(OpcsimOptionsTest, FailAndMissingInterfaceAreSeenByTheClient) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--fail", "IOPCServer::AddGroup=0x80070057",
                                       "--fail=GetStatus=S_FALSE", "--missing-interface",
                                       "IOPCBrowseServerAddressSpace"}),
              0);
    const ComPtr<IOPCServer> server = StartServer();
    ASSERT_TRUE(server);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    EXPECT_EQ(server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, group.Put()),
              E_INVALIDARG);
    EXPECT_FALSE(group);
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(&status), S_FALSE);
    EXPECT_EQ(status, nullptr);  // the out-parameters of a refused call stay empty
    ComPtr<IUnknown> browse;
    EXPECT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.PutVoid()),
              E_NOINTERFACE);
    ComPtr<IUnknown> common;
    EXPECT_EQ(server->QueryInterface(IID_IOPCCommon, common.PutVoid()), S_OK);
}

TEST_F(OpcsimOptionsTest, ServerThatDiesMidSessionIsADisconnection) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--die-after-ms", "700"}), 0);
    EXPECT_NE(LocalServerCommand().find(" --die-after-ms 700"), std::string::npos);
    const ComPtr<IOPCServer> server = StartServer();
    ASSERT_TRUE(server);
    const std::vector<pid_t> children = provider_->RunningChildren();
    ASSERT_EQ(children.size(), 1u);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    status = nullptr;

    ASSERT_TRUE(provider_->WaitForExit(children[0], std::chrono::seconds(10)));
    // Every later call fails as a broken connection does: at once, not after a timeout.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
    EXPECT_EQ(status, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

// Counts the values delivered to it.
class CountingSink final : public ComObject<IOPCDataCallback> {
  public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*, VARIANT*,
                         WORD*, FILETIME*, HRESULT*) override {
        values += dwCount;
        std::this_thread::sleep_for(delay);
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
    std::uint64_t values = 0;
    std::chrono::milliseconds delay{0};  // a client slower than its server
};

TEST_F(OpcsimOptionsTest, ServerFasterThanTheClientIsHeldBackAndDrainsEnd) {
    // 10,000 changing items every 10 ms: a million values a second.
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--load-rate", "10"}), 0);
    const ComPtr<IOPCServer> server = StartServer();
    ASSERT_TRUE(server);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    ASSERT_TRUE(
        SUCCEEDED(server->AddGroup(u"Fast", TRUE, 10, 1, nullptr, nullptr, 0, &handle, &revised,
                                   IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.Put()))));
    EXPECT_EQ(revised, 10u);
    std::vector<std::u16string> ids;
    std::vector<OPCITEMDEF> defs(10000);
    for (int i = 0; i < 10000; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "Load.Item%05d", i);
        ids.emplace_back(id, id + std::strlen(id));
    }
    for (std::size_t i = 0; i < defs.size(); ++i) {
        defs[i] = OPCITEMDEF{nullptr, ids[i].data(), TRUE,     static_cast<OPCHANDLE>(i),
                             0,       nullptr,       VT_EMPTY, 0};
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->AddItems(10000, defs.data(), &results, &errors), S_OK);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    const ComPtr<CountingSink> sink = MakeComObject<CountingSink>();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(items->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);

    // Nobody drains for a while: the queue stops growing at a bound (a few dozen batches of
    // 10,000), where without a bound it would hold a hundred batches a second. The server is
    // given time to fill it however loaded the machine is, then as long again to overrun it.
    const auto filling = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Apartment::Ui().Pending() <= 5u && std::chrono::steady_clock::now() < filling) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::size_t queued = Apartment::Ui().Pending();
    EXPECT_GT(queued, 5u);
    EXPECT_LE(queued, 30u);
    // Draining lets the server go on at the client's pace.
    Apartment::Ui().Drain();
    const std::uint64_t drained = sink->values;
    EXPECT_GE(drained, queued * 10000 - 10000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sink->values < drained + 200000 && std::chrono::steady_clock::now() < deadline) {
        Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(10));
    }
    EXPECT_GE(sink->values, drained + 200000);

    // A client slower than the server still gets back to its event loop: a drain ends once
    // what was queued before it has run, instead of chasing the stream for ever.
    sink->delay = std::chrono::milliseconds(30);
    Apartment::Ui().Drain();
    for (int i = 0; i < 3; ++i) {
        const auto began = std::chrono::steady_clock::now();
        Apartment::Ui().Drain();
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    }
    sink->delay = std::chrono::milliseconds(0);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    Apartment::Ui().Drain();
}

// 100-nanosecond intervals since 1601-01-01, as a signed count for differences.
std::int64_t Ticks(const FILETIME& ft) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                     ft.dwLowDateTime);
}

std::int64_t NowTicks() {
    constexpr std::int64_t kUnixEpoch = 116444736000000000LL;
    return kUnixEpoch + std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                                .count() *
                            10;
}

TEST_F(OpcsimOptionsTest, ServerOnRealTimeStampsWithTheWallClock) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    const std::int64_t before = NowTicks();
    const ComPtr<IOPCServer> server = StartServer();
    ASSERT_TRUE(server);
    constexpr std::int64_t kSlack = 5LL * 10000000;  // five seconds

    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    const std::int64_t started = Ticks(status->ftStartTime);
    const std::int64_t current = Ticks(status->ftCurrentTime);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    EXPECT_LE(std::llabs(started - before), kSlack);
    EXPECT_GE(current, started);
    EXPECT_LE(std::llabs(current - NowTicks()), kSlack);

    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    ASSERT_EQ(server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, group.Put()),
              S_OK);
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(group->QueryInterface(IID_IOPCItemMgt, items.PutVoid()), S_OK);
    std::u16string id = u"Signals.Ramp";
    OPCITEMDEF def{};
    def.szItemID = id.data();
    def.bActive = TRUE;
    def.hClient = 1;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->AddItems(1, &def, &results, &errors), S_OK);
    OPCHANDLE item = results[0].hServer;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    // Some real time passes before the read.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(items->QueryInterface(IID_IOPCSyncIO, io.PutVoid()), S_OK);
    OPCITEMSTATE* values = nullptr;
    ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, &item, &values, &errors), S_OK);
    const std::int64_t stamped = Ticks(values[0].ftTimeStamp);
    VariantClear(&values[0].vDataValue);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    EXPECT_LE(std::llabs(stamped - NowTicks()), kSlack);
    EXPECT_GE(stamped, started + 2000000);  // the time passed shows
}

}  // namespace
