// The node agent as another machine: a registry directory of its own with opcsim registered
// there, the real opcnoded program on a loopback port, and the runtime of this process reaching
// it by node name.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "com/activation.h"
#include "com/apartment.h"
#include "com/registry.h"
#include "com/unicode.h"
#include "node/node_processes.h"
#include "opc/runtime_fixture.h"
#include "opcda/ids.h"
#include "opcda/server.h"
#include "rpc/node_client.h"
#include "rpc/providers.h"
#include "rpc/transport.h"

namespace {

using Clock = std::chrono::steady_clock;
using node_test::ChildProcess;
using node_test::ChildrenOf;
using node_test::WaitForNoChildren;

std::chrono::milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// A loopback port nothing listens on (bound once, then let go).
std::uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A raw TCP connection to a loopback port.
int Dial(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class NodeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-node-registry-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        nodeRegistry_ = pattern;
        ChildProcess registration(OPCSIM_PATH, {"-RegServer"}, NodeEnvironment());
        ASSERT_EQ(registration.Wait(std::chrono::seconds(10)), 0);
        previousRegistry_ =
            SetRemoteRegistryProvider(std::make_shared<tgv::rpc::NodeRegistryProvider>(nodes_));
        previousActivation_ =
            SetRemoteActivationProvider(std::make_shared<tgv::rpc::NodeActivationProvider>(nodes_));
    }

    void TearDown() override {
        nodes_->CloseAll();
        Apartment::Ui().Drain();
        SetRemoteRegistryProvider(previousRegistry_);
        SetRemoteActivationProvider(previousActivation_);
        agent_.reset();
        std::error_code ec;
        std::filesystem::remove_all(nodeRegistry_, ec);
    }

    std::vector<std::string> NodeEnvironment() const {
        return {"TAGVISTA_REGISTRY=" + nodeRegistry_.string()};
    }

    // Starts the agent on a free loopback port; the node's name for this process.
    std::string StartAgent(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"--listen", "127.0.0.1:0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        agent_ = std::make_unique<ChildProcess>(OPCNODED_PATH, arguments, NodeEnvironment());
        const std::optional<std::string> line = agent_->ReadLine(std::chrono::seconds(10));
        const std::string prefix = "listening on ";
        if (!line || line->rfind(prefix, 0) != 0) {
            ADD_FAILURE() << "the agent did not say where it listens";
            return {};
        }
        node_ = line->substr(prefix.size());
        port_ = static_cast<std::uint16_t>(std::stoi(node_.substr(node_.rfind(':') + 1)));
        return node_;
    }

    std::unique_ptr<COPCServer> RemoteServer(const std::string& progId) {
        auto server = std::make_unique<COPCServer>(&host);
        server->progId = progId;
        server->nodeName = node_;
        server->remote = 1;
        return server;
    }

    bool WaitForUpdates(std::size_t count, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (host.updates.size() < count && Clock::now() < deadline) {
            Apartment::Ui().WaitAndDrain(std::chrono::milliseconds(50));
        }
        return host.updates.size() >= count;
    }

    HRESULT CreateRemote(REFCLSID clsid, MULTI_QI* results, DWORD count) {
        std::u16string name = Utf8ToUtf16(node_);
        COSERVERINFO info{0, name.data(), nullptr, 0};
        return CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, count, results);
    }

    ScopedRegistryDirectory registry;  // this machine's: opcsim is not registered in it
    ScriptedUiServices ui;
    ScopedUiServices installed{ui};
    RecordingHost host;
    std::shared_ptr<tgv::rpc::NodeConnections> nodes_ =
        std::make_shared<tgv::rpc::NodeConnections>(std::chrono::seconds(2));
    std::filesystem::path nodeRegistry_;
    std::unique_ptr<ChildProcess> agent_;
    std::string node_;
    std::uint16_t port_ = 0;

  private:
    std::shared_ptr<IRemoteRegistryProvider> previousRegistry_;
    std::shared_ptr<IRemoteActivationProvider> previousActivation_;
};

