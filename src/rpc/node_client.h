#pragma once
// The client side of the node agent: the registry and the activation of another node, reached
// over TCP. A node is named "host" (the agent's port, 5135) or "host:port"; an IPv6 address is
// written in brackets when a port follows ("[::1]:5135").
//
// One connection per node is kept and shared by every hive and object of that node; a
// connection that has failed is dropped and the next request opens a new one. Reaching a node
// is bounded in time: a node that does not answer within the connect timeout is unreachable
// (ERROR_BAD_NETPATH for the registry, RPC_S_SERVER_UNAVAILABLE for activation).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "com/activation.h"
#include "com/hresult.h"
#include "com/registry.h"

namespace tgv::rpc {

class Connection;

inline constexpr std::uint16_t kNodeAgentPort = 5135;

struct NodeAddress {
    std::string host;
    std::uint16_t port = kNodeAgentPort;
};

// nullopt for an empty host, a port that is not a number from 1 to 65535, or unbalanced
// brackets.
std::optional<NodeAddress> ParseNodeAddress(std::string_view node);

// A connection to one node's agent. Its last reference may be let go on any thread.
class NodeChannel {
  public:
    explicit NodeChannel(std::shared_ptr<Connection> connection);
    ~NodeChannel();
    NodeChannel(const NodeChannel&) = delete;
    NodeChannel& operator=(const NodeChannel&) = delete;

    Connection& Conn() const { return *connection_; }
    bool IsOpen() const;
    void Close();

  private:
    std::shared_ptr<Connection> connection_;
};

// The open connections, one per node.
class NodeConnections {
  public:
    explicit NodeConnections(std::chrono::milliseconds connectTimeout = std::chrono::seconds(3));

    // The node's connection, opened (and checked with one round trip) when there is none.
    // RPC_S_SERVER_UNAVAILABLE when the node cannot be reached in time, E_INVALIDARG for a
    // malformed name.
    HRESULT Get(const std::string& node, std::shared_ptr<NodeChannel>* channel);
    // Drops the node's connection when it is that one (after a call on it failed).
    void Drop(const std::shared_ptr<NodeChannel>& channel);
    // Closes every node's connection: the objects reached through them fail from then on with
    // RPC_E_DISCONNECTED, and each agent lets go of what it held for this client.
    void CloseAll();

  private:
    HRESULT Open(const NodeAddress& address, std::shared_ptr<NodeChannel>* channel) const;

    const std::chrono::milliseconds connectTimeout_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<NodeChannel>> channels_;
};

class NodeRegistryProvider final : public IRemoteRegistryProvider {
  public:
    explicit NodeRegistryProvider(std::shared_ptr<NodeConnections> nodes);
    LSTATUS Connect(const std::string& node, std::shared_ptr<IRemoteRegistryHive>& hive) override;

  private:
    std::shared_ptr<NodeConnections> nodes_;
};

class NodeActivationProvider final : public IRemoteActivationProvider {
  public:
    explicit NodeActivationProvider(std::shared_ptr<NodeConnections> nodes);
    HRESULT CreateInstance(const std::string& node, REFCLSID clsid, DWORD count,
                           MULTI_QI* results) override;
    HRESULT GetClassObject(const std::string& node, REFCLSID clsid, REFIID riid,
                           void** ppv) override;

  private:
    std::shared_ptr<NodeConnections> nodes_;
};

}  // namespace tgv::rpc
