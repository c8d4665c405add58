// The conformance suite's harness over the transport: the simulator is served on one end of a
// socket pair, the tests speak to its proxies on the other. Its clock moves on the serving
// side; the callbacks that result are queued in the user-interface apartment and run when the
// harness drains it, as the application's event loop would.

#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <ostream>

#include "com/apartment.h"
#include "com/class_factory.h"
#include "rpc/transport.h"
#include "sim/server_harness.h"
#include "sim/simulator.h"

namespace conformance {
namespace {

class RpcHarness final : public ServerHarness {
  public:
    RpcHarness() {
        int fds[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            return;
        }
        if (FAILED(ServeClassFactory(simulator_.ClassFactory(), fds[0], &serverLink_))) {
            ::close(fds[1]);
            return;
        }
        IClassFactory* factory = nullptr;
        if (SUCCEEDED(ConnectClassFactory(fds[1], &factory, &clientLink_))) {
            factory_ = ComPtr<IClassFactory>::Attach(factory);
        }
    }

    ~RpcHarness() override {
        factory_.Reset();
        Settle();
        clientLink_.reset();
        serverLink_.reset();
        Apartment::Ui().Drain();
    }

    ComPtr<IUnknown> CreateServer() override {
        ComPtr<IUnknown> server;
        if (factory_) {
            factory_->CreateInstance(nullptr, IID_IUnknown, server.PutVoid());
        }
        return server;
    }

    // The clock moves in the steps at which groups can run, and the client's event loop runs
    // after each: every callback of a step has been answered, and so queued here, when the
    // clock call returns, and it runs before the next step as it would between updates in
    // real time. Requests the callbacks make are answered at the same simulated time.
    void Advance(std::chrono::milliseconds delta) override {
        constexpr std::chrono::milliseconds kStep(10);
        std::chrono::milliseconds left = delta;
        do {
            const std::chrono::milliseconds step = std::min(left, kStep);
            simulator_.AdvanceTime(step);
            left -= step;
            for (int round = 0; round < 100 && Apartment::Ui().Drain() > 0; ++round) {
                simulator_.AdvanceTime(std::chrono::milliseconds(0));
            }
        } while (left.count() > 0);
    }

    void SetFaults(const SimFaults& faults) override { simulator_.Faults() = faults; }

    bool ExactClock() const override { return true; }

    std::optional<int> LiveServerCount() const override {
        Settle();
        return simulator_.LiveServerCount();
    }

  private:
    // Lets every release sent so far reach the server, and every queued callback (and the
    // release of a sink that follows it) run here.
    void Settle() const {
        for (int round = 0; round < 2; ++round) {
            if (clientLink_ && clientLink_->IsOpen()) {
                clientLink_->Sync();
            }
            Apartment::Ui().Drain();
        }
    }

    mutable Simulator simulator_;
    std::shared_ptr<RpcLink> serverLink_;
    std::shared_ptr<RpcLink> clientLink_;
    ComPtr<IClassFactory> factory_;
};

}  // namespace

void PrintTo(const HarnessKind& kind, std::ostream* out) {
    *out << kind.name;
}

std::vector<HarnessKind> AllHarnesses() {
    return {HarnessKind{"OverRpc", [] { return std::make_unique<RpcHarness>(); }}};
}

}  // namespace conformance