TEST_F(NodeTest, ServerKnownOnlyOnTheNodeConnectsAndItsDataFlows) {
    StartAgent();
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(Utf8ToUtf16(kSimulatorProgId).c_str(), &clsid), CO_E_CLASSSTRING);

    auto server = RemoteServer(kSimulatorProgId);
    ASSERT_TRUE(server->Connect());
    EXPECT_EQ(server->connected, 1);
    const std::vector<pid_t> started = ChildrenOf(agent_->Pid());
    EXPECT_EQ(started.size(), 1u);

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
    // Callbacks cross two connections (server to agent, agent to client) and keep coming.
    ASSERT_TRUE(WaitForUpdates(3, std::chrono::seconds(5)));
    EXPECT_EQ(host.updates.back().item, ramp);
    EXPECT_FALSE(std::isnan(host.updates.back().number));
    EXPECT_EQ(ui.MessageCount(), 0u);

    // Letting go of the server object ends the process the agent started for it.
    server.reset();
    Apartment::Ui().Drain();
    EXPECT_TRUE(WaitForNoChildren(agent_->Pid(), std::chrono::seconds(5)));
}

TEST_F(NodeTest, ClientConnectionClosedReleasesEverythingItHeld) {
    StartAgent();
    MULTI_QI results[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCServer, nullptr, S_OK}};
    ASSERT_EQ(CreateRemote(CLSID_TagvistaSimulator, results, 2), S_OK);
    const ComPtr<IUnknown> object = ComPtr<IUnknown>::Attach(results[0].pItf);
    const ComPtr<IOPCServer> opc =
        ComPtr<IOPCServer>::Attach(static_cast<IOPCServer*>(results[1].pItf));
    ASSERT_EQ(results[1].hr, S_OK);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(opc->GetStatus(&status), S_OK);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    ASSERT_EQ(ChildrenOf(agent_->Pid()).size(), 1u);

    // The client goes away while it still holds the objects: the agent lets go for it.
    nodes_->CloseAll();
    EXPECT_TRUE(WaitForNoChildren(agent_->Pid(), std::chrono::seconds(5)));
    status = nullptr;
    EXPECT_EQ(opc->GetStatus(&status), RPC_E_DISCONNECTED);
    EXPECT_EQ(status, nullptr);

    // The next activation opens a new connection.
    MULTI_QI again{&IID_IOPCServer, nullptr, S_OK};
    ASSERT_EQ(CreateRemote(CLSID_TagvistaSimulator, &again, 1), S_OK);
    const ComPtr<IUnknown> second = ComPtr<IUnknown>::Attach(again.pItf);
    EXPECT_TRUE(second);
}

TEST_F(NodeTest, ClassObjectOfTheNodeCreatesObjectsAndMissingInterfacesAreReported) {
    StartAgent();
    std::u16string name = Utf8ToUtf16(node_);
    COSERVERINFO info{0, name.data(), nullptr, 0};
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_REMOTE_SERVER, &info,
                               IID_IClassFactory, factory.PutVoid()),
              S_OK);
    ComPtr<IOPCServer> opc;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, opc.PutVoid()), S_OK);
    ASSERT_TRUE(opc);

    // An interface the object lacks fails alone; the others are still given.
    const IID missing{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    MULTI_QI results[2] = {{&missing, nullptr, S_OK}, {&IID_IOPCServer, nullptr, S_OK}};
    ASSERT_EQ(CreateRemote(CLSID_TagvistaSimulator, results, 2), CO_S_NOTALLINTERFACES);
    EXPECT_TRUE(FAILED(results[0].hr));
    EXPECT_EQ(results[0].pItf, nullptr);
    EXPECT_EQ(results[1].hr, S_OK);
    const ComPtr<IUnknown> found = ComPtr<IUnknown>::Attach(results[1].pItf);
    EXPECT_TRUE(found);
}

