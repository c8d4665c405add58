#include "rpc/node_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>
#include <vector>

#include "rpc/connection.h"
#include "rpc/marshal.h"
#include "rpc/node.capnp.h"
#include "rpc/node_frame_limit.h"
#include "rpc/node_socket.h"
#include "rpc/wire_values.h"

namespace tgv::rpc {
namespace {

using Clock = std::chrono::steady_clock;

// What a client accepts from an agent in one message: server answers for thousands of items
// stay far below it.
constexpr FrameLimits kClientFrameLimits{64, 8 * 1024 * 1024};

// A registry call that could not be carried to the node.
constexpr LSTATUS kNodeGone = static_cast<LSTATUS>(RPC_S_SERVER_UNAVAILABLE_WIN32);

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::string Key(const NodeAddress& address) {
    std::string host = address.host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host + "#" + std::to_string(address.port);
}

// A connected TCP socket to the address, or -1 when none answered before the deadline.
int ConnectTcp(const NodeAddress& address, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found) != 0) {
        return -1;
    }
    int connected = -1;
    for (const addrinfo* a = found; a != nullptr && connected < 0; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        bool ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!ok && errno == EINPROGRESS) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            ok = left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) == 1 &&
                 ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        if (ok) {
            connected = fd;
        } else {
            ::close(fd);
        }
        if (Clock::now() >= deadline) {
            break;
        }
    }
    ::freeaddrinfo(found);
    return connected;
}

wire::NodeAgent::Client Agent(Connection& connection) {
    return connection.Bootstrap().castAs<wire::NodeAgent>();
}

// Runs a call on the node's agent; RPC_E_DISCONNECTED and RPC_E_TIMEOUT as for any call.
HRESULT CallAgent(NodeChannel& channel,
                  kj::Function<kj::Promise<HRESULT>(wire::NodeAgent::Client)> body) {
    Connection& connection = channel.Conn();
    return RunCall(connection, [&connection, &body]() -> kj::Promise<HRESULT> {
        return body(Agent(connection));
    });
}

// The registry of a node as its agent answers it.
class NodeHive final : public IRemoteRegistryHive {
  public:
    NodeHive(std::shared_ptr<NodeConnections> nodes, std::shared_ptr<NodeChannel> channel)
        : nodes_(std::move(nodes)), channel_(std::move(channel)) {}

    LSTATUS OpenKey(const std::string& keyPath) override {
        LSTATUS status = kNodeGone;
        const HRESULT hr = CallAgent(*channel_, [&](wire::NodeAgent::Client agent) {
            auto request = agent.openKeyRequest();
            request.setPath(keyPath);
            return request.send().then([&](auto&& r) -> HRESULT {
                status = r.getStatus();
                return S_OK;
            });
        });
        return Finish(hr, status);
    }

    LSTATUS QueryValue(const std::string& keyPath, const std::string& valueName, DWORD& type,
                       std::vector<BYTE>& data) override {
        LSTATUS status = kNodeGone;
        const HRESULT hr = CallAgent(*channel_, [&](wire::NodeAgent::Client agent) {
            auto request = agent.queryValueRequest();
            request.setPath(keyPath);
            request.setName(valueName);
            return request.send().then([&](auto&& r) -> HRESULT {
                status = r.getStatus();
                if (status == ERROR_SUCCESS) {
                    type = r.getType();
                    const auto bytes = r.getData();
                    data.assign(bytes.begin(), bytes.end());
                }
                return S_OK;
            });
        });
        return Finish(hr, status);
    }

    LSTATUS EnumKey(const std::string& keyPath, DWORD index, std::string& name) override {
        LSTATUS status = kNodeGone;
        const HRESULT hr = CallAgent(*channel_, [&](wire::NodeAgent::Client agent) {
            auto request = agent.enumKeyRequest();
            request.setPath(keyPath);
            request.setIndex(index);
            return request.send().then([&](auto&& r) -> HRESULT {
                status = r.getStatus();
                if (status == ERROR_SUCCESS) {
                    const auto text = r.getName();
                    name.assign(text.begin(), text.end());
                }
                return S_OK;
            });
        });
        return Finish(hr, status);
    }

  private:
    LSTATUS Finish(HRESULT hr, LSTATUS status) {
        if (FAILED(hr)) {
            nodes_->Drop(channel_);
            return kNodeGone;
        }
        return status;
    }

    std::shared_ptr<NodeConnections> nodes_;
    std::shared_ptr<NodeChannel> channel_;
};

}  // namespace

