#pragma once
// Connecting a client to a served class factory over a connected stream socket (one end of a
// socket pair, or an accepted TCP socket).
//
// The client opens every connection; the serving side calls back only on the connection the
// client opened. Both ends may live in one process: each end is a connection of the process's
// RPC thread.
//
// Calls on proxies wait for their answer on the calling thread. When the peer goes away (its
// socket closes, its process dies) every call in progress and every later call on its objects
// fails with RPC_E_DISCONNECTED; a call without an answer within the call timeout fails with
// RPC_E_TIMEOUT and leaves the connection open, since a slow server may still answer the next
// call. Releasing proxies after a disconnect is safe.

#include <chrono>
#include <memory>

#include "com/class_factory.h"
#include "com/hresult.h"
#include "com/unknown.h"

namespace tgv::rpc {
class Connection;
}

// One end of a connection, for the code that made it.
class RpcLink {
  public:
    explicit RpcLink(std::shared_ptr<tgv::rpc::Connection> connection);
    RpcLink(const RpcLink&) = delete;
    RpcLink& operator=(const RpcLink&) = delete;
    ~RpcLink();

    bool IsOpen() const;
    // Waits until the connection has ended; false when the timeout passed first.
    bool WaitClosed(std::chrono::milliseconds timeout) const;
    // Ends the connection now, as if the peer had gone.
    void Close();
    // Client end: returns once every call and release sent before it has been carried out by
    // the serving side. RPC_E_DISCONNECTED when the connection is gone.
    HRESULT Sync();

  private:
    std::shared_ptr<tgv::rpc::Connection> connection_;
};

// Serves the factory to the peer on fd, which it takes over (closed when the connection
// ends). Calls of the peer on served objects run, one at a time, on a call thread of this
// connection. link, when given, receives this end.
HRESULT ServeClassFactory(ComPtr<IClassFactory> factory, int fd,
                          std::shared_ptr<RpcLink>* link = nullptr);

// Connects to the factory served on the other end of fd, which it takes over. *factory
// receives its proxy. Callbacks the server makes on the client's sinks are copied, answered
// S_OK at once and run on the user-interface thread through Apartment::Ui(), in arrival order.
HRESULT ConnectClassFactory(int fd, IClassFactory** factory,
                            std::shared_ptr<RpcLink>* link = nullptr);

// How long a call waits for its answer (30 s unless changed); for every connection.
std::chrono::milliseconds RpcCallTimeout();
void SetRpcCallTimeout(std::chrono::milliseconds timeout);
