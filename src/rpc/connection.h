#pragma once
// One connection between this process and a peer over a connected stream socket: the Cap'n
// Proto RPC system on it, the objects this side exports to the peer (with their identities),
// the proxies of the peer's objects, and the thread that runs the peer's calls on local
// objects. Created, used and closed on the RPC thread; the members marked "any thread" may be
// called from elsewhere.

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "com/guid.h"
#include "com/unknown.h"
#include "rpc/opcda.capnp.h"
#include "rpc/runtime.h"

namespace tgv::rpc {

class ProxyManager;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // The client opened the connection and exports only its sinks; the server serves a class
    // factory on it.
    enum class Role { Client, Server };

    // RPC thread. Takes the stream over; bootstrap is what the peer gets when it asks for it
    // (the served class factory), none on the client.
    static std::shared_ptr<Connection> Open(Role role, kj::Own<kj::AsyncIoStream> stream,
                                            kj::Maybe<capnp::Capability::Client> bootstrap);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Role GetRole() const { return role_; }

    // Any thread.
    bool IsOpen() const;
    // Waits until the connection has ended; false when the timeout passed first.
    bool WaitClosed(std::chrono::milliseconds timeout) const;

    // RPC thread: ends the connection. Every capability of it is dropped, calls in progress
    // and later calls fail with RPC_E_DISCONNECTED, and the references held for the peer are
    // released.
    void Close();

    // RPC thread: the peer's bootstrap capability (the class factory it serves).
    wire::ClassFactory::Client Bootstrap();

    // Any thread: where the peer's calls on local objects run.
    CallThread& Calls() { return calls_; }
    // Any thread: releases a reference held for the peer where the object lives: on the
    // user-interface thread for the client's sinks, on the call thread for served objects.
    void ReleaseLater(ComPtr<IUnknown> reference);
    // Client end, on the user-interface thread: carries out the releases of the client's sinks
    // that the peer has sent so far. A call on a proxy does it when its answer comes, so that
    // a server that let go of a sink before answering has let go of it when the call returns,
    // as it would in process; the apartment does it otherwise.
    void RunPendingReleases();

    // RPC thread: the table of exported objects. An object keeps its number while at least one
    // stub of it lives; the peer names it by that number when it hands the object back.
    std::uint64_t AddExport(IUnknown* identity, REFIID iid, IUnknown* itf);
    void RemoveExport(std::uint64_t id, REFIID iid, IUnknown* itf);
    // The exported object with that number as iid, with a new reference.
    HRESULT FindExport(std::uint64_t id, REFIID iid, IUnknown** out);

    // RPC thread: the proxy of the peer's object with that identity, made when there is none.
    ComPtr<ProxyManager> ProxyOf(std::uint64_t identity);
    // Any thread: the manager goes away (its last reference is gone).
    void ForgetProxy(std::uint64_t identity, const ProxyManager* manager);

  private:
    Connection(Role role, kj::Own<kj::AsyncIoStream> stream,
               kj::Maybe<capnp::Capability::Client> bootstrap);
    void MarkClosed();

    const Role role_;
    kj::Own<kj::AsyncIoStream> stream_;
    kj::Own<capnp::TwoPartyVatNetwork> network_;
    kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc_;
    kj::Maybe<wire::ClassFactory::Client> bootstrap_;
    kj::Own<kj::TaskSet> tasks_;
    kj::Own<kj::TaskSet::ErrorHandler> errorHandler_;

    mutable std::mutex stateMutex_;
    mutable std::condition_variable closedSignal_;
    bool open_ = true;

    struct Export {
        IUnknown* identity = nullptr;
        // The interface pointer of every live stub, by its IID.
        std::vector<std::pair<IID, IUnknown*>> stubs;
    };
    std::map<std::uint64_t, Export> exports_;
    std::unordered_map<IUnknown*, std::uint64_t> exportIds_;
    std::uint64_t nextExport_ = 1;

    std::mutex proxiesMutex_;
    std::unordered_map<std::uint64_t, ProxyManager*> proxies_;

    // The client's sinks released by the peer, waiting for the user-interface thread.
    struct PendingReleases {
        std::mutex mutex;
        std::vector<ComPtr<IUnknown>> references;
        void Run();
    };
    std::shared_ptr<PendingReleases> pendingReleases_ = std::make_shared<PendingReleases>();

    CallThread calls_;
};

// RPC thread: opens a connection on a connected stream socket, which it takes over.
std::shared_ptr<Connection> OpenOnStream(Connection::Role role, int fd,
                                         kj::Maybe<capnp::Capability::Client> bootstrap);

}  // namespace tgv::rpc