std::optional<NodeAddress> ParseNodeAddress(std::string_view node) {
    NodeAddress address;
    if (!node.empty() && node.front() == '[') {
        const std::size_t close = node.find(']');
        if (close == std::string_view::npos || close == 1) {
            return std::nullopt;
        }
        address.host = std::string(node.substr(1, close - 1));
        const std::string_view rest = node.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            const std::optional<std::uint16_t> port = ParsePort(rest.substr(1));
            if (!port) {
                return std::nullopt;
            }
            address.port = *port;
        }
        return address;
    }
    const std::size_t colon = node.find(':');
    if (colon != std::string_view::npos && node.find(':', colon + 1) == std::string_view::npos) {
        const std::optional<std::uint16_t> port = ParsePort(node.substr(colon + 1));
        if (!port) {
            return std::nullopt;
        }
        address.port = *port;
        node = node.substr(0, colon);
    }
    // A bare IPv6 address (more than one colon) names its host whole, at the agent's port.
    if (node.empty() || node.find_first_of("[] \t") != std::string_view::npos) {
        return std::nullopt;
    }
    address.host = std::string(node);
    return address;
}

NodeChannel::NodeChannel(std::shared_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

NodeChannel::~NodeChannel() {
    // A closed connection holds nothing of the RPC thread any more and may go here (also at
    // exit, when that thread may have ended); an open one is let go on the RPC thread.
    if (!connection_->IsOpen()) {
        return;
    }
    std::shared_ptr<Connection>* held = &connection_;
    RpcRuntime::Instance().Run([held] { held->reset(); });
}

bool NodeChannel::IsOpen() const {
    return connection_->IsOpen();
}

void NodeChannel::Close() {
    Connection* connection = connection_.get();
    RpcRuntime::Instance().Run([connection] { connection->Close(); });
}

NodeConnections::NodeConnections(std::chrono::milliseconds connectTimeout)
    : connectTimeout_(connectTimeout) {}

HRESULT NodeConnections::Get(const std::string& node, std::shared_ptr<NodeChannel>* channel) {
    channel->reset();
    const std::optional<NodeAddress> address = ParseNodeAddress(node);
    if (!address) {
        return E_INVALIDARG;
    }
    const std::string key = Key(*address);
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = channels_.find(key); found != channels_.end()) {
            if (found->second->IsOpen()) {
                *channel = found->second;
                return S_OK;
            }
            channels_.erase(found);
        }
    }
    // Opened without the lock, so that an unreachable node does not hold up the others.
    std::shared_ptr<NodeChannel> opened;
    const HRESULT hr = Open(*address, &opened);
    if (FAILED(hr)) {
        return hr;
    }
    const std::lock_guard lock(mutex_);
    auto& slot = channels_[key];
    if (slot && slot->IsOpen()) {
        // Another thread reached the node meanwhile: share its connection.
        opened->Close();
    } else {
        slot = std::move(opened);
    }
    *channel = slot;
    return S_OK;
}

void NodeConnections::Drop(const std::shared_ptr<NodeChannel>& channel) {
    {
        const std::lock_guard lock(mutex_);
        std::erase_if(channels_, [&](const auto& entry) { return entry.second == channel; });
    }
    channel->Close();
}

void NodeConnections::CloseAll() {
    std::map<std::string, std::shared_ptr<NodeChannel>> closing;
    {
        const std::lock_guard lock(mutex_);
        closing.swap(channels_);
    }
    for (const auto& [key, channel] : closing) {
        channel->Close();
    }
}

