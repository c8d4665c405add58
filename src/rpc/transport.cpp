#include "rpc/transport.h"

#include <unistd.h>

#include "rpc/connection.h"
#include "rpc/marshal.h"

using tgv::rpc::Connection;
using tgv::rpc::OutgoingObject;
using tgv::rpc::RpcRuntime;

RpcLink::RpcLink(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

RpcLink::~RpcLink() {
    // The connection itself belongs to the RPC thread; only the last reference is let go there.
    std::shared_ptr<Connection>* held = &connection_;
    RpcRuntime::Instance().Run([held] { held->reset(); });
}

bool RpcLink::IsOpen() const {
    return connection_->IsOpen();
}

bool RpcLink::WaitClosed(std::chrono::milliseconds timeout) const {
    return connection_->WaitClosed(timeout);
}

void RpcLink::Close() {
    Connection* connection = connection_.get();
    RpcRuntime::Instance().Run([connection] { connection->Close(); });
}

HRESULT RpcLink::Sync() {
    Connection& connection = *connection_;
    return tgv::rpc::RunCall(connection, [&connection]() -> kj::Promise<HRESULT> {
        // Releases are sent a turn later than they are made; let them go first.
        return kj::evalLast([&connection]() -> kj::Promise<HRESULT> {
            if (!connection.IsOpen()) {
                return HRESULT{RPC_E_DISCONNECTED};
            }
            return connection.Bootstrap().syncRequest().send().then(
                [](auto&&) -> HRESULT { return S_OK; });
        });
    });
}

HRESULT ServeClassFactory(ComPtr<IClassFactory> factory, int fd, std::shared_ptr<RpcLink>* link) {
    if (!factory || fd < 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return E_INVALIDARG;
    }
    std::shared_ptr<Connection> connection;
    HRESULT hr = S_OK;
    OutgoingObject object = OutgoingObject::Copy(factory.Get(), IID_IClassFactory);
    const bool ran = RpcRuntime::Instance().Run([&] {
        try {
            // The bootstrap capability is the factory's stub, made on the connection that
            // serves it.
            auto paf = kj::newPromiseAndFulfiller<capnp::Capability::Client>();
            connection = tgv::rpc::OpenOnStream(Connection::Role::Server, fd,
                                                capnp::Capability::Client(kj::mv(paf.promise)));
            tgv::rpc::ExportedCap exported;
            hr = tgv::rpc::ExportCap(*connection, std::move(object), &exported);
            if (FAILED(hr)) {
                connection->Close();
                return;
            }
            KJ_IF_MAYBE (cap, exported.cap) {
                paf.fulfiller->fulfill(kj::mv(*cap));
            }
        } catch (const kj::Exception&) {
            hr = RPC_S_SERVER_UNAVAILABLE;
        }
    });
    if (!ran) {
        return RPC_E_DISCONNECTED;
    }
    if (SUCCEEDED(hr) && link != nullptr) {
        *link = std::make_shared<RpcLink>(connection);
    }
    if (connection) {
        RpcRuntime::Instance().Run([&connection] { connection.reset(); });
    }
    return hr;
}

HRESULT ConnectClassFactory(int fd, IClassFactory** factory, std::shared_ptr<RpcLink>* link) {
    if (factory == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return E_POINTER;
    }
    *factory = nullptr;
    if (fd < 0) {
        return E_INVALIDARG;
    }
    std::shared_ptr<Connection> connection;
    HRESULT hr = S_OK;
    IUnknown* proxy = nullptr;
    const bool ran = RpcRuntime::Instance().Run([&] {
        try {
            connection = tgv::rpc::OpenOnStream(Connection::Role::Client, fd, nullptr);
            // The factory's proxy is made from the bootstrap capability without a call: the
            // first call tells whether anyone serves at the other end.
            hr = tgv::rpc::ImportCap(*connection, connection->Bootstrap(), 0, false,
                                     IID_IClassFactory, &proxy);
        } catch (const kj::Exception&) {
            hr = RPC_S_SERVER_UNAVAILABLE;
        }
    });
    if (!ran) {
        return RPC_E_DISCONNECTED;
    }
    if (SUCCEEDED(hr)) {
        *factory = static_cast<IClassFactory*>(proxy);
        if (link != nullptr) {
            *link = std::make_shared<RpcLink>(connection);
        }
    }
    if (connection) {
        RpcRuntime::Instance().Run([&connection] { connection.reset(); });
    }
    return hr;
}

std::chrono::milliseconds RpcCallTimeout() {
    return RpcRuntime::Instance().CallTimeout();
}

void SetRpcCallTimeout(std::chrono::milliseconds timeout) {
    RpcRuntime::Instance().SetCallTimeout(timeout);
}