TEST_F(NodeTest, ServerLeftIdleByAVanishedClientIsEndedByTheAgent) {
    StartAgent();
    std::u16string name = Utf8ToUtf16(node_);
    COSERVERINFO info{0, name.data(), nullptr, 0};
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_TagvistaSimulator, CLSCTX_REMOTE_SERVER, &info,
                               IID_IClassFactory, factory.PutVoid()),
              S_OK);
    ASSERT_EQ(ChildrenOf(agent_->Pid()).size(), 1u);
    // A server that never made an object waits for its client's connection to end; the
    // agent's connection to it outlives the client's, so the agent ends it.
    nodes_->CloseAll();
    EXPECT_TRUE(WaitForNoChildren(agent_->Pid(), std::chrono::seconds(15)));
}

TEST_F(NodeTest, NodeRegistryListsItsServersAndAnswersOnlyUnderClasses) {
    StartAgent();
    HKEY hive = nullptr;
    ASSERT_EQ(RegConnectRegistryA(node_.c_str(), HKEY_LOCAL_MACHINE, &hive), ERROR_SUCCESS);

    // The server list of the node: the classes of its registry in the OPC DA 2.0 category.
    HKEY classes = nullptr;
    ASSERT_EQ(RegOpenKeyExA(hive, "SOFTWARE\\Classes\\CLSID", 0, KEY_READ, &classes),
              ERROR_SUCCESS);
    const std::string category = "\\Implemented Categories\\" + GuidToString(CATID_OPCDAServer20);
    std::vector<std::string> servers;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof name;
        const LSTATUS status =
            RegEnumKeyExA(classes, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        HKEY implemented = nullptr;
        if (RegOpenKeyExA(classes, (std::string(name) + category).c_str(), 0, KEY_READ,
                          &implemented) == ERROR_SUCCESS) {
            RegCloseKey(implemented);
            if (auto progId = RegReadString(classes, std::string(name) + "\\ProgID", "")) {
                servers.push_back(*progId);
            }
        }
    }
    RegCloseKey(classes);
    EXPECT_EQ(servers, std::vector<std::string>{kSimulatorProgId});

    // The class id as a remote connect reads it, in a buffer of 100 bytes.
    HKEY progKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(
                  hive, (std::string("software\\classes\\") + kSimulatorProgId + "\\Clsid").c_str(),
                  0, KEY_READ, &progKey),
              ERROR_SUCCESS);
    char text[100] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    ASSERT_EQ(
        RegQueryValueExA(progKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(text), GuidToString(CLSID_TagvistaSimulator));
    RegCloseKey(progKey);

    // Nothing outside SOFTWARE\Classes is answered, whether it exists or not.
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hive, "SOFTWARE", 0, KEY_READ, &other), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(hive, "SYSTEM\\CurrentControlSet", 0, KEY_READ, &other),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(hive, "SOFTWARE\\ClassesX", 0, KEY_READ, &other), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(hive, "SOFTWARE\\Classes\\NoSuch.Server", 0, KEY_READ, &other),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other, nullptr);
    RegCloseKey(hive);
}

