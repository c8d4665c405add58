// opcsim's test-control channel: what it accepts, what it refuses, and that a refusal leaves
// the channel and the server working.

#include <gtest/gtest.h>

#include <string>

#include "com/apartment.h"
#include "com/class_factory.h"
#include "conformance_process/opcsim_process.h"
#include "opcda/ids.h"
#include "opcda/server.h"
#include "rpc/transport.h"
#include "transport/process_helpers.h"

namespace {

using opcsim_process::ControlClient;

// An opcsim process with both sockets connected to this test.
struct Served {
    explicit Served(const std::vector<std::string>& arguments) {
        int serve[2] = {-1, -1};
        int control[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, serve) != 0 ||
            ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
            return;
        }
        pid = opcsim_process::Spawn(serve[1], control[1], arguments);
        opcsim_process::CloseAll({serve[1], control[1]});
        channel = std::make_unique<ControlClient>(control[0]);
        IClassFactory* raw = nullptr;
        if (pid > 0 && SUCCEEDED(ConnectClassFactory(serve[0], &raw, &link))) {
            factory = ComPtr<IClassFactory>::Attach(raw);
        }
    }
    // The exit status once both connections are closed.
    std::optional<int> End() {
        factory.Reset();
        if (link) {
            link->Close();
        }
        link.reset();
        channel.reset();
        Apartment::Ui().Drain();
        return pid > 0 ? opcsim_process::WaitForExit(pid, std::chrono::seconds(10)) : std::nullopt;
    }

    pid_t pid = -1;
    std::unique_ptr<ControlClient> channel;
    std::shared_ptr<RpcLink> link;
    ComPtr<IClassFactory> factory;
};

TEST(ControlChannel, BadLinesAreAnsweredWithErrorsAndChangeNothing) {
    Served served({});  // the clock in real time
    ASSERT_GT(served.pid, 0);
    ASSERT_TRUE(served.factory);
    ControlClient& channel = *served.channel;
    EXPECT_EQ(channel.Ask("live"), "ok 0");
    EXPECT_EQ(channel.Ask("advance 10").rfind("error ", 0), 0u);  // not a hand-driven clock
    EXPECT_EQ(channel.Ask("bogus"), "error unknown command");
    EXPECT_EQ(channel.Ask("live now"), "error unknown command");
    EXPECT_EQ(channel.Ask(""), "error unknown command");
    EXPECT_EQ(channel.Ask(std::string(100000, 'x')).rfind("error line longer", 0), 0u);
    for (const char* bad :
         {"faults --load-items 5", "faults --fail", "faults --fail AddGroup", "faults \"--dead",
          "faults --delay-ms 1 AddGroup=E_FAIL", "advance -1", "advance 99999999999"}) {
        EXPECT_EQ(channel.Ask(bad).rfind("error ", 0), 0u) << bad;
    }

    // The channel still works, and the faults it sets reach the server's next call.
    EXPECT_EQ(channel.Ask("faults --fail \"IOPCServer::AddGroup=E_OUTOFMEMORY\""), "ok");
    ComPtr<IOPCServer> server;
    ASSERT_EQ(served.factory->CreateInstance(nullptr, IID_IOPCServer, server.PutVoid()), S_OK);
    EXPECT_EQ(channel.Ask("live"), "ok 1");
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    EXPECT_EQ(server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, group.Put()),
              E_OUTOFMEMORY);
    EXPECT_EQ(channel.Ask("faults"), "ok");
    EXPECT_EQ(server->AddGroup(u"G", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &revised,
                               IID_IUnknown, group.Put()),
              S_OK);
    group.Reset();
    server.Reset();
    served.link->Sync();
    // With a control channel, releasing every object does not end the process.
    EXPECT_EQ(channel.Ask("live"), "ok 0");
    const std::optional<int> status = served.End();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
}

TEST(ControlChannel, TestOptionsMakeSenseOnlyTogether) {
    using transport_test::RunProgram;
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--manual-clock"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--control-fd", "3"}), 2);  // same as --fd
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-RegServer", "--control-fd", "4"}), 2);
    EXPECT_EQ(RunProgram(OPCSIM_PATH, {"-Embedding", "--control-fd", "x"}), 2);
}

}  // namespace
