#include "rpc/providers.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "com/activation.h"
#include "com/registry.h"
#include "rpc/local_server_provider.h"
#include "rpc/node_client.h"
#include "rpc/runtime.h"

namespace tgv::rpc {
namespace {

std::shared_ptr<NodeConnections>& Nodes() {
    static std::shared_ptr<NodeConnections> nodes;
    return nodes;
}

// At exit, before the RPC thread stops: the node connections close while it still runs.
void CloseNodeConnections() {
    SetRemoteRegistryProvider(nullptr);
    SetRemoteActivationProvider(nullptr);
    if (const std::shared_ptr<NodeConnections>& nodes = Nodes()) {
        nodes->CloseAll();
    }
}

}  // namespace

void InstallTransportProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const std::shared_ptr<LocalServerProcessProvider> local =
            InstallLocalServerProvider();
        // The runtime is made first, so that the exit handler registered after it runs before
        // it is destroyed.
        RpcRuntime::Instance();
        // The registry and the activation of a node share its one connection.
        Nodes() = std::make_shared<NodeConnections>();
        SetRemoteRegistryProvider(std::make_shared<NodeRegistryProvider>(Nodes()));
        SetRemoteActivationProvider(std::make_shared<NodeActivationProvider>(Nodes()));
        std::atexit(CloseNodeConnections);
    });
}

}  // namespace tgv::rpc
