#include "rpc/providers.h"

#include <memory>
#include <mutex>

#include "rpc/local_server_provider.h"

namespace tgv::rpc {

void InstallTransportProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const std::shared_ptr<LocalServerProcessProvider> local =
            InstallLocalServerProvider();
    });
}

}  // namespace tgv::rpc
