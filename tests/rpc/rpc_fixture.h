#pragma once
// A connection over a socket pair in this process: the simulator's class factory served on one
// end, its proxy on the other.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>

#include "com/apartment.h"
#include "com/class_factory.h"
#include "com/malloc.h"
#include "opcda/opcda.h"
#include "rpc/transport.h"
#include "sim/simulator.h"

namespace rpc_test {

class SimOverRpc : public ::testing::Test {
  protected:
    void SetUp() override {
        startBlocks_ = CoTaskMemLiveBlocks();
        int fds[2] = {-1, -1};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        ASSERT_EQ(ServeClassFactory(simulator_.ClassFactory(), fds[0], &serverLink_), S_OK);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(ConnectClassFactory(fds[1], &factory, &clientLink_), S_OK);
        factory_ = ComPtr<IClassFactory>::Attach(factory);
    }

    void TearDown() override {
        factory_.Reset();
        if (clientLink_ && clientLink_->IsOpen()) {
            clientLink_->Sync();
        }
        Apartment::Ui().Drain();
        clientLink_.reset();
        serverLink_.reset();
        Apartment::Ui().Drain();
        EXPECT_EQ(CoTaskMemLiveBlocks(), startBlocks_);
    }

    // A new server object through the proxy of the class factory.
    ComPtr<IUnknown> NewServer() {
        ComPtr<IUnknown> server;
        EXPECT_EQ(factory_->CreateInstance(nullptr, IID_IUnknown, server.PutVoid()), S_OK);
        return server;
    }

    Simulator simulator_;
    ComPtr<IClassFactory> factory_;
    std::shared_ptr<RpcLink> serverLink_;
    std::shared_ptr<RpcLink> clientLink_;
    std::size_t startBlocks_ = 0;
};

}  // namespace rpc_test
