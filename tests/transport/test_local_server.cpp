// Local servers as processes: the real opcsim program registered, started through activation
// and reached by the runtime over a socket pair.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "com/activation.h"
#include "com/apartment.h"
#include "com/reg_file.h"
#include "com/registry.h"
#include "com/unicode.h"
#include "opc/runtime_fixture.h"
#include "rpc/local_server_provider.h"
#include "transport/process_helpers.h"

namespace {

using transport_test::RunProgram;

class LocalServerTest : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = SetLocalServerProvider(provider_); }
    void TearDown() override { SetLocalServerProvider(previous_); }

    // Registers the simulator's class with the given LocalServer32 command line.
    static void RegisterCommand(const std::string& command) {
        const std::string classKey = "CLSID\\" + GuidToString(CLSID_TagvistaSimulator);
        std::vector<RegFileKey> keys(2);
        keys[0].root = RegRoot::ClassesRoot;
        keys[0].subKey = std::string(kSimulatorProgId) + "\\Clsid";
        keys[0].values = {RegFileValue::String("", GuidToString(CLSID_TagvistaSimulator))};
        keys[1].root = RegRoot::ClassesRoot;
        keys[1].subKey = classKey + "\\LocalServer32";
        keys[1].values = {RegFileValue::String("", command)};
        ASSERT_EQ(RegistryWriteFile(RegistryUserDirectory() / "test.reg", keys), ERROR_SUCCESS);
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

    // Drains the apartment until the host has seen an update or the time is up.
    bool WaitForUpdates(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (host.updates.empty() && std::chrono::steady_clock::now() < deadline) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(50));
        }
        return !host.updates.empty();
    }

    ScopedRegistryDirectory registry;
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    RecordingHost host;
    std::shared_ptr<LocalServerProcessProvider> provider_ =
        std::make_shared<LocalServerProcessProvider>();
    std::shared_ptr<ILocalServerProvider> previous_;
};

TEST_F(LocalServerTest, RegServerWritesAndUnregServerRemovesTheRegistration) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(Utf8ToUtf16(kSimulatorProgId).c_str(), &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TagvistaSimulator);
    EXPECT_EQ(std::filesystem::path(LocalServerCommand()), std::filesystem::canonical(OPCSIM_PATH));
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TagvistaSimulator, &progId), S_OK);
    EXPECT_EQ(Utf16ToUtf8(progId), kSimulatorProgId);
    CoTaskMemFree(progId);
    const std::string category = "SOFTWARE\\Classes\\CLSID\\" +
                                 GuidToString(CLSID_TagvistaSimulator) +
                                 "\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}";
    HKEY hkey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, category.c_str(), 0, KEY_READ, &hkey),
              ERROR_SUCCESS);
    RegCloseKey(hkey);

    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-UnregServer"}), 0);
    EXPECT_EQ(CLSIDFromProgID(Utf8ToUtf16(kSimulatorProgId).c_str(), &clsid), CO_E_CLASSSTRING);
    // Nothing left to remove is not a failure.
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"/unregserver"}), 0);
}

TEST_F(LocalServerTest, CommandLineIsCheckedBeforeAnythingRuns) {
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"--help"}), 0);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"--bogus"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "-UnregServer"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--fd"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--fd", "3"}), 2);
    // No connection on the descriptor: a clear failure, not a server waiting forever.
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--fd", "900"}), 1);
    EXPECT_TRUE(std::filesystem::is_empty(RegistryUserDirectory()) ||
                !std::filesystem::exists(RegistryUserDirectory()));
}