HRESULT NodeConnections::Open(const NodeAddress& address,
                              std::shared_ptr<NodeChannel>* channel) const {
    const Clock::time_point deadline = Clock::now() + connectTimeout_;
    const int fd = ConnectTcp(address, deadline);
    if (fd < 0) {
        return RPC_S_SERVER_UNAVAILABLE;
    }
    ConfigureNodeSocket(fd);
    std::shared_ptr<Connection> connection;
    RpcRuntime& runtime = RpcRuntime::Instance();
    const bool ran = runtime.Run([&] {
        try {
            auto stream = runtime.Io().lowLevelProvider->wrapSocketFd(
                fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
            connection = Connection::Open(Connection::Role::Client,
                                          LimitFrames(kj::mv(stream), kClientFrameLimits), nullptr);
        } catch (const kj::Exception&) {
            connection.reset();
        }
    });
    if (!ran || !connection) {
        if (!ran) {
            ::close(fd);
        }
        return RPC_S_SERVER_UNAVAILABLE;
    }
    auto opened = std::make_shared<NodeChannel>(std::move(connection));
    // Something listens there; whether it is an agent, one round trip within what is left of
    // the connect time tells.
    const auto left = std::max<std::int64_t>(
        1, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    const HRESULT hr = CallAgent(*opened, [left](wire::NodeAgent::Client agent) {
        auto answered = agent.pingRequest().send().then([](auto&&) -> HRESULT { return S_OK; });
        auto expiry = RpcRuntime::Instance()
                          .Timer()
                          .afterDelay(left * kj::MILLISECONDS)
                          .then([]() -> HRESULT { return RPC_S_SERVER_UNAVAILABLE; });
        return answered.exclusiveJoin(kj::mv(expiry));
    });
    if (FAILED(hr)) {
        opened->Close();
        return RPC_S_SERVER_UNAVAILABLE;
    }
    *channel = std::move(opened);
    return S_OK;
}

NodeRegistryProvider::NodeRegistryProvider(std::shared_ptr<NodeConnections> nodes)
    : nodes_(std::move(nodes)) {}

LSTATUS NodeRegistryProvider::Connect(const std::string& node,
                                      std::shared_ptr<IRemoteRegistryHive>& hive) {
    hive.reset();
    std::shared_ptr<NodeChannel> channel;
    if (FAILED(nodes_->Get(node, &channel))) {
        return ERROR_BAD_NETPATH;
    }
    hive = std::make_shared<NodeHive>(nodes_, std::move(channel));
    return ERROR_SUCCESS;
}

NodeActivationProvider::NodeActivationProvider(std::shared_ptr<NodeConnections> nodes)
    : nodes_(std::move(nodes)) {}

HRESULT NodeActivationProvider::CreateInstance(const std::string& node, REFCLSID clsid, DWORD count,
                                               MULTI_QI* results) {
    if (results == nullptr || count == 0) {
        return E_INVALIDARG;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (results[i].pIID == nullptr) {
            return E_INVALIDARG;
        }
        results[i].pItf = nullptr;
        results[i].hr = E_NOINTERFACE;
    }
    std::shared_ptr<NodeChannel> channel;
    if (const HRESULT reached = nodes_->Get(node, &channel); FAILED(reached)) {
        return reached == E_INVALIDARG ? RPC_S_SERVER_UNAVAILABLE : reached;
    }
    Connection& connection = channel->Conn();
    // Filled on the RPC thread; handed to the caller only when the whole answer came.
    std::vector<ComPtr<IUnknown>> objects(count);
    std::vector<HRESULT> found(count, E_NOINTERFACE);
    HRESULT hr = CallAgent(*channel, [&](wire::NodeAgent::Client agent) {
        auto request = agent.createInstanceRequest();
        PutGuid(request.initClsid(), clsid);
        auto iids = request.initIids(count);
        for (DWORD i = 0; i < count; ++i) {
            PutGuid(iids[i], *results[i].pIID);
        }
        return request.send().then([&](auto&& r) -> HRESULT {
            const HRESULT answer = r.getHr();
            if (FAILED(answer)) {
                return answer;
            }
            const auto entries = r.getResults();
            for (DWORD i = 0; i < count; ++i) {
                if (i >= entries.size()) {
                    found[i] = RPC_E_INVALID_DATA;
                    continue;
                }
                found[i] = entries[i].getHr();
                if (FAILED(found[i])) {
                    continue;
                }
                IUnknown* itf = nullptr;
                const HRESULT imported =
                    ImportObject(connection, entries[i].getObject(), *results[i].pIID, &itf);
                objects[i] = ComPtr<IUnknown>::Attach(itf);
                if (FAILED(imported) || itf == nullptr) {
                    found[i] = FAILED(imported) ? imported : E_NOINTERFACE;
                    objects[i].Reset();
                }
            }
            return answer;
        });
    });
    if (hr == RPC_E_DISCONNECTED || hr == RPC_E_TIMEOUT) {
        nodes_->Drop(channel);
    }
    if (FAILED(hr)) {
        return hr;
    }
    DWORD given = 0;
    for (DWORD i = 0; i < count; ++i) {
        results[i].hr = found[i];
        results[i].pItf = objects[i].Detach();
        given += SUCCEEDED(found[i]) ? 1 : 0;
    }
    return given == count ? S_OK : given > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

HRESULT NodeActivationProvider::GetClassObject(const std::string& node, REFCLSID clsid, REFIID riid,
                                               void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    std::shared_ptr<NodeChannel> channel;
    if (const HRESULT reached = nodes_->Get(node, &channel); FAILED(reached)) {
        return reached == E_INVALIDARG ? RPC_S_SERVER_UNAVAILABLE : reached;
    }
    Connection& connection = channel->Conn();
    ComPtr<IUnknown> object;
    const HRESULT hr = CallAgent(*channel, [&](wire::NodeAgent::Client agent) {
        auto request = agent.getClassObjectRequest();
        PutGuid(request.initClsid(), clsid);
        PutGuid(request.initIid(), riid);
        return request.send().then([&](auto&& r) -> HRESULT {
            const HRESULT answer = r.getHr();
            if (FAILED(answer)) {
                return answer;
            }
            IUnknown* itf = nullptr;
            const HRESULT imported = ImportObject(connection, r.getObject(), riid, &itf);
            object = ComPtr<IUnknown>::Attach(itf);
            if (FAILED(imported)) {
                return imported;
            }
            return itf == nullptr ? E_NOINTERFACE : answer;
        });
    });
    if (hr == RPC_E_DISCONNECTED || hr == RPC_E_TIMEOUT) {
        nodes_->Drop(channel);
    }
    if (FAILED(hr)) {
        return hr;
    }
    *ppv = object.Detach();
    return hr;
}

}  // namespace tgv::rpc
