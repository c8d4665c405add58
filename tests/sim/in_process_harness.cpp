// The harness over a Simulator living in this process: its clock moves only when the tests
// advance it, and its callbacks are made on the calling thread while it advances.

#include <memory>

#include "server_harness.h"
#include "sim/simulator.h"

namespace conformance {
namespace {

class InProcessHarness final : public ServerHarness {
  public:
    ComPtr<IUnknown> CreateServer() override { return simulator_.CreateServer(); }

    void Advance(std::chrono::milliseconds delta) override { simulator_.AdvanceTime(delta); }

    void SetFaults(const SimFaults& faults) override { simulator_.Faults() = faults; }

    bool ExactClock() const override { return true; }

    std::optional<int> LiveServerCount() const override { return simulator_.LiveServerCount(); }

  private:
    Simulator simulator_;
};

}  // namespace

std::unique_ptr<ServerHarness> MakeInProcessHarness() {
    return std::make_unique<InProcessHarness>();
}

}  // namespace conformance