TEST_F(NodeTest, OnlyClassesRegisteredWithALocalServerAreStarted) {
    // A class the node knows, but only as an in-process one: nothing to start.
    const CLSID inproc{0x0BADC0DE, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::vector<RegFileKey> keys(1);
    keys[0].root = RegRoot::ClassesRoot;
    keys[0].subKey = "CLSID\\" + GuidToString(inproc) + "\\InprocServer32";
    keys[0].values = {RegFileValue::String("", "/bin/true")};
    ASSERT_EQ(RegistryWriteFile(nodeRegistry_ / "inproc.reg", keys), ERROR_SUCCESS);
    StartAgent();

    const CLSID unknown{0xDEADBEEF, 0x1234, 0x5678, {8, 7, 6, 5, 4, 3, 2, 1}};
    for (const CLSID& clsid : {unknown, inproc}) {
        MULTI_QI result{&IID_IUnknown, nullptr, S_OK};
        EXPECT_EQ(CreateRemote(clsid, &result, 1), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(result.hr, REGDB_E_CLASSNOTREG);
        EXPECT_EQ(result.pItf, nullptr);
    }
    EXPECT_TRUE(ChildrenOf(agent_->Pid()).empty());

    // Through the runtime: a ProgID the node does not know fails without a message.
    auto server = RemoteServer("No.Such.Server");
    EXPECT_FALSE(server->Connect());
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(NodeTest, TransportProvidersOfTheProgramReachNodes) {
    StartAgent();
    // What a program installs at start-up replaces the providers of this fixture.
    tgv::rpc::InstallTransportProviders();
    HKEY hive = nullptr;
    ASSERT_EQ(RegConnectRegistryA(node_.c_str(), HKEY_LOCAL_MACHINE, &hive), ERROR_SUCCESS);
    RegCloseKey(hive);
    auto server = RemoteServer(kSimulatorProgId);
    EXPECT_TRUE(server->Connect());
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(NodeTest, UnreachableNodeFailsQuicklyWithoutAMessage) {
    node_ = "127.0.0.1:" + std::to_string(FreePort());
    const Clock::time_point start = Clock::now();
    auto server = RemoteServer(kSimulatorProgId);
    EXPECT_FALSE(server->Connect());
    EXPECT_EQ(server->connected, 0);
    const auto elapsed = Since(start);
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_EQ(ui.MessageCount(), 0u);
    std::printf("[ figures  ] connect to a port nobody listens on failed after %lld ms\n",
                static_cast<long long>(elapsed.count()));

    HKEY hive = nullptr;
    EXPECT_EQ(RegConnectRegistryA(node_.c_str(), HKEY_LOCAL_MACHINE, &hive), ERROR_BAD_NETPATH);
    MULTI_QI result{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CreateRemote(CLSID_TagvistaSimulator, &result, 1), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(result.hr, RPC_S_SERVER_UNAVAILABLE);
    // A malformed node name is as unreachable.
    node_ = "127.0.0.1:99999";
    EXPECT_EQ(CreateRemote(CLSID_TagvistaSimulator, &result, 1), RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(NodeTest, PeerThatAcceptsButNeverAnswersIsUnreachableAfterTheConnectTime) {
    // A listening socket nobody serves: the connection is made, no agent ever answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    node_ = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const Clock::time_point start = Clock::now();
    HKEY hive = nullptr;
    EXPECT_EQ(RegConnectRegistryA(node_.c_str(), HKEY_LOCAL_MACHINE, &hive), ERROR_BAD_NETPATH);
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    ::close(listener);
}

TEST_F(NodeTest, AgentStoppedMidSessionTurnsCallsIntoFailures) {
    StartAgent();
    auto server = RemoteServer(kSimulatorProgId);
    ASSERT_TRUE(server->Connect());
    ComPtr<IOPCServer> opc;
    ASSERT_EQ(server->ServerObject()->QueryInterface(IID_IOPCServer, opc.PutVoid()), S_OK);
    HKEY hive = nullptr;
    ASSERT_EQ(RegConnectRegistryA(node_.c_str(), HKEY_LOCAL_MACHINE, &hive), ERROR_SUCCESS);

    const Clock::time_point killed = Clock::now();
    agent_->Signal(SIGKILL);
    ASSERT_EQ(agent_->Wait(std::chrono::seconds(5)), -1);  // ended by the signal
    const Clock::time_point start = Clock::now();
    OPCSERVERSTATUS* status = nullptr;
    HRESULT hr = S_OK;
    // The loss may take a moment to be seen; each call fails, none hangs.
    while (SUCCEEDED(hr) && Since(start) < std::chrono::seconds(5)) {
        status = nullptr;
        hr = opc->GetStatus(&status);
        if (SUCCEEDED(hr)) {
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        }
    }
    const auto elapsed = Since(start);
    EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == RPC_S_SERVER_UNAVAILABLE) << std::hex << hr;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    std::printf(
        "[ figures  ] calls failed %lld ms after the agent had ended, %lld ms after the "
        "signal\n",
        static_cast<long long>(elapsed.count()), static_cast<long long>(Since(killed).count()));

    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(hive, "SOFTWARE\\Classes\\CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(hive);
    // Tearing the runtime objects down after the loss is safe and says nothing.
    server.reset();
    Apartment::Ui().Drain();
    EXPECT_EQ(ui.MessageCount(), 0u);
}

TEST_F(NodeTest, AgentRefusesOversizedMessagesAndClientsBeyondItsLimit) {
    StartAgent({"--max-clients", "2"});
    // A message announcing 16 MiB: the agent hangs up instead of making room for it.
    const int raw = Dial(port_);
    ASSERT_GE(raw, 0);
    const std::uint32_t header[2] = {0, 2u * 1024 * 1024};
    ASSERT_EQ(::write(raw, header, sizeof header), static_cast<ssize_t>(sizeof header));
    pollfd p{raw, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char byte = 0;
    EXPECT_LE(::read(raw, &byte, 1), 0);
    ::close(raw);

    // Two clients are served; a third is turned away, and served once one has gone.
    tgv::rpc::NodeConnections first(std::chrono::seconds(2));
    tgv::rpc::NodeConnections second(std::chrono::seconds(2));
    tgv::rpc::NodeConnections third(std::chrono::seconds(2));
    std::shared_ptr<tgv::rpc::NodeChannel> channel;
    ASSERT_EQ(first.Get(node_, &channel), S_OK);
    ASSERT_EQ(second.Get(node_, &channel), S_OK);
    EXPECT_EQ(third.Get(node_, &channel), RPC_S_SERVER_UNAVAILABLE);
    first.CloseAll();
    channel.reset();
    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < 50 && FAILED(hr); ++attempt) {
        hr = third.Get(node_, &channel);
    }
    EXPECT_EQ(hr, S_OK);
    channel.reset();
    second.CloseAll();
    third.CloseAll();
}

TEST_F(NodeTest, AgentEndsCleanlyOnTerminationAndEndsItsServers) {
    StartAgent();
    auto server = RemoteServer(kSimulatorProgId);
    ASSERT_TRUE(server->Connect());
    const std::vector<pid_t> started = ChildrenOf(agent_->Pid());
    ASSERT_EQ(started.size(), 1u);
    agent_->Signal(SIGTERM);
    EXPECT_EQ(agent_->ReadLine(std::chrono::seconds(10)), std::optional<std::string>("stopped"));
    EXPECT_EQ(agent_->Wait(std::chrono::seconds(5)), 0);
    // The server it started is gone with it (no longer running, not even as an orphan).
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (::kill(started[0], 0) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(::kill(started[0], 0), 0);
}

TEST(NodeAgentProgram, CommandLineIsCheckedBeforeAnythingListens) {
    const auto exitCode = [](std::vector<std::string> arguments) {
        ChildProcess program(OPCNODED_PATH, arguments, {});
        return program.Wait(std::chrono::seconds(10));
    };
    EXPECT_EQ(exitCode({"--help"}), 0);
    EXPECT_EQ(exitCode({"--bogus"}), 2);
    EXPECT_EQ(exitCode({"--listen"}), 2);
    EXPECT_EQ(exitCode({"127.0.0.1"}), 2);
    EXPECT_EQ(exitCode({"127.0.0.1:70000"}), 2);
    EXPECT_EQ(exitCode({"127.0.0.1:0", "127.0.0.1:0"}), 2);
    EXPECT_EQ(exitCode({"--max-clients", "0"}), 2);
}

}  // namespace