TEST_F(LocalServerTest, RuntimeReachesTheStartedServerAndItsDataChanges) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    auto server = std::make_unique<COPCServer>(&host);
    server->progId = kSimulatorProgId;
    ASSERT_TRUE(server->Connect()) << (ui.LastMessage() ? ui.LastMessage()->text : "");
    const std::vector<pid_t> children = provider_->RunningChildren();
    ASSERT_EQ(children.size(), 1u);
    const pid_t pid = children[0];

    auto group = std::make_unique<COPCGroup>(*server);
    group->name = "Fast";
    group->updateRate = 100;
    COPCGroup* const added = server->AddGroup(std::move(group));
    ASSERT_NE(added, nullptr);
    auto item = std::make_unique<COPCItem>(*added);
    item->itemId = "Signals.Ramp";
    item->itemIdNumber = 1;
    COPCItem* const ramp = added->AddItem(std::move(item));
    ASSERT_NE(ramp, nullptr);

    ASSERT_TRUE(WaitForUpdates(std::chrono::seconds(3)));
    EXPECT_EQ(host.updates.front().item, ramp);
    EXPECT_FALSE(std::isnan(host.updates.front().number));
    EXPECT_EQ(ui.MessageCount(), 0u);

    // The last reference gone, the server process ends and is reaped.
    server.reset();
    Apartment::Ui().Drain();
    EXPECT_TRUE(provider_->WaitForExit(pid, std::chrono::seconds(5)));
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST_F(LocalServerTest, EachActivationStartsItsOwnProcess) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    auto first = std::make_unique<COPCServer>(&host);
    first->progId = kSimulatorProgId;
    auto second = std::make_unique<COPCServer>(&host);
    second->progId = kSimulatorProgId;
    ASSERT_TRUE(first->Connect());
    ASSERT_TRUE(second->Connect());
    const std::vector<pid_t> children = provider_->RunningChildren();
    ASSERT_EQ(children.size(), 2u);
    // Each leads a process group of its own, so a Ctrl-C at the client's terminal reaches the
    // client, which then lets go of its servers in order.
    for (const pid_t child : children) {
        EXPECT_EQ(::getpgid(child), child);
    }
    // Letting go of one leaves the other serving.
    first.reset();
    EXPECT_TRUE(provider_->WaitForExit(children[0], std::chrono::seconds(5)));
    EXPECT_EQ(provider_->RunningChildren(), std::vector<pid_t>{children[1]});
    second.reset();
    EXPECT_TRUE(provider_->WaitForExit(children[1], std::chrono::seconds(5)));
}

TEST_F(LocalServerTest, LockedServerOutlivesItsObjects) {
    ASSERT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer"}), 0);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, factory.PutVoid()),
              S_OK);
    const std::vector<pid_t> children = provider_->RunningChildren();
    ASSERT_EQ(children.size(), 1u);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
    object.Reset();
    EXPECT_FALSE(provider_->WaitForExit(children[0], std::chrono::milliseconds(300)));
    // A new object from the same, still running, server.
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid()), S_OK);
    object.Reset();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_TRUE(provider_->WaitForExit(children[0], std::chrono::seconds(5)));
    factory.Reset();
    Apartment::Ui().Drain();
}

TEST_F(LocalServerTest, ProgramThatCannotStartIsAnExecFailure) {
    RegisterCommand("/nonexistent/dir/opcsim");
    auto server = std::make_unique<COPCServer>(&host);
    server->progId = kSimulatorProgId;
    EXPECT_FALSE(server->Connect());
    ASSERT_TRUE(ui.LastMessage());
    EXPECT_EQ(ui.LastMessage()->text, "CoGetClassObject- no Local server for (80080005)\n");

    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(factory, nullptr);

    // A quote left open is not guessed at.
    RegisterCommand("\"" + std::string(OPCSIM_PATH));
    EXPECT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_TRUE(provider_->RunningChildren().empty());
}

TEST_F(LocalServerTest, ProgramThatStartsButServesNothingIsAnExecFailureAndIsReaped) {
    // opcsim refuses an option it does not know and ends at once, serving nothing.
    RegisterCommand(std::string(OPCSIM_PATH) + " --not-a-server");
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_LOCAL_SERVER, nullptr,
                               IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(factory, nullptr);
    const std::vector<pid_t> children = provider_->RunningChildren();
    for (const pid_t pid : children) {
        EXPECT_TRUE(provider_->WaitForExit(pid, std::chrono::seconds(5)));
    }
    EXPECT_TRUE(provider_->RunningChildren().empty());
}

TEST(SplitCommandLine, QuotesGroupBlanksAndNothingElseIsInterpreted) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("/opt/sim/opcsim"), Args{"/opt/sim/opcsim"});
    EXPECT_EQ(SplitCommandLine("  \"/opt/my sim/opcsim\"\t-x  y "),
              (Args{"/opt/my sim/opcsim", "-x", "y"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b c"), (Args{"a\"b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"\" x"), (Args{"", "x"}));
    EXPECT_EQ(SplitCommandLine("prog $(rm -rf /) ; `x` | y"),
              (Args{"prog", "$(rm", "-rf", "/)", ";", "`x`", "|", "y"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("\"unterminated"), std::nullopt);
}

}  // namespace
