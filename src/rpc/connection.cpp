#include "rpc/connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <utility>

#include "com/apartment.h"
#include "rpc/marshal.h"

namespace tgv::rpc {
namespace {

// Messages larger than this are refused by the reader; no message of these interfaces comes
// near it (ten thousand item values are well under a megabyte).
constexpr std::uint64_t kMaxMessageWords = 32 * 1024 * 1024;

class IgnoreErrors final : public kj::TaskSet::ErrorHandler {
  public:
    void taskFailed(kj::Exception&&) override {}
};

}  // namespace

Connection::Connection(Role role, kj::Own<kj::AsyncIoStream> stream,
                       kj::Maybe<capnp::Capability::Client> bootstrap)
    : role_(role), stream_(kj::mv(stream)) {
    capnp::ReaderOptions options;
    options.traversalLimitInWords = kMaxMessageWords;
    network_ = kj::heap<capnp::TwoPartyVatNetwork>(*stream_,
                                                   role == Role::Client
                                                       ? capnp::rpc::twoparty::Side::CLIENT
                                                       : capnp::rpc::twoparty::Side::SERVER,
                                                   options);
    KJ_IF_MAYBE (b, bootstrap) {
        rpc_ = kj::heap<capnp::RpcSystem<capnp::rpc::twoparty::VatId>>(
            capnp::makeRpcServer(*network_, kj::mv(*b)));
    } else {
        rpc_ = kj::heap<capnp::RpcSystem<capnp::rpc::twoparty::VatId>>(
            capnp::makeRpcClient(*network_));
    }
    errorHandler_ = kj::heap<IgnoreErrors>();
    tasks_ = kj::heap<kj::TaskSet>(*errorHandler_);
}

std::shared_ptr<Connection> Connection::Open(Role role, kj::Own<kj::AsyncIoStream> stream,
                                             kj::Maybe<capnp::Capability::Client> bootstrap) {
    std::shared_ptr<Connection> c(new Connection(role, kj::mv(stream), kj::mv(bootstrap)));
    // When the peer goes, the connection closes itself, one turn later so that the network is
    // not destroyed from inside its own callback.
    std::weak_ptr<Connection> weak = c;
    c->tasks_->add(c->network_->onDisconnect().then([weak]() {
        return kj::evalLater([weak]() {
            if (auto self = weak.lock()) {
                self->Close();
            }
        });
    }));
    RpcRuntime::Instance().Adopt(c);
    return c;
}

Connection::~Connection() {
    // The RPC objects were dropped by Close on the RPC thread; a connection never closed (the
    // runtime stopping) is closed by the runtime before it goes.
    calls_.Stop();
}

bool Connection::IsOpen() const {
    const std::lock_guard lock(stateMutex_);
    return open_;
}

bool Connection::WaitClosed(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(stateMutex_);
    return closedSignal_.wait_for(lock, timeout, [this] { return !open_; });
}

void Connection::MarkClosed() {
    {
        const std::lock_guard lock(stateMutex_);
        open_ = false;
    }
    closedSignal_.notify_all();
}

void Connection::Close() {
    if (!rpc_) {
        return;
    }
    MarkClosed();
    // Keep this object alive until the end even when the runtime held the last reference.
    const std::shared_ptr<Connection> self = shared_from_this();
    {
        const std::lock_guard lock(proxiesMutex_);
        for (auto& [identity, manager] : proxies_) {
            manager->DropCaps();
        }
    }
    bootstrap_ = nullptr;
    // The RPC objects go a turn later: Close may be running inside one of their callbacks
    // (the peer's disconnection), which must not destroy them under itself.
    struct Remains {
        kj::Own<kj::TaskSet> tasks;
        kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc;
        kj::Own<capnp::TwoPartyVatNetwork> network;
        kj::Own<kj::AsyncIoStream> stream;
        kj::Own<kj::TaskSet::ErrorHandler> errorHandler;
    };
    auto remains = kj::heap<Remains>(Remains{kj::mv(tasks_), kj::mv(rpc_), kj::mv(network_),
                                             kj::mv(stream_), kj::mv(errorHandler_)});
    kj::evalLater([self, remains = kj::mv(remains)]() mutable {
        // Members go in reverse order of their construction. The stubs release what they
        // held on the call thread, which stops once it has done that.
        remains->tasks = nullptr;
        remains->rpc = nullptr;
        remains->network = nullptr;
        remains->stream = nullptr;
        self->calls_.Stop();
    }).detach([](kj::Exception&&) {});
    RpcRuntime::Instance().Forget(this);
}

wire::ClassFactory::Client Connection::Bootstrap() {
    KJ_IF_MAYBE (b, bootstrap_) {
        return *b;
    }
    capnp::MallocMessageBuilder message;
    auto vatId = message.initRoot<capnp::rpc::twoparty::VatId>();
    vatId.setSide(capnp::rpc::twoparty::Side::SERVER);
    wire::ClassFactory::Client factory = rpc_->bootstrap(vatId).castAs<wire::ClassFactory>();
    bootstrap_ = factory;
    return factory;
}

void Connection::ReleaseLater(ComPtr<IUnknown> reference) {
    if (!reference) {
        return;
    }
    if (role_ == Role::Client) {
        // The client's sinks live on its user-interface thread. Callbacks already queued for
        // a sink hold references of their own, so it outlives them whenever this one goes.
        {
            const std::lock_guard lock(pendingReleases_->mutex);
            pendingReleases_->references.push_back(std::move(reference));
        }
        Apartment::Ui().Post([pending = pendingReleases_] { pending->Run(); });
        return;
    }
    auto holder = std::make_shared<ComPtr<IUnknown>>(std::move(reference));
    if (!calls_.Post([holder] { holder->Reset(); })) {
        // The call thread has stopped: the release cannot wait for it.
        holder->Reset();
    }
}

void Connection::PendingReleases::Run() {
    std::vector<ComPtr<IUnknown>> taken;
    {
        const std::lock_guard lock(mutex);
        taken.swap(references);
    }
    taken.clear();
}

void Connection::RunPendingReleases() {
    if (role_ == Role::Client) {
        pendingReleases_->Run();
    }
}

std::uint64_t Connection::AddExport(IUnknown* identity, REFIID iid, IUnknown* itf) {
    std::uint64_t id = 0;
    if (const auto found = exportIds_.find(identity); found != exportIds_.end()) {
        id = found->second;
    } else {
        id = nextExport_++;
        exportIds_.emplace(identity, id);
        exports_[id].identity = identity;
    }
    exports_[id].stubs.emplace_back(iid, itf);
    return id;
}

void Connection::RemoveExport(std::uint64_t id, REFIID iid, IUnknown* itf) {
    const auto found = exports_.find(id);
    if (found == exports_.end()) {
        return;
    }
    auto& stubs = found->second.stubs;
    for (auto it = stubs.begin(); it != stubs.end(); ++it) {
        if (it->first == iid && it->second == itf) {
            stubs.erase(it);
            break;
        }
    }
    if (stubs.empty()) {
        exportIds_.erase(found->second.identity);
        exports_.erase(found);
    }
}

HRESULT Connection::FindExport(std::uint64_t id, REFIID iid, IUnknown** out) {
    *out = nullptr;
    const auto found = exports_.find(id);
    if (found == exports_.end()) {
        return RPC_E_INVALID_DATA;
    }
    IUnknown* pointer = nullptr;
    if (iid == IID_IUnknown) {
        pointer = found->second.identity;
    } else {
        for (const auto& [stubIid, itf] : found->second.stubs) {
            if (stubIid == iid) {
                pointer = itf;
                break;
            }
        }
    }
    if (pointer == nullptr) {
        return E_NOINTERFACE;
    }
    pointer->AddRef();
    *out = pointer;
    return S_OK;
}

ComPtr<ProxyManager> Connection::ProxyOf(std::uint64_t identity) {
    const std::lock_guard lock(proxiesMutex_);
    if (const auto found = proxies_.find(identity); found != proxies_.end()) {
        if (found->second->TryAddRef()) {
            return ComPtr<ProxyManager>::Attach(found->second);
        }
    }
    ComPtr<ProxyManager> manager =
        ComPtr<ProxyManager>::Attach(new ProxyManager(shared_from_this(), identity));
    proxies_[identity] = manager.Get();
    return manager;
}

void Connection::ForgetProxy(std::uint64_t identity, const ProxyManager* manager) {
    const std::lock_guard lock(proxiesMutex_);
    const auto found = proxies_.find(identity);
    if (found != proxies_.end() && found->second == manager) {
        proxies_.erase(found);
    }
}

std::shared_ptr<Connection> OpenOnStream(Connection::Role role, int fd,
                                         kj::Maybe<capnp::Capability::Client> bootstrap) {
    // Every call waits for its answer, so a TCP connection must not hold small messages back;
    // other sockets refuse the option, which is fine.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    RpcRuntime& runtime = RpcRuntime::Instance();
    auto stream = runtime.Io().lowLevelProvider->wrapSocketFd(
        fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    return Connection::Open(role, kj::mv(stream), kj::mv(bootstrap));
}

}  // namespace tgv::rpc
